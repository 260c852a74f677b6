#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <numbers>

#include "face/face_geometry.h"
#include "face/pose_fit.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
const float kNan = std::numeric_limits<float>::quiet_NaN();
const std::string kRealFile =
    std::string(BRIDGE_SHARED_DIR) + "/models/face/geometry_pipeline_metadata_landmarks.binarypb";

// The metadata file's wire format, written field by field.
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Bytes varint(std::uint64_t v) {
  return v < 0x80 ? Bytes{std::uint8_t(v)} : Bytes{std::uint8_t(v | 0x80)} + varint(v >> 7);
}
Bytes floats(const std::vector<float>& f) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(f.data());
  return Bytes(p, p + f.size() * 4);
}
Bytes field(std::uint64_t key, const Bytes& b) { return varint(key) + varint(b.size()) + b; }
Bytes mesh(const std::vector<float>& f) { return field(0x0A, field(0x1A, floats(f))); }
Bytes reference(std::uint64_t index, float weight) {
  return field(0x12, Bytes{0x08} + varint(index) + Bytes{0x15} + floats({weight}));
}

// A face-sized ellipsoid cap (14 units wide) with bumps: x, y, z and two
// unused floats per vertex.
std::vector<float> face_floats() {
  std::vector<float> f;
  for (int k = 0; k < 468; ++k) {
    const double polar = std::acos(1.0 - (k + 0.5) / 468.0), around = k * 2.39996;
    f.insert(f.end(), {static_cast<float>(7 * std::sin(polar) * std::cos(around)),
                       static_cast<float>(9 * std::sin(polar) * std::sin(around)),
                       static_cast<float>(5 * std::cos(polar) + (k % 50 ? -3 : -1)), 0.25f, 0.75f});
  }
  return f;
}
const std::vector<float> kFloats = face_floats();
Bytes references() {  // every third vertex from the last one down
  Bytes b;
  for (int k = 467; k >= 0; k -= 3) b = b + reference(std::uint64_t(k), 0.5f + (k % 7) / 7.0f);
  return b;
}
const Bytes kFile = mesh(kFloats) + references();

FaceGeometry scratch;

// Parses an exact-size heap copy, so the sanitizer build flags any read past
// the end. Returns the error, empty on success.
std::string parse(const Bytes& file, FaceGeometry& g = scratch) {
  const Bytes exact(file);
  std::string error;
  return g.parse(exact, "m", error) ? "" : error;
}
const std::string kRejected = "Invalid face geometry metadata: m.";

TEST(FaceGeometryParse, MeshLayoutsLoadAlike) {
  const std::vector<float>& f = kFloats;
  FaceGeometry want;
  ASSERT_EQ(parse(kFile, want), "");
  EXPECT_EQ(want.vertices().at(467), (std::array{f[2335], f[2336], f[2337]}));
  ASSERT_EQ(want.weights().size(), 156u);
  EXPECT_EQ(want.weights()[0].index, 467);
  EXPECT_EQ(want.weights()[0].weight, 0.5f + 5 / 7.0f);

  const Bytes split = mesh({f.begin(), f.begin() + 1003}) + mesh({f.begin() + 1003, f.end()});
  // References first, single floats, unknown fields of every wire type at
  // both levels, a ragged packed run adding 4 spare floats (2344 in all).
  Bytes body = {0x08, 0x00, 0x25, 9, 9, 9, 9, 0x22, 0x01, 0x1D};
  for (float v : f) body = body + Bytes{0x1D} + floats({v});
  body = body + field(0x1A, floats({1, 2, 3, 4}) + Bytes{0x11, 0x22, 0x33});
  const Bytes unknown = {0x18, 0x96, 0x01, 0x21, 1, 2, 3, 4, 5, 6, 7, 8,  // varint, fixed64,
                         0x2a, 0x01, 0x0A, 0x35, 0, 0, 0, 0};             // delimited, fixed32
  for (const Bytes& file : {split + references(), references() + field(0x0A, body) + unknown}) {
    ASSERT_EQ(parse(file), "");
    EXPECT_EQ(scratch.vertices(), want.vertices());
    EXPECT_EQ(scratch.weights().size(), 156u);
  }
  EXPECT_EQ(parse(mesh({f.begin(), f.end() - 1}) + references()), kRejected);  // 2339 floats
}

