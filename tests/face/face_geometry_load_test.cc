#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>

#include "face/face_geometry.h"
#include "tests/face/geometry_file_builder.h"

namespace {

using namespace geometry_file;

const std::string kName = "memory.binarypb";
const std::string kMessage = "Invalid face geometry metadata: memory.binarypb.";

// Parses from an exact-size heap copy, so that the sanitizer build catches
// any read past the end of the data.
bool parse(FaceGeometry& g, const Bytes& file, std::string& error) {
  const std::vector<std::uint8_t> exact(file.begin(), file.end());
  return g.parse(exact, kName, error);
}

// Parses and expects a rejection with the one message.
void expect_rejected(const Bytes& file) {
  FaceGeometry g;
  std::string error = "stale";
  EXPECT_FALSE(parse(g, file, error));
  EXPECT_EQ(error, kMessage);
}

void expect_loaded(const Bytes& file, const FaceGeometry& want) {
  FaceGeometry g;
  std::string error;
  ASSERT_TRUE(parse(g, file, error)) << error;
  EXPECT_EQ(g.vertices(), want.vertices());
  ASSERT_EQ(g.weights().size(), want.weights().size());
  for (std::size_t i = 0; i < g.weights().size(); ++i) {
    EXPECT_EQ(g.weights()[i].index, want.weights()[i].index);
    EXPECT_EQ(g.weights()[i].weight, want.weights()[i].weight);
  }
}

FaceGeometry reference_geometry() {
  FaceGeometry g;
  std::string error;
  EXPECT_TRUE(parse(g, valid_file(), error));
  return g;
}

Bytes weights_only() {
  Bytes refs = reference(0, 0.5f);
  append(refs, reference(234, 1.0f));
  append(refs, reference(467, 2.0f));
  return refs;
}

TEST(FaceGeometryParse, GroupsFloatsInFivesAndKeepsReferencesInOrder) {
  const FaceGeometry g = reference_geometry();
  ASSERT_EQ(g.vertices().size(), 468u);
  EXPECT_EQ(g.vertices()[0], (std::array<float, 3>{0.0f, -0.0f, 1000.0f}));
  EXPECT_EQ(g.vertices()[467], (std::array<float, 3>{467.0f, -233.5f, 1467.0f}));
  ASSERT_EQ(g.weights().size(), 3u);
  EXPECT_EQ(g.weights()[1].index, 234);
  EXPECT_EQ(g.weights()[1].weight, 1.0f);
  EXPECT_EQ(g.weights()[2].index, 467);
}

TEST(FaceGeometryParse, MeshLayoutsLoadAlike) {
  const FaceGeometry want = reference_geometry();
  const std::vector<float> floats = mesh_floats(468);

  Bytes split = packed_mesh({floats.begin(), floats.begin() + 1003});
  append(split, packed_mesh({floats.begin() + 1003, floats.end()}));
  append(split, weights_only());
  expect_loaded(split, want);

  Bytes unpacked = unpacked_mesh(floats);
  append(unpacked, weights_only());
  expect_loaded(unpacked, want);

  // References before the mesh, and unknown fields of every skippable wire
  // type at both levels.
  Bytes mixed = {0x18, 0x96, 0x01, 0x21, 1, 2, 3, 4, 5, 6, 7, 8, 0x2a, 0x02, 0x0A, 0x1A, 0x35, 0, 0, 0, 0};
  append(mixed, weights_only());
  Bytes mesh_body = {0x25, 9, 9, 9, 9, 0x10, 0x01, 0x22, 0x01, 0x1D};
  Bytes run;
  for (float f : floats) append(run, float_bytes(f));
  append(mesh_body, delimited(0x1A, run));
  append(mixed, delimited(0x0A, mesh_body));
  expect_loaded(mixed, want);
}

TEST(FaceGeometryParse, IncompleteLastVertexIsDropped) {
  std::vector<float> floats = mesh_floats(468);
  floats.insert(floats.end(), {1.0f, 2.0f, 3.0f, 4.0f});
  Bytes extra = packed_mesh(floats);
  append(extra, weights_only());
  expect_loaded(extra, reference_geometry());

  floats.resize(2339);
  Bytes short_mesh = packed_mesh(floats);
  append(short_mesh, weights_only());
  expect_rejected(short_mesh);

  // A packed run whose length is not a multiple of 4 keeps its whole floats.
  Bytes run;
  for (float f : mesh_floats(468)) append(run, float_bytes(f));
  run.insert(run.end(), {0x11, 0x22, 0x33});
  Bytes ragged = delimited(0x0A, delimited(0x1A, run));
  append(ragged, weights_only());
  expect_loaded(ragged, reference_geometry());
}

TEST(FaceGeometryParse, ReferencesAreValidatedInFileOrder) {
  const Bytes mesh = packed_mesh(mesh_floats(468));
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    std::uint64_t index;
    float weight;
  };
  for (const Case c : {Case{468, 1.0f}, Case{~std::uint64_t{0}, 1.0f}, Case{5, 0.0f},
                       Case{5, -1.0f}, Case{5, nan}, Case{5, inf}, Case{std::uint64_t{1} << 31, 1.0f}}) {
    Bytes file = mesh;
    append(file, reference(3, 1.0f));
    append(file, reference(c.index, c.weight));
    FaceGeometry g;
    std::string error;
    EXPECT_FALSE(parse(g, file, error)) << c.index << " " << c.weight;
    EXPECT_EQ(error, kMessage);
    EXPECT_TRUE(g.vertices().empty());
  }

