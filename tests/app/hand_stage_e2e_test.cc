// End-to-end: the hand stage of the real bridge on the sample frames.
#include <filesystem>
#include <fstream>

#include "tests/app/bridge_process.h"
#include "wire/control.h"

namespace bridge_test {
namespace {

namespace fs = std::filesystem;
const std::string kFrames = BRIDGE_SHARED_DIR "/frames";


// A models folder with the real face and full hand sets and a lite set whose
// landmark model is not a model at all, or a link to a file that never ends.
struct BrokenLiteModels {
  fs::path root = fs::temp_directory_path() / ("bridge-models-" + std::to_string(getpid()));
  explicit BrokenLiteModels(bool endless = false) {
    fs::create_directories(root / "hand-lite");
    fs::create_directory_symlink(shared_models() + "/face", root / "face");
    fs::create_directory_symlink(shared_models() + "/hand", root / "hand");
    fs::create_symlink(shared_models() + "/hand-lite/hand_detector.tflite",
                       root / "hand-lite/hand_detector.tflite");
    if (endless) {
      fs::create_symlink("/proc/self/pagemap", root / "hand-lite/hand_landmarks_detector.tflite");
    } else {
      std::ofstream(root / "hand-lite/hand_landmarks_detector.tflite") << "not a model";
    }
  }
  ~BrokenLiteModels() { fs::remove_all(root); }
};

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

TEST(HandStageEndToEnd, SetsSwitchInOneRunAndEachLoadIsReportedInItsPass) {
  if (!have_shared_models()) GTEST_SKIP() << "no models at " << shared_models();
  RunningBridge b;
  b.start({"--frames", kFrames, "--models", shared_models()});
  ASSERT_TRUE(b.next_status("running", 3000));
  for (const auto& [bits, model] : {std::pair{3, "\"full\""}, {7, "\"lite\""}, {3, "\"full\""}}) {
    const auto s = switch_to(b, bits, model);
    ASSERT_TRUE(s) << bits;
    EXPECT_EQ(status_text(*s, "hands_available"), "true");
  }
  send_control(b.host, wire::kStop, 0);
  EXPECT_EQ(wait_bridge(b.host, 20000), 0);
}

TEST(HandStageEndToEnd, LoadFailureIsReportedWhileFaceTrackingGoesOn) {
  if (!have_shared_models()) GTEST_SKIP() << "no models at " << shared_models();
  BrokenLiteModels models;
  RunningBridge b;
  b.start({"--frames", kFrames, "--models", models.root.string(), "--face", "--hands",
           "--hands-lite"});
  const auto s = b.next_status("running", 3000);  // the first pass tries the load
  ASSERT_TRUE(s);
  EXPECT_EQ(status_text(*s, "hand_model"), "\"\"");
  EXPECT_EQ(status_text(*s, "hands_available"), "false");
  EXPECT_NE(status_text(*s, "hands_message").find("hand-lite"), std::string::npos);
  int faces = 0;
  const auto start = Clock::now();
  while (faces < 10 && seconds_since(start) < 60) {
    if (auto d = receive_datagram(b.host, 50)) {
      EXPECT_NE(type_of(*d), wire::kHands);
      faces += type_of(*d) == wire::kFace;
    }
    send_control(b.host, wire::kHeartbeat, 0);
  }
  EXPECT_GE(faces, 10);
  const auto full = switch_to(b, 3, "\"full\"");  // other bits: the full set gets its chance
  ASSERT_TRUE(full);
  EXPECT_EQ(status_text(*full, "hands_message"), "\"\"");
  send_control(b.host, wire::kStop, 0);
  EXPECT_EQ(wait_bridge(b.host, 20000), 0);
}

// A file that never ends in place of a hand model is refused at once, not
// after reading a gigabyte of it while tracking stands still.
TEST(HandStageEndToEnd, EndlessModelFileIsRefusedAtOnceMidRun) {
  if (!have_shared_models()) GTEST_SKIP() << "no models at " << shared_models();
  BrokenLiteModels models(true);
  RunningBridge b;
  b.start({"--frames", kFrames, "--models", models.root.string(), "--face"});
  ASSERT_TRUE(b.next_status("running", 5000));
  const auto asked = Clock::now();
  send_control(b.host, wire::kOptions, 7);
  std::optional<wire::Bytes> s;
  while (!s && seconds_since(asked) < 30) {
    s = b.next_status("running", 100);
    if (s && status_text(*s, "hands_available") != "false") s.reset();
    send_control(b.host, wire::kHeartbeat, 0);
  }
  ASSERT_TRUE(s);
  EXPECT_LT(seconds_since(asked), 3.0);
  const fs::path link = models.root / "hand-lite/hand_landmarks_detector.tflite";
  EXPECT_EQ(status_text(*s, "hands_message"),
            "\"Cannot load model " + link.string() + ": longer than it claims.\"");
  send_control(b.host, wire::kStop, 0);
  EXPECT_EQ(wait_bridge(b.host, 20000), 0);
}

TEST(HandStageEndToEnd, FaceThenHandsDatagramPerFrameWithOneTimestamp) {
  if (!have_shared_models()) GTEST_SKIP() << "no models at " << shared_models();
  RunningBridge b;
  // From the frame on which the hand comes into view.
  const fs::path folder = fs::temp_directory_path() / ("bridge-hand-frames-" + std::to_string(getpid()));
  fs::create_directories(folder);
  for (int i = 23; i <= 40; ++i) {
    const std::string name = "0000" + std::to_string(i) + ".jpg";
    fs::create_symlink(kFrames + "/" + name, folder / name);
  }
  b.start({"--frames", folder.string(), "--models", shared_models(), "--face", "--hands"});
  std::vector<wire::Bytes> got;
  int hand_datagrams = 0;
  const auto start = Clock::now();
  while (hand_datagrams < 30 && seconds_since(start) < 150) {  // a slow sanitizer build on a busy machine
    if (auto d = receive_datagram(b.host, 50)) {
      hand_datagrams += type_of(*d) == wire::kHands;
      got.push_back(*d);
    }
    send_control(b.host, wire::kHeartbeat, 0);
  }
  fs::remove_all(folder);
  send_control(b.host, wire::kStop, 0);
  EXPECT_EQ(wait_bridge(b.host, 20000), 0);

  int frames = 0, hands = 0;
  for (size_t i = 0; i < got.size(); ++i) {
    if (type_of(got[i]) != wire::kHands) continue;
    const size_t count = got[i][wire::kHeaderSize];
    ASSERT_LE(count, 2u);
    EXPECT_EQ(got[i].size(), 52u + 272u * count);
    hands += static_cast<int>(count);
    // Its face datagram went just before it, with the same timestamp.
    ASSERT_GT(i, 0u);
    EXPECT_EQ(type_of(got[i - 1]), wire::kFace);
    EXPECT_EQ(sequence_of(got[i]), sequence_of(got[i - 1]) + 1);
    EXPECT_EQ(value_of(got[i]), value_of(got[i - 1]));
    frames += 1;
  }
  EXPECT_GE(frames, 30);
  EXPECT_GT(hands, 0);
}

TEST(HandStageEndToEnd, HandsOnWithoutAnAvailableSetSendsNothing) {
  if (!have_shared_models()) GTEST_SKIP() << "no models at " << shared_models();
  const fs::path root = fs::temp_directory_path() / ("bridge-face-only-" + std::to_string(getpid()));
  fs::create_directories(root);
  fs::create_directory_symlink(shared_models() + "/face", root / "face");
  RunningBridge b;
  b.start({"--frames", kFrames, "--models", root.string(), "--hands"});
  const auto s = b.next_status("running", 3000);
  ASSERT_TRUE(s);
  EXPECT_EQ(status_text(*s, "hands_available"), "false");
  const auto start = Clock::now();
  while (seconds_since(start) < 1.0) {
    if (auto d = receive_datagram(b.host, 50)) {
      EXPECT_EQ(type_of(*d), wire::kStatus);
    }
    send_control(b.host, wire::kHeartbeat, 0);
  }
  send_control(b.host, wire::kStop, 0);
  EXPECT_EQ(wait_bridge(b.host, 20000), 0);
  fs::remove_all(root);
}

}  // namespace
}  // namespace bridge_test