TEST(FaceGeometryParse, EveryReferenceIsValidated) {
  const std::pair<std::uint64_t, float> bad[] = {
      {468, 1}, {~std::uint64_t{0}, 1}, {std::uint64_t{1} << 31, 1}, {5, 0}, {5, -1}, {5, kNan},
      {5, std::numeric_limits<float>::infinity()}};
  for (const auto& [index, weight] : bad) {
    EXPECT_EQ(parse(kFile + reference(index, weight)), kRejected) << index << " " << weight;
    EXPECT_TRUE(scratch.vertices().empty());
  }
  EXPECT_EQ(parse(mesh(kFloats)), kRejected);
  EXPECT_EQ(parse(kFile + field(0x12, {0x08, 0x05})), kRejected);  // no weight: 0
  ASSERT_EQ(parse(kFile + field(0x12, {0x15, 0, 0, 0x80, 0x3f})), "");  // no index: 0
  EXPECT_EQ(scratch.weights().back().index, 0);
  ASSERT_EQ(parse(kFile + reference((std::uint64_t{1} << 32) + 5, 1)), "");  // low 32 bits
  EXPECT_EQ(scratch.weights().back().index, 5);
  std::vector<float> f = kFloats;
  f[502] = kNan;
  EXPECT_EQ(parse(mesh(f) + references()), kRejected);
}

TEST(FaceGeometryParse, HostileBytesStopTheReadingSafely) {
  const Bytes huge = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01};
  const Bytes cut_float = {0x1D, 0, 0, 0x80};  // must not be completed with a 0
  const Bytes hostile[] = {
      Bytes(11, 0x80), Bytes{0x0A} + huge, {0x12, 0x10, 0x08}, {0x0B, 0x00}, {0x09, 1, 2, 3},
      {0x0D, 1}, {0x1A, 0x05, 1}, {0x0A, 0x03, 0x1A, 0x7f, 0x00},
      {kFile.begin(), kFile.begin() + 3}, {kFile.begin(), kFile.begin() + 5000},
      field(0x0A, field(0x1A, floats({kFloats.begin(), kFloats.end() - 1})) + cut_float) +
          references()};
  for (const Bytes& file : hostile) EXPECT_EQ(parse(file), kRejected) << file.size();

  // Damage inside the mesh ends the mesh only; at the end of the file what
  // came before is kept.
  for (const Bytes& damage : {Bytes{0x0B, 1}, {0x22, 0x7f}, {0x08, 0x80}, {0x19, 1}}) {
    EXPECT_EQ(parse(field(0x0A, field(0x1A, floats(kFloats)) + damage) + references()), "");
  }
  EXPECT_EQ(parse(kFile + Bytes{0x0A} + huge), "");
  EXPECT_EQ(parse({kFile.begin(), kFile.end() - 1}), "");
  EXPECT_EQ(scratch.weights().size(), 155u);
}

