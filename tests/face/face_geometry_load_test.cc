#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <random>

#include "face/face_geometry.h"
#include "tests/face/geometry_file.h"

namespace {

using namespace geometry_file;

// Parses an exact-size heap copy, so the sanitizer build flags any read past
// the end. Returns the error message, empty on success.
std::string parse(const Bytes& file, FaceGeometry& g) {
  const Bytes exact(file);
  std::string error;
  return g.parse(exact, "m.binarypb", error) ? "" : error;
}
std::string parse(const Bytes& file) {
  FaceGeometry g;
  return parse(file, g);
}
const std::string kRejected = "Invalid face geometry metadata: m.binarypb.";

TEST(FaceGeometryParse, MeshLayoutsLoadAlike) {
  FaceGeometry want;
  ASSERT_EQ(parse(valid_file(), want), "");
  ASSERT_EQ(want.vertices().size(), 468u);
  EXPECT_EQ(want.vertices()[467], (std::array<float, 3>{467.0f, -233.5f, 1467.0f}));
  ASSERT_EQ(want.weights().size(), 3u);
  EXPECT_EQ(want.weights()[1].index, 234);
  EXPECT_EQ(want.weights()[2].weight, 2.0f);

  const std::vector<float> f = mesh_floats(468);
  const Bytes split = packed_mesh({f.begin(), f.begin() + 1003}) +
                      packed_mesh({f.begin() + 1003, f.end()}) + three_references();
  // References first, single floats after skippable fields, unknown fields
  // of every wire type at both levels, a ragged packed run, 4 spare floats.
  Bytes body = {0x08, 0x00, 0x25, 9, 9, 9, 9, 0x22, 0x01, 0x1D};
  for (float v : f) body = body + Bytes{0x1D} + floats({v});
  body = body + field(0x1A, floats({1, 2, 3, 4}) + Bytes{0x11, 0x22, 0x33});
  const Bytes unpacked =
      three_references() +
      Bytes{0x18, 0x96, 0x01, 0x21, 1, 2, 3, 4, 5, 6, 7, 8, 0x2a, 0x01, 0x0A, 0x35, 0, 0, 0, 0} +
      field(0x0A, body);
  for (const Bytes& file : {split, unpacked}) {
    FaceGeometry got;
    ASSERT_EQ(parse(file, got), "");
    EXPECT_EQ(got.vertices(), want.vertices());
    EXPECT_EQ(got.weights().size(), 3u);
  }

  std::vector<float> short_mesh = f;
  short_mesh.pop_back();  // 467 whole groups of five
  EXPECT_EQ(parse(packed_mesh(short_mesh) + three_references()), kRejected);
}

TEST(FaceGeometryParse, EveryReferenceIsValidated) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const std::pair<std::uint64_t, float> bad[] = {
      {468, 1.0f}, {~std::uint64_t{0}, 1.0f}, {std::uint64_t{1} << 31, 1.0f},
      {5, 0.0f},   {5, -1.0f},                {5, nan},
      {5, inf}};  // an infinite weight would turn every fit into NaN
  for (const auto& [index, weight] : bad) {
    FaceGeometry g;
    EXPECT_EQ(parse(valid_file() + reference(index, weight), g), kRejected) << index << " " << weight;
    EXPECT_TRUE(g.vertices().empty());
  }
  EXPECT_EQ(parse(packed_mesh(mesh_floats(468))), kRejected);  // no references
  // Missing fields read as 0: no weight fails, no index is vertex 0.
  EXPECT_EQ(parse(valid_file() + field(0x12, {0x08, 0x05})), kRejected);
  FaceGeometry g;
  ASSERT_EQ(parse(valid_file() + field(0x12, {0x15, 0, 0, 0x80, 0x3f}), g), "");
  EXPECT_EQ(g.weights()[3].index, 0);
  // Only the low 32 bits of an index count.
  ASSERT_EQ(parse(valid_file() + reference((std::uint64_t{1} << 32) + 5, 1.0f), g), "");
  EXPECT_EQ(g.weights()[3].index, 5);
  // A vertex that is not a number would poison every fit.
  std::vector<float> f = mesh_floats(468);
  f[502] = nan;
  EXPECT_EQ(parse(packed_mesh(f) + three_references()), kRejected);
}

