// The main loop's rules on a BridgeState of its own: which control datagrams
// count, what new option bits do to the stages, the statistics of a window,
// the field of view handed to the face tracker and an early status after a
// new frame size.
#include "app/main_loop.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/face_stage.h"
#include "app/hand_stage.h"
#include "app/process_frame.h"
#include "app/stop_signal.h"
#include "app/udp_socket.h"
#include "wire/control.h"

namespace {

// A bound UDP socket on 127.0.0.1 and its address.
int bound_socket(sockaddr_in& address) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  address = loopback_address(0);
  socklen_t size = sizeof address;
  EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size), 0);
  return fd;
}

// A state whose socket (bound, not connected, so that the source rule itself
// is tested) hears from a host socket and a stranger's.
struct Loop {
  BridgeState state;
  sockaddr_in bridge{}, stranger_address{};
  int host = -1, stranger = -1;
  Loop() {
    state.socket = bound_socket(bridge);
    fcntl(state.socket, F_SETFL, O_NONBLOCK);
    host = bound_socket(state.host_address);
    stranger = bound_socket(stranger_address);
    state.token[0] = 7;
    stopped = 0;
  }
  ~Loop() {
    for (int fd : {state.socket, host, stranger}) close(fd);
    stopped = 0;
  }
  void send(const wire::Bytes& d, int from = -1) {
    sendto(from < 0 ? host : from, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&bridge), sizeof bridge);
  }
  void control(uint64_t sequence, uint16_t type, uint64_t value = 0) {
    send(wire::control(state.token, sequence, type, value));
  }
};

TEST(DrainControl, OnlyNewerWellFormedControlsFromTheHostCount) {
  Loop l;
  wire::Token wrong = l.state.token;
  wrong[15] = 1;
  wire::Bytes longer = wire::control(l.state.token, 9, wire::kOptions, 3);
  longer.push_back(0);
  l.control(0, wire::kHeartbeat);
  l.send(wire::control(wrong, 9, wire::kOptions, 3));
  l.send(longer);
  l.send(wire::control(l.state.token, 9, wire::kOptions, 3), l.stranger);
  l.control(1, wire::kOptions, 0);  // the current bits: only a sign of life
  l.state.status_due = 5;
  drain_control(l.state, 100);
  EXPECT_EQ(l.state.last_control_sequence, 1u);
  EXPECT_EQ(l.state.last_contact, 100);
  EXPECT_EQ(l.state.option_bits, 0u);
  EXPECT_EQ(l.state.status_due, 5);

  l.control(1, wire::kOptions, 3);  // not newer than the last accepted
  drain_control(l.state, 200);
  EXPECT_EQ(l.state.option_bits, 0u);
  EXPECT_EQ(l.state.last_contact, 100);

  l.control(2, wire::kOptions, 1);  // new bits: reported in this very pass
  drain_control(l.state, 300);
  EXPECT_EQ(l.state.option_bits, 1u);
  EXPECT_EQ(l.state.status_due, 300);

  l.control(3, wire::kStop);
  l.control(4, wire::kHeartbeat);  // a stop does not end the drain
  drain_control(l.state, 400);
  EXPECT_EQ(stopped, 1);
  EXPECT_EQ(l.state.last_control_sequence, 4u);
}

TEST(DrainControl, ReadsAtMost64APass) {
  Loop l;
  for (uint64_t k = 1; k <= 70; ++k) l.control(k, wire::kHeartbeat);
  drain_control(l.state, 1);
  EXPECT_EQ(l.state.last_control_sequence, 64u);
  drain_control(l.state, 2);
  EXPECT_EQ(l.state.last_control_sequence, 70u);
}

// Face tracking switched off makes the next frame start with the detector;
// hand tracking switched off forgets the hands but keeps the models; a new
// lite bit drops the loaded set; every change gives the sets a new chance.
TEST(OptionsChanged, SwitchingOffAndBackResetsTheTrackers) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("main_loop_test_" + std::to_string(getpid()));
  fs::create_directories(root / "hand");
  std::ofstream(root / "hand/hand_landmarks_detector.tflite") << "x";
  BridgeState s;
  s.models_root = root.string();
  s.face_tracker = std::make_unique<FaceTracker>();
  s.face_tracker->tracking = true;
  s.option_bits = wire::kFaceBit | wire::kHandsBit;
  face_stage_options_changed(s);
  EXPECT_TRUE(s.face_tracker->tracking);
  s.option_bits = wire::kHandsBit;
  face_stage_options_changed(s);
  EXPECT_FALSE(s.face_tracker->tracking);

  for (const uint64_t lite : {uint64_t{0}, wire::kLiteBit}) {
    s.hand_tracker = std::make_unique<HandTracker>();
    s.hand_tracker->regions = {RotatedRect{1, 2, 3, 4, 5}};
    s.hand_tracker->frames_since_detection = 3;
    s.hand_model_lite = lite;
    s.hands_message = "earlier failure";
    s.option_bits = wire::kFaceBit | lite;  // hands off, same set
    hand_stage_options_changed(s);
    ASSERT_TRUE(s.hand_tracker);
    EXPECT_TRUE(s.hand_tracker->regions.empty());
    EXPECT_EQ(s.hand_tracker->frames_since_detection, 0);
    EXPECT_EQ(s.hands_message, "");
    EXPECT_EQ(s.hands_available, lite == 0);  // only the full set is there
    s.option_bits = wire::kHandsBit | (lite ^ wire::kLiteBit);  // the other set
    hand_stage_options_changed(s);
    EXPECT_FALSE(s.hand_tracker);
    EXPECT_EQ(s.hands_available, lite != 0);
  }
  // A set that fails to load: reported, and not tried again until new bits.
  s.option_bits = wire::kHandsBit;
  s.hands_available = true;
  EXPECT_TRUE(hand_stage_load(s));
  EXPECT_FALSE(s.hand_tracker);
  EXPECT_FALSE(s.hands_available);
  EXPECT_EQ(s.hands_message, "Cannot load model " + (root / "hand/hand_detector.tflite").string() + ".");
  EXPECT_FALSE(hand_stage_load(s));
  fs::remove_all(root);
}

TEST(FaceStage, VerticalFieldOfViewOfA640x480FrameSeenAt60Degrees) {
  EXPECT_NEAR(vertical_fov(60.0f, 640, 480), 46.83f, 0.01f);
  EXPECT_NEAR(vertical_fov(90.0f, 100, 100), 90.0f, 1e-4f);
}

TEST(ProcessFrame, ANewSizeMakesTheNextStatusDue) {
  BridgeState s;
  s.status_due = -1;
  const Image frame{4, 2, std::vector<uint8_t>(24, 100)};
  process_frame(s, frame);  // tracking off: counted, nothing sent
  EXPECT_GT(s.status_due, 0);
  EXPECT_EQ(s.frame_width, 4);
  s.status_due = -1;
  process_frame(s, frame);
  EXPECT_EQ(s.status_due, -1);
  EXPECT_EQ(s.window.frame_count, 2);
  EXPECT_NEAR(s.window.frame_luma_sum, 200.0, 1.0);
}

}  // namespace
