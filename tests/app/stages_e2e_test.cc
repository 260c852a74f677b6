// End-to-end: the face and hand stages of the real bridge on the sample frames.
#include <cstring>
#include <filesystem>
#include <fstream>

#include "tests/app/bridge_process.h"
#include "wire/control.h"

namespace bridge_test {
namespace {

namespace fs = std::filesystem;
const std::string kFrames = BRIDGE_SHARED_DIR "/frames";
const std::string kNoFace = BRIDGE_SHARED_DIR "/testdata/stills/noface_01.jpg";

// Everything a bridge sends until it has sent `faces` face datagrams and
// `min_seconds` have passed (or, on a machine too slow for that, 60 s).
std::vector<wire::Bytes> record(RunningBridge& b, int faces, double min_seconds) {
  const auto start = Clock::now();
  return b.record([&](auto& got) { return count_of(got, wire::kFace) >= faces && seconds_since(start) >= min_seconds; });
}

// Sends `bits` and returns the first running status that reports them, with
// `model` as its hand model; heartbeats meanwhile.
std::optional<wire::Bytes> switch_to(RunningBridge& b, uint64_t bits, const std::string& model) {
  send_control(b.host, wire::kOptions, bits);
  const std::string hands = (bits & wire::kHandsBit) ? "true" : "false";
  for (int i = 0; i < 30; ++i) {
    auto s = b.next_status("running", 1000);
    send_control(b.host, wire::kHeartbeat, 0);
    if (s && status_text(*s, "hands") == hands && status_text(*s, "hand_model") == model) return s;
  }
  return std::nullopt;
}

// The starting status comes first (the document byte for byte:
// status_report_test.cc), then the error. The second path is far longer than
// a status datagram: the message is shortened, never dropped.
TEST(StagesEndToEnd, MissingFaceModelsAreReportedWithStatusOne) {
  for (const std::string& models : {std::string("/nonexistent/models"), "/nonexistent/" + std::string(5000, 'm')}) {
    RunningBridge b;
    b.start({"--models", models});  // camera mode, default device: not opened
    const auto got = b.record([](auto& got) { return got.size() == 2; }, 10);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_TRUE(std::equal(b.host.token.begin(), b.host.token.end(), got[0].begin() + 8));
    EXPECT_EQ(sequence_of(got[0]), 1u);
    EXPECT_EQ(status_text(got[0], "state"), "\"starting\"");
    EXPECT_EQ(status_text(got[0], "camera"), "\"/dev/video0\"");
    EXPECT_EQ(sequence_of(got[1]), 2u);
    EXPECT_EQ(status_text(got[1], "code"), "\"models_missing\"");
    EXPECT_NE(status_text(got[1], "message").find("/nonexistent/m"), std::string::npos) << payload(got[1]).substr(0, 200);
    EXPECT_EQ(wait_bridge(b.host, 20000), 1);
  }
}

// Face tracking off and hand tracking on without a hand set: nothing but
// statuses. Face tracking switched on: the running status of that pass
// reports it before the first face datagram goes out, and on a picture
// without a face every face datagram holds the reset values.
TEST(StagesEndToEnd, AStageOffOrWithoutModelsSendsNothingNoFaceTheResetValues) {
  SKIP_WITHOUT_MODELS();
  const ScratchDir root("bridge-face-only");
  fs::create_directory_symlink(shared_models() + "/face", root.path / "face");
  RunningBridge b;
  b.start({"--frames", kNoFace, "--models", root.path.string(), "--hands"});
  std::vector<wire::Bytes> got = record(b, 0, 1.2);
  EXPECT_EQ(count_of(got, wire::kStatus), int(got.size()));
  for (const wire::Bytes& d : got) {
    EXPECT_EQ(status_text(d, "hands_available"), "false");
    if (status_number(d, "fps") > 0) {
      EXPECT_EQ(status_number(d, "face_found"), -1.0);
      EXPECT_LE(status_number(d, "fps"), 30.5);  // one file played at the pace of a stream
      EXPECT_GT(status_number(d, "frame_luma"), 0.0);
    }
  }
  send_control(b.host, wire::kOptions, wire::kFaceBit | wire::kHandsBit);
  got = record(b, 10, 1.5);
  b.stop();
  size_t first = 0;
  while (first < got.size() && type_of(got[first]) != wire::kFace) ++first;
  ASSERT_GT(first, 0u);
  ASSERT_LT(first, got.size());
  EXPECT_EQ(status_text(got[first - 1], "face"), "true") << payload(got[first - 1]);
  wire::Bytes reset(236, 0);
  reset[30] = 0x80;  // rotation w = 1.0f
  reset[31] = 0x3F;
  for (size_t i = first; i < got.size(); ++i) {
    if (type_of(got[i]) == wire::kFace) {
      EXPECT_EQ(wire::Bytes(got[i].begin() + wire::kHeaderSize, got[i].end()), reset);
    } else if (type_of(got[i]) == wire::kStatus && status_number(got[i], "fps") > 0) {
      EXPECT_EQ(status_number(got[i], "face_found"), 0.0);
      EXPECT_EQ(status_number(got[i], "face_luma"), -1.0);
    }
  }
  EXPECT_GE(count_of(got, wire::kFace), 10);
}

// A lite set that fails to load is reported while face tracking goes on;
// other bits give the sets a new chance, and each load is reported in the
// pass that made it.
TEST(StagesEndToEnd, SetsSwitchInOneRunFaceThenHandsDatagramPerFrame) {
  SKIP_WITHOUT_MODELS();
  // The real face and full hand sets, and a lite set whose landmark model is
  // not a model at all.
  const ScratchDir models("bridge-models");
  const fs::path& root = models.path;
  fs::create_directories(root / "hand-lite");
  fs::create_directory_symlink(shared_models() + "/face", root / "face");
  fs::create_directory_symlink(shared_models() + "/hand", root / "hand");
  fs::create_symlink(shared_models() + "/hand-lite/hand_detector.tflite",
                     root / "hand-lite/hand_detector.tflite");
  std::ofstream(root / "hand-lite/hand_landmarks_detector.tflite") << "not a model";
  // From a little before the frame on which the hand comes into view (23).
  const ScratchDir folder("bridge-hand-frames");
  for (int i = 20; i <= 40; ++i) {
    const std::string name = "0000" + std::to_string(i) + ".jpg";
    fs::create_symlink(kFrames + "/" + name, folder.path / name);
  }
  RunningBridge b;
  b.start({"--frames", folder.path.string(), "--models", root.string(), "--face", "--hands",
           "--hands-lite"});
  const auto s = b.next_status("running", 3000);  // the first pass tries the load
  ASSERT_TRUE(s);
  EXPECT_EQ(status_text(*s, "hand_model"), "\"\"");
  EXPECT_EQ(status_text(*s, "hands_available"), "false");
  EXPECT_NE(status_text(*s, "hands_message").find("hand-lite"), std::string::npos);
  auto got = b.record([](auto& got) { return count_of(got, wire::kFace) >= 10; });
  EXPECT_EQ(count_of(got, wire::kFace), 10);
  EXPECT_EQ(count_of(got, wire::kHands), 0);
  // The lite set mended meanwhile: full, lite and full again in one run.
  fs::remove(root / "hand-lite/hand_landmarks_detector.tflite");
  fs::create_symlink(shared_models() + "/hand-lite/hand_landmarks_detector.tflite",
                     root / "hand-lite/hand_landmarks_detector.tflite");
  for (const auto& [bits, model] : {std::pair{3, "\"full\""}, {7, "\"lite\""}, {3, "\"full\""}}) {
    const auto switched = switch_to(b, bits, model);
    ASSERT_TRUE(switched) << bits;
    EXPECT_EQ(status_text(*switched, "hands_available"), "true");
    EXPECT_EQ(status_text(*switched, "hands_message"), "\"\"");
  }
  // (150 s for a slow sanitizer build on a busy machine.)
  got = b.record([](auto& got) { return count_of(got, wire::kHands) >= 30; }, 150);
  b.stop();

  // One counter numbers every datagram; each frame's face datagram (the face
  // in view, in front of the camera) goes just before its hands datagram
  // (also without a hand), with the same timestamp, later than the frame
  // before. The windows count what was found.
  int frames = 0, hands = 0, windows = 0;
  uint64_t last_timestamp = 0;
  for (size_t i = 0; i < got.size(); ++i) {
    const wire::Bytes& d = got[i];
    EXPECT_EQ(sequence_of(d), sequence_of(got[0]) + i);
    if (type_of(d) == wire::kStatus && status_number(d, "fps") > 0) {
      windows += 1;
      EXPECT_EQ(status_number(d, "face_found"), 1.0);
      EXPECT_GT(status_number(d, "face_luma"), 0.0);
      EXPECT_GT(status_number(d, "inference_ms"), 0.0);
    }
    if (type_of(d) == wire::kFace) {
      float z;
      std::memcpy(&z, d.data() + wire::kHeaderSize + 12, 4);
      EXPECT_TRUE(d.size() == 284u && d[wire::kHeaderSize] == 1 && z < 0) << i;
      if (i + 1 < got.size()) {
        EXPECT_EQ(type_of(got[i + 1]), wire::kHands);
      }
    }
    if (type_of(d) != wire::kHands || i == 0) continue;  // the first one's face came before
    EXPECT_GT(value_of(got[i]), last_timestamp);
    last_timestamp = value_of(got[i]);
    const size_t count = got[i][wire::kHeaderSize];
    ASSERT_LE(count, 2u);
    EXPECT_EQ(got[i].size(), 52u + 272u * count);
    hands += static_cast<int>(count);
    EXPECT_EQ(type_of(got[i - 1]), wire::kFace);
    EXPECT_EQ(value_of(got[i]), value_of(got[i - 1]));
    frames += 1;
  }
  EXPECT_GE(frames, 29);
  EXPECT_GT(hands, 0);
  EXPECT_GE(windows, 1);
}

}  // namespace
}  // namespace bridge_test
