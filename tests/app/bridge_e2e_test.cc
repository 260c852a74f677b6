// End-to-end: the real bridge executable against a host on loopback.
#include <signal.h>

#include "tests/app/bridge_process.h"
#include "wire/control.h"

namespace bridge_test {
namespace {

// A run past start-up in frames mode without frames: the loop runs, nothing
// is tracked. Face models load at start-up, so the shared models are needed.
std::vector<std::string> idle_args() {
  return {"--frames", "/nonexistent/frames", "--models", shared_models()};
}
#define SKIP_WITHOUT_MODELS() \
  if (!have_shared_models()) GTEST_SKIP() << "no models at " << shared_models()

TEST(BridgeEndToEnd, StartingStatusIsTheFirstDatagramByteForByte) {
  RunningBridge b;
  b.start({"--models", "/nonexistent/models"});  // camera mode, default device
  const auto first = receive_datagram(b.host, 5000);
  ASSERT_TRUE(first);
  EXPECT_EQ(sequence_of(*first), 1u);
  EXPECT_TRUE(std::equal(b.host.token.begin(), b.host.token.end(), first->begin() + 8));
  EXPECT_EQ(payload(*first),
            "{\"state\":\"starting\",\"code\":\"\",\"message\":\"Loading models\xE2\x80\xA6\","
            "\"camera\":\"/dev/video0\",\"width\":0,\"height\":0,\"fps\":0.000000,"
            "\"inference_ms\":0.000000,\"face\":false,\"hands\":false,\"hands_available\":false,"
            "\"hands_message\":\"\",\"frame_luma\":-1.000000,\"face_luma\":-1.000000,"
            "\"hand_luma\":-1.000000,\"face_found\":-1.000000,\"hand_model\":\"\"}");
}

TEST(BridgeEndToEnd, UnopenableCameraIsReportedWithStatusOne) {
  SKIP_WITHOUT_MODELS();
  RunningBridge b;
  b.start({"--device", "/nonexistent/video", "--models", shared_models()});
  const auto error = b.next_status("error", 10000);
  ASSERT_TRUE(error);
  EXPECT_NE(payload(*error).find("\"code\":\"camera_unavailable\",\"message\":\"Cannot open camera "
                                 "/nonexistent/video: No such file or directory.\""),
            std::string::npos);
  EXPECT_EQ(sequence_of(*error), 2u);
  EXPECT_EQ(wait_bridge(b.host, 5000), 1);
}

TEST(BridgeEndToEnd, SilentHostEndsTheRunAfterThreeSeconds) {
  SKIP_WITHOUT_MODELS();
  RunningBridge b;
  b.start(idle_args());
  const auto first = b.next_status("running", 10000);
  ASSERT_TRUE(first);
  EXPECT_EQ(sequence_of(*first), 2u);  // the first pass reports at once
  const auto loop_start = Clock::now();
  int statuses = 1, status = -1;
  while ((status = wait_bridge(b.host, 0)) < 0 && seconds_since(loop_start) < 6) {
    if (b.next_status("running", 100)) ++statuses;
  }
  EXPECT_EQ(status, 0);
  EXPECT_GT(seconds_since(loop_start), 2.9);
  EXPECT_LT(seconds_since(loop_start), 4.0);
  EXPECT_TRUE(statuses == 3 || statuses == 4) << statuses;  // about one a second
}

TEST(BridgeEndToEnd, HeartbeatsKeepItAliveStopAndSigtermEndIt) {
  SKIP_WITHOUT_MODELS();
  for (const bool by_signal : {false, true}) {
    RunningBridge b;
    b.start(idle_args());
    ASSERT_TRUE(b.next_status("running", 10000));
    const auto t0 = Clock::now();
    while (!by_signal && seconds_since(t0) < 3.6) {
      send_control(b.host, wire::kHeartbeat, 0);
      b.skip_for(500);
    }
    EXPECT_EQ(wait_bridge(b.host, 0), -1) << "heartbeats must keep the bridge running";
    if (by_signal) {
      kill(b.host.child, SIGTERM);
    } else {
      send_control(b.host, wire::kStop, 0);
    }
    EXPECT_EQ(wait_bridge(b.host, 2000), 0);
    EXPECT_FALSE(b.next_status("error", 200)) << "a normal end sends no status";
  }
}

TEST(BridgeEndToEnd, NewOptionsAreReportedInTheSamePassAndEqualOnesOnlyKeepAlive) {
  SKIP_WITHOUT_MODELS();
  RunningBridge b;
  b.start(idle_args());
  ASSERT_TRUE(b.next_status("running", 10000));  // the next periodic one is a second away
  send_control(b.host, wire::kOptions, 0);          // the current bits
  EXPECT_FALSE(b.next_status("running", 500));
  const auto t0 = Clock::now();
  send_control(b.host, wire::kOptions, 1);
  const auto changed = b.next_status("running", 900);
  ASSERT_TRUE(changed);
  EXPECT_LT(seconds_since(t0), 0.3);
  EXPECT_NE(payload(*changed).find("\"face\":true,\"hands\":false"), std::string::npos);
}

// Malformed, foreign and stale datagrams neither stall the loop nor keep the
// bridge alive: it ends about 3 s after the last accepted heartbeat.
TEST(BridgeEndToEnd, BurstOfBadDatagramsIsIgnored) {
  SKIP_WITHOUT_MODELS();
  RunningBridge b;
  b.start(idle_args());
  ASSERT_TRUE(b.next_status("running", 10000));
  HostSession stranger = b.host;  // same token and target, another port
  std::string error;
  ASSERT_TRUE(open_host(stranger, error)) << error;
  stranger.token = b.host.token;
  stranger.child = -1;

  b.host.control_sequence = 100;
  send_control(b.host, wire::kHeartbeat, 0);  // sequence 101: the last one accepted
  const auto last_accepted = Clock::now();
  wire::Token wrong = b.host.token;
  wrong[0] ^= 0xFF;
  wire::Bytes too_long = wire::control(b.host.token, 7000, wire::kHeartbeat, 0);
  too_long.resize(200, 0xAB);
  std::vector<double> status_times;
  for (int i = 0; i < 10000; ++i) {
    const wire::Bytes bad[] = {
        wire::control(b.host.token, 0, wire::kHeartbeat, 0),    // sequence 0
        wire::control(b.host.token, 101, wire::kOptions, 3),    // stale
        wire::control(wrong, 5000 + i, wire::kHeartbeat, 0),    // foreign token
        too_long, wire::Bytes(i % 97, static_cast<uint8_t>(i))};
    send_raw(b.host, bad[i % 5]);
    if (i % 7 == 0) send_raw(stranger, wire::control(b.host.token, 5000 + i, wire::kOptions, 3));
    if (i % 200 == 0 && b.next_status("running", 40)) status_times.push_back(seconds_since(last_accepted));
  }
  int status = -1;
  while ((status = wait_bridge(b.host, 0)) < 0 && seconds_since(last_accepted) < 6) {
    if (auto d = b.next_status("running", 50)) {
      status_times.push_back(seconds_since(last_accepted));
      EXPECT_NE(payload(*d).find("\"face\":false,\"hands\":false"), std::string::npos);
    }
  }
  const double ended = seconds_since(last_accepted);
  close_host(stranger);
  EXPECT_EQ(status, 0);
  EXPECT_GT(ended, 2.9);
  EXPECT_LT(ended, 4.0);
  ASSERT_GE(status_times.size(), 2u);
  for (size_t i = 1; i < status_times.size(); ++i) {
    EXPECT_LT(status_times[i] - status_times[i - 1], 1.5) << "statuses must keep coming";
  }
}

TEST(BridgeEndToEnd, CommandLineFailurePrintsOneLineDiscoveryPrintsTheList) {
  Finished f = run_to_end({"--port", "9", "--token", "x"});
  EXPECT_EQ(f.status, 2);
  EXPECT_EQ(f.err, "Port and 32-digit token required\n");
  EXPECT_EQ(f.out, "");
  f = run_to_end({"--port", "0", "--discover"});  // nothing validated in discovery
  EXPECT_EQ(f.status, 0);
  EXPECT_EQ(f.err, "");
  EXPECT_EQ(f.out.rfind("{\"cameras\":[", 0), 0u) << f.out;
  EXPECT_EQ(f.out.substr(f.out.size() - 3), "]}\n");
}

}  // namespace
}  // namespace bridge_test
