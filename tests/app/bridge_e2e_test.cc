// End-to-end: the real bridge executable against a host on loopback.
#include <signal.h>
#include <sys/socket.h>

#include <chrono>
#include <thread>

#include "tests/app/bridge_process.h"
#include "wire/control.h"

namespace bridge_test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

double seconds_since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// A run past start-up in frames mode without frames: the loop runs, nothing
// is tracked. Face models must load at start-up, so the shared models are used.
#define SKIP_WITHOUT_MODELS() \
  if (!have_shared_models()) GTEST_SKIP() << "no models at " << shared_models()

std::vector<std::string> idle_args(std::vector<std::string> extra = {}) {
  std::vector<std::string> a = {"--frames", "/nonexistent/frames", "--models", shared_models()};
  a.insert(a.end(), extra.begin(), extra.end());
  return a;
}

TEST(BridgeEndToEnd, StartingStatusIsTheFirstDatagramByteForByte) {
  RunningBridge b;
  b.start({"--models", "/nonexistent/models"});  // camera mode, default device
  const auto first = receive_datagram(b.host, 5000);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->size(), 48u + 319u);
  EXPECT_EQ(sequence_of(*first), 1u);
  EXPECT_EQ(payload(*first),
            "{\"state\":\"starting\",\"code\":\"\",\"message\":\"Loading models\xE2\x80\xA6\","
            "\"camera\":\"/dev/video0\",\"width\":0,\"height\":0,\"fps\":0.000000,"
            "\"inference_ms\":0.000000,\"face\":false,\"hands\":false,\"hands_available\":false,"
            "\"hands_message\":\"\",\"frame_luma\":-1.000000,\"face_luma\":-1.000000,"
            "\"hand_luma\":-1.000000,\"face_found\":-1.000000,\"hand_model\":\"\"}");
  EXPECT_TRUE(std::equal(b.host.token.begin(), b.host.token.end(), first->begin() + 8));
  send_control(b.host, wire::kStop, 0);
}

TEST(BridgeEndToEnd, UnopenableCameraIsReportedWithStatusOne) {
  SKIP_WITHOUT_MODELS();
  RunningBridge b;
  b.start({"--device", "/nonexistent/video", "--models", shared_models()});
  ASSERT_TRUE(b.next_status("starting", 5000));
  const auto error = b.next_status("error", 10000);
  ASSERT_TRUE(error);
  EXPECT_NE(payload(*error).find("\"code\":\"camera_unavailable\",\"message\":\"Cannot open camera "
                                 "/nonexistent/video: No such file or directory.\""),
            std::string::npos)
      << payload(*error);
  EXPECT_EQ(sequence_of(*error), 2u);
  EXPECT_EQ(wait_bridge(b.host, 5000), 1);
}

TEST(BridgeEndToEnd, SilentHostEndsTheRunAfterThreeSeconds) {
  SKIP_WITHOUT_MODELS();
  RunningBridge b;
  b.start(idle_args());
  const auto first = b.next_status("running", 10000);
  ASSERT_TRUE(first);
  const auto loop_start = Clock::now();
  EXPECT_EQ(sequence_of(*first), 2u);
  int statuses = 1;
  int status = -1;
  while ((status = wait_bridge(b.host, 0)) < 0 && seconds_since(loop_start) < 6) {
    if (b.next_status("running", 100)) ++statuses;
  }
  const double ran = seconds_since(loop_start);
  EXPECT_EQ(status, 0);
  EXPECT_GT(ran, 2.9);
  EXPECT_LT(ran, 4.0);
  EXPECT_GE(statuses, 3);  // about one a second, the first in the first pass
  EXPECT_LE(statuses, 4);
}

TEST(BridgeEndToEnd, HeartbeatsKeepItAliveAndStopEndsItQuietly) {
  SKIP_WITHOUT_MODELS();
  RunningBridge b;
  b.start(idle_args());
  ASSERT_TRUE(b.next_status("running", 10000));
  const auto t0 = Clock::now();
  while (seconds_since(t0) < 3.6) {
    send_control(b.host, wire::kHeartbeat, 0);
    b.next([](const wire::Bytes&) { return false; }, 500);
  }
  EXPECT_EQ(wait_bridge(b.host, 0), -1) << "heartbeats must keep the bridge running";
  send_control(b.host, wire::kStop, 0);
  EXPECT_EQ(wait_bridge(b.host, 2000), 0);
  while (auto d = receive_datagram(b.host, 100)) {
    EXPECT_FALSE(is_status(*d, "error")) << payload(*d);
  }
}

TEST(BridgeEndToEnd, SigtermEndsWithStatusZero) {
  SKIP_WITHOUT_MODELS();
  RunningBridge b;
  b.start(idle_args());
  ASSERT_TRUE(b.next_status("running", 10000));
  kill(b.host.child, SIGTERM);
  EXPECT_EQ(wait_bridge(b.host, 2000), 0);
  while (auto d = receive_datagram(b.host, 100)) {
    EXPECT_FALSE(is_status(*d, "error")) << payload(*d);
  }
}