  // Only the low 32 bits of the index count: 2^32 + 5 is vertex 5.
  Bytes wrapped = mesh;
  append(wrapped, reference((std::uint64_t{1} << 32) + 5, 1.0f));
  FaceGeometry g;
  std::string error;
  ASSERT_TRUE(parse(g, wrapped, error));
  EXPECT_EQ(g.weights()[0].index, 5);
}

TEST(FaceGeometryParse, MissingPiecesFail) {
  expect_rejected({});
  expect_rejected(packed_mesh(mesh_floats(468)));  // no references
  expect_rejected(weights_only());                 // no mesh

  // A reference without a weight field weighs 0; one without an index
  // refers to vertex 0.
  Bytes no_weight = packed_mesh(mesh_floats(468));
  append(no_weight, delimited(0x12, Bytes{0x08, 0x05}));
  expect_rejected(no_weight);
  Bytes no_index = packed_mesh(mesh_floats(468));
  append(no_index, delimited(0x12, Bytes{0x15, 0x00, 0x00, 0x80, 0x3f}));
  FaceGeometry g;
  std::string error;
  ASSERT_TRUE(parse(g, no_index, error));
  EXPECT_EQ(g.weights()[0].index, 0);
  EXPECT_EQ(g.weights()[0].weight, 1.0f);

  // A vertex that is not a number would poison every fit.
  std::vector<float> floats = mesh_floats(468);
  floats[5 * 100 + 2] = std::numeric_limits<float>::quiet_NaN();
  Bytes bad_vertex = packed_mesh(floats);
  append(bad_vertex, weights_only());
  expect_rejected(bad_vertex);
}

TEST(FaceGeometryParse, SingleFloatCutShortIsNotMadeUp) {
  // The last float field of the mesh lost its final byte: its group is
  // incomplete, so the mesh has 467 vertices, not 468 with a zero.
  std::vector<float> floats = mesh_floats(468);
  floats.resize(2338);
  Bytes body;
  for (float f : floats) {
    body.push_back(0x1D);
    append(body, float_bytes(f));
  }
  body.insert(body.end(), {0x1D, 0x00, 0x00, 0x80});
  Bytes file = delimited(0x0A, body);
  append(file, weights_only());
  expect_rejected(file);
}

TEST(FaceGeometryParse, DamageInsideAMessageKeepsWhatCameBefore) {
  const std::vector<float> floats = mesh_floats(468);
  Bytes run;
  for (float f : floats) append(run, float_bytes(f));
  // The mesh message ends in a group key, a bad length and a cut varint; the
  // top level carries on after it.
  for (const Bytes& damage : {Bytes{0x0B, 1, 2}, Bytes{0x22, 0x7f}, Bytes{0x08, 0x80},
                              Bytes{0x19, 1, 2, 3}}) {
    Bytes body = delimited(0x1A, run);
    append(body, damage);
    Bytes file = delimited(0x0A, body);
    append(file, weights_only());
    expect_loaded(file, reference_geometry());
  }
  // A reference whose weight is cut short keeps weight 0 and fails.
  Bytes cut_weight = packed_mesh(floats);
  append(cut_weight, delimited(0x12, Bytes{0x08, 0x05, 0x15, 0x00, 0x00}));
  expect_rejected(cut_weight);
}