TEST(FaceGeometryLoad, ReadsFilesAndNamesThemOnFailure) {
  const std::filesystem::path dir = std::filesystem::path(BRIDGE_BINARY_DIR) / "face_geometry_load";
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "geometry.binarypb").string();
  const Bytes file = kFile + field(0x22, Bytes(10000, 0));  // longer than one read
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  FaceGeometry g;
  std::string error;
  EXPECT_TRUE(g.load(path, error)) << error;
  // A FIFO (whose open would wait for a writer) and a device that never ends
  // are refused unread.
  std::filesystem::remove(dir / "fifo");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  for (const std::string& bad : {(dir / "missing").string(), dir.string(), (dir / "fifo").string(),
                                 std::string("/dev/zero")}) {
    EXPECT_FALSE(g.load(bad, error));
    EXPECT_EQ(error, "Invalid face geometry metadata: " + bad + ".");
  }
  if (!std::filesystem::exists(kRealFile)) GTEST_SKIP() << "no " << kRealFile;
  ASSERT_TRUE(g.load(kRealFile, error)) << error;
  EXPECT_EQ(g.vertices().size(), 468u);
}

Quaternion turn(const Vec3& axis, double degrees) {
  const double h = degrees * std::numbers::pi / 360;
  const double s = std::sin(h) / std::hypot(axis[0], axis[1], axis[2]);
  return {std::cos(h), axis[0] * s, axis[1] * s, axis[2] * s};
}

// The synthetic face posed and seen through a 640 x 480 pinhole camera with a
// 60 degree field of view; z is the depth relative to the model origin on the
// origin's pixel scale, towards the camera negative.
std::vector<Point> project(const Quaternion& q, const Vec3& t) {
  const double focal = 240 / std::tan(std::numbers::pi / 6);
  std::vector<Point> out;
  for (size_t k = 0; k < kFloats.size(); k += 5) {
    const Vec3 r = rotate(q, {kFloats[k], kFloats[k + 1], kFloats[k + 2]});
    const double depth = -(r[2] + t[2]);
    out.push_back({static_cast<float>(320 + focal * (r[0] + t[0]) / depth),
                   static_cast<float>(240 - focal * (r[1] + t[1]) / depth), static_cast<float>(focal / t[2] * r[2])});
  }
  return out;
}

// (Poses of real faces: face_reference_test.cc.) Beyond a quarter turn of
// roll the fit comes out with w < 0, which is negated.
TEST(FaceGeometrySolve, RollBeyondAQuarterTurnKeepsWAtLeastZero) {
  ASSERT_EQ(parse(kFile), "");
  HeadPose p;
  ASSERT_TRUE(scratch.solve(project(turn({0, 0, 1}, -120), {0, 0, -50}), 640, 480, 60, p));
  EXPECT_GE(p.rotation[3], 0.0f);
  EXPECT_NEAR(std::fabs(p.rotation[2]), std::sin(std::numbers::pi / 3), 1e-2);  // still 120 degrees about z
}

TEST(FaceGeometrySolve, RefusesDegenerateInputAndLeavesThePose) {
  FaceGeometry g;
  ASSERT_EQ(parse(kFile, g), "");
  const std::vector<Point> good = project({1, 0, 0, 0}, {0, 0, -50});
  std::vector<Point> poisoned = good;
  poisoned[455].y = kNan;  // weighted
  HeadPose pose{{7, 8, 9}, {0.1f, 0.2f, 0.3f, 0.4f}};
  const HeadPose before = pose;
  EXPECT_FALSE(g.solve({good.begin(), good.end() - 1}, 640, 480, 60, pose));
  EXPECT_FALSE(g.solve(good, 0, 480, 60, pose));
  EXPECT_FALSE(g.solve(good, 640, 0, 60, pose));
  EXPECT_FALSE(g.solve(std::vector<Point>(468, Point{320, 240, 1}), 640, 480, 60, pose));
  EXPECT_FALSE(g.solve(poisoned, 640, 480, 60, pose));
  EXPECT_FALSE(FaceGeometry{}.solve(good, 640, 480, 60, pose));
  for (float fov : {0.0f, -40.0f, 180.0f, 200.0f, kNan}) {
    EXPECT_FALSE(g.solve(good, 640, 480, fov, pose)) << fov;
  }
  EXPECT_EQ(pose.translation, before.translation);
  EXPECT_EQ(pose.rotation, before.rotation);
}

}  // namespace