TEST(FaceGeometryParse, HostileBytesStopTheReadingSafely) {
  const Bytes good = valid_file();
  const Bytes mesh_run = field(0x1A, floats(mesh_floats(468)));
  const std::vector<Bytes> hostile = {
      Bytes(11, 0x80),                                // a key varint of 11 bytes
      {0x0A, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01},  // huge length
      {0x12, 0x10, 0x08},                             // a reference past the end
      {0x0B, 0x00}, {0x09, 1, 2, 3}, {0x0D, 1}, {0x1A, 0x05, 1},  // bad top-level fields
      {0x0A, 0x03, 0x1A, 0x7f, 0x00},                 // nested length past its message
      {good.begin(), good.begin() + 3}, {good.begin(), good.begin() + 5000},
      // The last float of an unpacked mesh cut short: its group stays
      // incomplete rather than completed with a made-up 0.
      field(0x0A, field(0x1A, floats(std::vector<float>(2339, 1.0f))) + Bytes{0x1D, 0, 0, 0x80}) +
          three_references(),
  };
  for (const Bytes& file : hostile) EXPECT_EQ(parse(file), kRejected) << file.size();

  // Damage inside the mesh ends the mesh only; damage at the end of the
  // file keeps what came before, and validation decides.
  for (const Bytes& damage : {Bytes{0x0B, 1}, Bytes{0x22, 0x7f}, Bytes{0x08, 0x80}, Bytes{0x19, 1}}) {
    EXPECT_EQ(parse(field(0x0A, mesh_run + damage) + three_references()), "");
  }
  FaceGeometry g;
  EXPECT_EQ(parse(good + Bytes{0x0A, 0x80, 0x80}, g), "");
  EXPECT_EQ(parse({good.begin(), good.end() - 1}, g), "");
  EXPECT_EQ(g.weights().size(), 2u);

  // Seeded random damage; a parse that succeeds must keep its promises.
  std::mt19937 rng(42);
  for (int round = 0; round < 3000; ++round) {
    Bytes file = good;
    const int edits = 1 + static_cast<int>(rng() % 6);
    for (int e = 0; e < edits; ++e) {
      const std::size_t at = rng() % file.size();
      if (rng() % 3 == 0) file.resize(at + 1);
      else file[at] = static_cast<std::uint8_t>(rng());
    }
    const std::string error = parse(file, g);
    if (!error.empty()) {
      ASSERT_EQ(error, kRejected);
      continue;
    }
    ASSERT_EQ(g.vertices().size(), 468u);
    for (const VertexWeight& w : g.weights()) {
      ASSERT_TRUE(w.index >= 0 && w.index < 468 && w.weight > 0.0f);
    }
  }
}

TEST(FaceGeometryLoad, ReadsFilesAndNamesThemOnFailure) {
  const std::filesystem::path dir = std::filesystem::path(BRIDGE_BINARY_DIR) / "face_geometry_load";
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "geometry.binarypb").string();
  const Bytes file = valid_file();
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                               static_cast<std::streamsize>(file.size()));
  FaceGeometry g;
  std::string error;
  EXPECT_TRUE(g.load(path, error)) << error;
  // A missing file, and a directory, which reading must not throw on.
  for (const std::string& bad : {(dir / "missing").string(), dir.string()}) {
    EXPECT_FALSE(g.load(bad, error));
    EXPECT_EQ(error, "Invalid face geometry metadata: " + bad + ".");
  }
  const std::string real =
      std::string(BRIDGE_SHARED_DIR) + "/models/face/geometry_pipeline_metadata_landmarks.binarypb";
  if (!std::filesystem::exists(real)) GTEST_SKIP() << "no " << real;
  ASSERT_TRUE(g.load(real, error)) << error;
  EXPECT_EQ(g.vertices().size(), 468u);
}

}  // namespace