TEST(FaceGeometryParse, HostileTopLevelsStopTheParseSafely) {
  const Bytes good = valid_file();
  std::vector<Bytes> hostile = {
      Bytes(11, 0x80),                                    // key varint of 11 bytes
      {0x0A, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01},  // huge mesh length
      {0x12, 0x10, 0x08},                                 // reference running past the end
      {0x0B, 0x00},                                       // group at the top level
      {0x09, 1, 2, 3},                                    // fixed64 cut short
      {0x0D, 1},                                          // fixed32 cut short
      {0x1A, 0x05, 1},                                    // skipped field running past the end
      {0x0A, 0x03, 0x1A, 0x7f, 0x00},                     // nested length past its message
      {0x0A, 0x02, 0x1D, 0x00},                           // float cut short in its message
  };
  // Prefixes of a good file that end before or inside the mesh.
  for (std::size_t cut : {std::size_t{1}, std::size_t{2}, std::size_t{3}, good.size() / 2}) {
    hostile.emplace_back(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
  }
  for (const Bytes& file : hostile) expect_rejected(file);

  // A stop after complete content still lets validation decide: a cut
  // varint at the end, or a last reference cut short, leaves a usable file.
  Bytes trailing = good;
  trailing.insert(trailing.end(), {0x0A, 0x80, 0x80, 0x80});
  FaceGeometry g;
  std::string error;
  EXPECT_TRUE(parse(g, trailing, error));
  EXPECT_EQ(g.weights().size(), 3u);
  ASSERT_TRUE(parse(g, Bytes(good.begin(), good.end() - 1), error));
  EXPECT_EQ(g.weights().size(), 2u);
}

TEST(FaceGeometryParse, RandomDamageNeverReadsOutside) {
  // Deterministic byte damage over a valid file; the sanitizer build turns
  // any out-of-bounds read into a failure. Results are only checked for the
  // invariants a successful parse promises.
  const Bytes good = valid_file();
  std::mt19937 rng(42);
  for (int round = 0; round < 3000; ++round) {
    Bytes file = good;
    const int edits = 1 + static_cast<int>(rng() % 6);
    for (int e = 0; e < edits; ++e) {
      const std::size_t at = rng() % file.size();
      switch (rng() % 3) {
        case 0: file[at] = static_cast<std::uint8_t>(rng()); break;
        case 1: file.resize(at + 1); break;
        default: file.insert(file.begin() + static_cast<std::ptrdiff_t>(at), 0xff); break;
      }
    }
    FaceGeometry g;
    std::string error;
    if (parse(g, file, error)) {
      ASSERT_EQ(g.vertices().size(), 468u);
      for (const VertexWeight& w : g.weights()) {
        ASSERT_GE(w.index, 0);
        ASSERT_LT(w.index, 468);
        ASSERT_GT(w.weight, 0.0f);
      }
    } else {
      ASSERT_EQ(error, kMessage);
    }
  }
}

TEST(FaceGeometryLoad, ReadsAFileAndNamesItOnFailure) {
  const std::filesystem::path dir =
      std::filesystem::path(BRIDGE_BINARY_DIR) / "face_geometry_load_test";
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "geometry.binarypb").string();
  {
    const Bytes file = valid_file();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  }
  FaceGeometry g;
  std::string error;
  ASSERT_TRUE(g.load(path, error)) << error;
  EXPECT_EQ(g.vertices().size(), 468u);

  const std::string missing = (dir / "missing.binarypb").string();
  EXPECT_FALSE(g.load(missing, error));
  EXPECT_EQ(error, "Invalid face geometry metadata: " + missing + ".");
  EXPECT_FALSE(g.load(dir.string(), error));
  EXPECT_EQ(error, "Invalid face geometry metadata: " + dir.string() + ".");
}

TEST(FaceGeometryLoad, RealMetadataFile) {
  const std::string path =
      std::string(BRIDGE_SHARED_DIR) + "/models/face/geometry_pipeline_metadata_landmarks.binarypb";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no " << path;
  FaceGeometry g;
  std::string error;
  ASSERT_TRUE(g.load(path, error)) << error;
  EXPECT_EQ(g.vertices().size(), 468u);
  EXPECT_FALSE(g.weights().empty());
  // The canonical face is some centimetres across, centred near the origin.
  float min_x = 1e9f, max_x = -1e9f;
  for (const auto& v : g.vertices()) {
    min_x = std::min(min_x, v[0]);
    max_x = std::max(max_x, v[0]);
  }
  EXPECT_GT(max_x - min_x, 5.0f);
  EXPECT_LT(max_x - min_x, 30.0f);
}

}  // namespace
