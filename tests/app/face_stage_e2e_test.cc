// End-to-end: the face stage of the real bridge on the sample frames.
#include <cstring>

#include "tests/app/bridge_process.h"
#include "wire/control.h"

namespace bridge_test {
namespace {

const std::string kFrames = BRIDGE_SHARED_DIR "/frames";
const std::string kNoFace = BRIDGE_SHARED_DIR "/testdata/stills/noface_01.jpg";


float float_at(const wire::Bytes& d, size_t payload_offset) {
  float f;
  std::memcpy(&f, d.data() + wire::kHeaderSize + payload_offset, 4);
  return f;
}

// Everything a bridge sends, kept alive with heartbeats, until it has sent
// `faces` face datagrams and `min_seconds` have passed (or, on a machine too
// slow for that, 60 s), then stopped. Judged by what was sent, not by time.
std::vector<wire::Bytes> record(RunningBridge& b, int faces, double min_seconds) {
  std::vector<wire::Bytes> got;
  const auto start = Clock::now();
  int seen = 0;
  while ((seen < faces || seconds_since(start) < min_seconds) && seconds_since(start) < 60) {
    if (auto d = receive_datagram(b.host, 50)) {
      seen += type_of(*d) == wire::kFace;
      got.push_back(*d);
    }
    send_control(b.host, wire::kHeartbeat, 0);
  }
  send_control(b.host, wire::kStop, 0);
  EXPECT_EQ(wait_bridge(b.host, 20000), 0);
  return got;
}

TEST(FaceStageEndToEnd, MissingFaceModelsAreReportedWithStatusOne) {
  // The second path is far longer than a status datagram: the message is
  // shortened, never dropped.
  for (const std::string& models : {std::string("/nonexistent/models"),
                                   "/nonexistent/" + std::string(5000, 'm')}) {
    RunningBridge b;
    b.start({"--frames", kFrames, "--models", models});
    ASSERT_TRUE(b.next_status("starting", 3000));
    const auto error = b.next_status("error", 3000);
    ASSERT_TRUE(error) << models.size();
    EXPECT_LE(error->size(), 4096u);
    const std::string doc = payload(*error);
    EXPECT_NE(doc.find("\"code\":\"models_missing\""), std::string::npos);
    EXPECT_NE(doc.find("/nonexistent/m"), std::string::npos) << doc.substr(0, 200);
    EXPECT_EQ(wait_bridge(b.host, 20000), 1);
  }
}

TEST(FaceStageEndToEnd, EveryFrameSendsOneFaceDatagramNumberedInTurn) {
  if (!have_shared_models()) GTEST_SKIP() << "no models at " << shared_models();
  RunningBridge b;
  b.start({"--frames", kFrames, "--models", shared_models(), "--face"});
  const std::vector<wire::Bytes> got = record(b, 20, 1.5);
  int faces = 0, found = 0;
  uint64_t last_timestamp = 0;
  for (size_t i = 0; i < got.size(); ++i) {
    if (i > 0) {
      EXPECT_EQ(sequence_of(got[i]), sequence_of(got[i - 1]) + 1);
    }
    if (type_of(got[i]) != wire::kFace) continue;
    ASSERT_EQ(got[i].size(), 284u);
    const uint64_t timestamp = wire::get_u64(got[i].data() + 32);
    EXPECT_GT(timestamp, last_timestamp);
    last_timestamp = timestamp;
    faces += 1;
    if (got[i][wire::kHeaderSize] == 1) {
      found += 1;
      EXPECT_LT(float_at(got[i], 12), 0.0f);  // the face is in front of the camera
    }
  }
  EXPECT_GE(faces, 20);
  EXPECT_EQ(found, faces);  // the face is in view on every early frame

  int windows = 0;
  for (const wire::Bytes& d : got) {
    if (type_of(d) != wire::kStatus || status_number(d, "fps") <= 0) continue;
    windows += 1;
    EXPECT_EQ(status_number(d, "face_found"), 1.0);
    EXPECT_GT(status_number(d, "face_luma"), 0.0);
    EXPECT_GT(status_number(d, "inference_ms"), 0.0);
  }
  EXPECT_GE(windows, 1);
}

TEST(FaceStageEndToEnd, NoFaceGivesResetValuesAndFaceOffSendsNoFaceDatagram) {
  if (!have_shared_models()) GTEST_SKIP() << "no models at " << shared_models();
  RunningBridge b;
  b.start({"--frames", kNoFace, "--models", shared_models(), "--face"});
  std::vector<wire::Bytes> got = record(b, 10, 1.5);
  int faces = 0;
  for (const wire::Bytes& d : got) {
    if (type_of(d) == wire::kFace) {
      faces += 1;
      wire::Bytes expected(236, 0);
      expected[30] = 0x80;  // rotation w = 1.0f
      expected[31] = 0x3F;
      EXPECT_EQ(wire::Bytes(d.begin() + wire::kHeaderSize, d.end()), expected);
    } else if (type_of(d) == wire::kStatus && status_number(d, "fps") > 0) {
      EXPECT_EQ(status_number(d, "face_found"), 0.0);
      EXPECT_EQ(status_number(d, "face_luma"), -1.0);
    }
  }
  EXPECT_GE(faces, 10);

  RunningBridge off;
  off.start({"--frames", kFrames, "--models", shared_models()});
  got = record(off, 0, 1.2);
  for (const wire::Bytes& d : got) {
    EXPECT_NE(type_of(d), wire::kFace);
    if (type_of(d) == wire::kStatus && status_number(d, "fps") > 0) {
      EXPECT_EQ(status_number(d, "face_found"), -1.0);
    }
  }
}

}  // namespace
}  // namespace bridge_test