TEST(BridgeEndToEnd, NewOptionsAreReportedInTheSamePassAndEqualOnesOnlyKeepAlive) {
  SKIP_WITHOUT_MODELS();
  RunningBridge b;
  b.start(idle_args());
  ASSERT_TRUE(b.next_status("running", 10000));  // the next periodic one is a second away
  send_control(b.host, wire::kOptions, 0);          // same bits as now
  EXPECT_FALSE(b.next_status("running", 500));
  const auto t0 = Clock::now();
  send_control(b.host, wire::kOptions, 1);
  const auto changed = b.next_status("running", 900);
  ASSERT_TRUE(changed);
  EXPECT_LT(seconds_since(t0), 0.3);
  EXPECT_NE(payload(*changed).find("\"face\":true,\"hands\":false"), std::string::npos);
  send_control(b.host, wire::kStop, 0);
  EXPECT_EQ(wait_bridge(b.host, 5000), 0);
}

// A burst of malformed, foreign and stale datagrams neither stalls the loop
// nor keeps the bridge alive: it ends about 3 s after the last accepted heartbeat.
TEST(BridgeEndToEnd, BurstOfBadDatagramsIsIgnored) {
  SKIP_WITHOUT_MODELS();
  RunningBridge b;
  b.start(idle_args());
  ASSERT_TRUE(b.next_status("running", 10000));

  HostSession stranger;  // same token, another port
  std::string error;
  ASSERT_TRUE(open_host(stranger, error)) << error;
  stranger.token = b.host.token;
  stranger.bridge_address = b.host.bridge_address;
  stranger.bridge_known = true;

  b.host.control_sequence = 100;
  send_control(b.host, wire::kHeartbeat, 0);  // sequence 101: the last one accepted
  const auto last_accepted = Clock::now();
  wire::Token wrong = b.host.token;
  wrong[0] ^= 0xFF;
  std::vector<double> status_times;
  for (int i = 0; i < 10000; ++i) {
    switch (i % 6) {
      case 0: send_raw(b.host, wire::control(b.host.token, 0, wire::kHeartbeat, 0)); break;
      case 1: send_raw(b.host, wire::control(b.host.token, 101, wire::kOptions, 3)); break;
      case 2: send_raw(b.host, wire::control(wrong, 5000 + i, wire::kHeartbeat, 0)); break;
      case 3: send_raw(stranger, wire::control(b.host.token, 5000 + i, wire::kOptions, 3)); break;
      case 4: {
        wire::Bytes long_one = wire::control(b.host.token, 5000 + i, wire::kHeartbeat, 0);
        long_one.resize(200, 0xAB);
        send_raw(b.host, long_one);
        break;
      }
      default: send_raw(b.host, wire::Bytes(i % 97, static_cast<uint8_t>(i))); break;
    }
    if (i % 200 == 0) {
      // Spread the burst over about two seconds and watch the statuses meanwhile.
      if (auto d = b.next_status("running", 40)) {
        status_times.push_back(seconds_since(last_accepted));
        EXPECT_NE(payload(*d).find("\"face\":false,\"hands\":false"), std::string::npos);
      }
    }
  }
  int status = -1;
  while ((status = wait_bridge(b.host, 0)) < 0 && seconds_since(last_accepted) < 6) {
    if (b.next_status("running", 50)) status_times.push_back(seconds_since(last_accepted));
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

TEST(BridgeEndToEnd, CommandLineFailuresPrintOneLineAndExitTwo) {
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const std::string token = "0123456789abcdef0123456789abcdef";
  const std::vector<Case> cases = {
      {{}, "Port and 32-digit token required\n"},
      {{"--port"}, "Unknown/missing argument: --port\n"},
      {{"-p", "1"}, "Unknown/missing argument: -p\n"},
      {{"--width", "abc"}, "stoi\n"},
      {{"--fov", "x"}, "stof\n"},
      {{"--port", "0", "--token", token}, "Port and 32-digit token required\n"},
      {{"--port", "9", "--token", token, "--fov", "nan"},
       "Invalid camera size, field of view or device\n"},
      {{"--discover", "--nope"}, "Unknown/missing argument: --nope\n"},
  };
  for (const Case& c : cases) {
    const Finished f = run_to_end(c.args);
    EXPECT_EQ(f.status, 2) << c.err;
    EXPECT_EQ(f.err, c.err);
    EXPECT_EQ(f.out, "");
  }
}

TEST(BridgeEndToEnd, DiscoveryPrintsTheCameraListWithoutValidating) {
  const Finished f = run_to_end({"--port", "0", "--discover"});
  EXPECT_EQ(f.status, 0);
  EXPECT_EQ(f.err, "");
  EXPECT_EQ(f.out.rfind("{\"cameras\":[", 0), 0u) << f.out;
  EXPECT_EQ(f.out.substr(f.out.size() - 3), "]}\n");
}

}  // namespace
}  // namespace bridge_test
