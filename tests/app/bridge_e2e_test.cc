// End-to-end: the real bridge executable against a host on loopback.
#include <arpa/inet.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/app/bridge_process.h"
#include "tests/support/compress_jpeg.h"
#include "wire/control.h"

namespace bridge_test {
namespace {

// A run past start-up in frames mode without frames: the loop runs, nothing
// is tracked. Face models load at start-up, so the shared models are needed.
std::vector<std::string> idle_args() {
  return {"--frames", "/nonexistent/frames", "--models", shared_models()};
}

TEST(BridgeEndToEnd, EveryStopSignalEndsWithZeroAlsoDuringStartUp) {
  SKIP_WITHOUT_MODELS();
  for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
    RunningBridge b;
    b.start(idle_args());
    ASSERT_TRUE(b.next_status("starting", 5000));  // the face models load next
    kill(b.host.child, signal);
    EXPECT_EQ(wait_bridge(b.host, 5000), 0) << "signal " << signal;
  }
}

// Started from a thread that then ends (not the end of the host's process:
// the parent-death signal, were it used, would be armed and fire), the bridge
// stays with a host that keeps talking through being held up, a flood from
// another local port and the host's port closed for a moment; once the host
// falls silent it ends the run.
TEST(BridgeEndToEnd, StaysWithAHostThatKeepsTalkingEndsAfterThreeSilentSeconds) {
  SKIP_WITHOUT_MODELS();
  RunningBridge b;
  std::thread([&] {
    b.start(idle_args());
    const auto first = b.next_status("running", 10000);
    EXPECT_TRUE(first && sequence_of(*first) == 2u) << "the first pass reports at once";
  }).join();

  // Held up (a stopped process, a long frame), it finds the host's
  // heartbeats waiting in its socket: it reads them before judging liveness.
  kill(b.host.child, SIGSTOP);
  b.keep_alive(3.5, 250);
  kill(b.host.child, SIGCONT);
  b.skip_for(300);
  send_control(b.host, wire::kHeartbeat, 0);
  EXPECT_TRUE(b.next_status("running", 2000));
  EXPECT_EQ(wait_bridge(b.host, 0), -1) << "the host spoke while the bridge was held";

  // Datagrams with the right token from the wrong source flood its port: the
  // host's messages still get through at once.
  HostSession stranger = b.host;
  std::string error;
  ASSERT_TRUE(open_host(stranger, error)) << error;
  stranger.child = -1;
  std::atomic<bool> done{false};
  std::thread flood([&] {
    const auto start = Clock::now();
    for (uint64_t i = 0; i < 50'000'000 && !done && seconds_since(start) < 20; ++i) {
      send_raw(stranger, wire::control(b.host.token, 1000 + i, wire::kHeartbeat, 0));
    }
  });
  b.skip_for(300);  // the flood has long filled any queue it can reach
  send_control(b.host, wire::kOptions, 1);
  // Reported at once: the next running status, or the one after when one
  // was on its way already.
  const auto first = b.next_status("running", 3000), second = b.next_status("running", 3000);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(status_text(*second, "face"), "true") << "the host's options must be applied during the flood";
  b.keep_alive(3.5, 250);
  EXPECT_EQ(wait_bridge(b.host, 0), -1) << "the host's heartbeats must keep it alive";
  done = true;
  flood.join();
  close_host(stranger);

  // The host closes its port for a moment (a restart): the bridge's
  // datagrams are refused meanwhile, which its socket reports on a later
  // receive. That is no reason to stop listening once the host is back.
  send_control(b.host, wire::kHeartbeat, 0);
  close(b.host.socket);
  usleep(1'200'000);  // at least one status goes to the closed port
  b.host.socket = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a = b.host.bridge_address;
  a.sin_port = htons(static_cast<uint16_t>(b.host.port));
  ASSERT_EQ(bind(b.host.socket, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  b.keep_alive(1.2, 400);
  EXPECT_TRUE(b.next_status("running", 2000));
  EXPECT_EQ(wait_bridge(b.host, 0), -1);

  // A last heartbeat just after that status, then silence: a status a second
  // by the bridge's own clock, at 0, 1, 2 (and 3) s, until it ends.
  send_control(b.host, wire::kHeartbeat, 0);
  const auto silent = Clock::now();
  int statuses = 1, status = -1;
  while ((status = wait_bridge(b.host, 0)) < 0 && seconds_since(silent) < 10) {
    if (b.next_status("running", 100)) ++statuses;
  }
  while (b.next_status("running", 100)) ++statuses;  // sent just before the end
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(statuses == 3 || statuses == 4) << statuses;
}

// (The camera list written: camera_e2e_test.cc.)
TEST(BridgeEndToEnd, CommandLineFailurePrintsOneLineAnUnwrittenListFails) {
  Finished f = run_to_end({"--port", "9", "--token", "x"});
  EXPECT_EQ(f.status, 2);
  EXPECT_EQ(f.err, "Port and 32-digit token required\n");
  EXPECT_EQ(f.out, "");
  f = run_to_end({"--discover"}, "/dev/full");  // a list nobody got is no success
  EXPECT_EQ(f.status, 1);
  EXPECT_EQ(f.err, "Cannot write the camera list: No space left on device.\n");
}

// The host's process ends while its socket lives on (here in the test, which
// keeps heartbeating): the bridge ends at once rather than stay for another
// process to take the host's place.
TEST(BridgeEndToEnd, EndsWhenTheProcessThatStartedItEnds) {
  SKIP_WITHOUT_MODELS();
  // Orphans come to the test, so that it can wait for the bridge.
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  const ScratchDir scratch("bridge-parent");
  const std::string dir = scratch.path;
  std::ofstream(dir + "/parent") << "#!/bin/sh\n" << bridge_path() << " \"$@\" &\necho $! > " << dir << "/pid\nsleep 2\n";
  std::filesystem::permissions(dir + "/parent", std::filesystem::perms::owner_all);
  RunningBridge b;
  b.start(idle_args(), dir + "/parent");
  ASSERT_TRUE(b.next_status("running", 10000));
  int parent_status = -1;
  while ((parent_status = wait_bridge(b.host, 0)) < 0) {
    send_control(b.host, wire::kHeartbeat, 0);
    b.skip_for(20);
  }
  ASSERT_EQ(parent_status, 0);
  const auto parent_gone = Clock::now();
  HostSession bridge;
  std::ifstream(dir + "/pid") >> bridge.child;
  ASSERT_GT(bridge.child, 0);
  int status = -1;
  while ((status = wait_bridge(bridge, 0)) < 0 && seconds_since(parent_gone) < 5) {
    send_control(b.host, wire::kHeartbeat, 0);
    b.skip_for(20);
  }
  EXPECT_EQ(status, 0);  // not on silence: the heartbeats went on
  close_host(bridge);
}

// Scarce descriptors, memory and stack end as a reported error or cost
// single frames; never a silent abort.
TEST(BridgeEndToEnd, ScarceDescriptorsMemoryAndStack) {
  SKIP_WITHOUT_MODELS();
  {
    // Standard streams and the socket take all four: the first model file
    // says why. (Whatever else the test inherited is closed first.)
    // (The leak checker of a sanitizer build needs descriptors of its own at exit.)
    BridgeScript few_descriptors(std::string(kSanitized ? "export ASAN_OPTIONS=detect_leaks=0; " : "") +
                                 "exec 3>&- 4>&- 5>&- 6>&- 7>&- 8>&- 9>&-; ulimit -n 4");
    RunningBridge b;
    b.start(idle_args(), few_descriptors.path);
    const auto error = b.next_status("error", 10000);
    ASSERT_TRUE(error);
    EXPECT_EQ(status_text(*error, "code"), "\"models_missing\"");
    EXPECT_NE(status_text(*error, "message").find("face_detector.tflite: Too many open files.\""),
              std::string::npos)
        << payload(*error);
    EXPECT_EQ(wait_bridge(b.host, 3000), 1);
  }
  if (kSanitized) GTEST_SKIP() << "the sanitizers need more address space and stack";
  // Frames that need more memory than there is: one whose header claims
  // 8192 x 8192 pixels in a few hundred bytes, one whose data does describe
  // them (two bits a block) but whose 192 MiB the limit does not allow.
  const ScratchDir scratch("bridge-scarce");
  const std::filesystem::path& frames = scratch.path;
  std::ifstream in(BRIDGE_SHARED_DIR "/frames/000001.jpg", std::ios::binary);
  const std::string good((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string claiming = good;
  const size_t sof = claiming.find("\xFF\xC0");
  ASSERT_NE(sof, std::string::npos);
  claiming.replace(sof + 5, 4, std::string("\x20\x00\x20\x00", 4));
  const std::string head = claiming.substr(0, claiming.find("\xFF\xDA"));
  std::ofstream(frames / "a.jpg", std::ios::binary) << good;
  std::ofstream(frames / "b.jpg", std::ios::binary) << head << claiming.substr(head.size(), 100) << "\xFF\xD9";
  for (const std::string limits : {"ulimit -s 64", "ulimit -v 163840"}) {
    SCOPED_TRACE(limits);
    if (limits == "ulimit -v 163840") {
      std::ofstream(frames / "c.jpg", std::ios::binary)
          << claiming.substr(0, claiming.size() - 2) << std::string(1 << 18, '\0') << "\xFF\xD9";
    }
    BridgeScript scarce(limits);
    RunningBridge b;
    b.start({"--frames", frames.string(), "--models", shared_models(), "--face", "--hands"},
            scarce.path);
    const auto got = b.record([](auto& got) { return statuses_in(got, "running").size() >= 4; });
    for (const wire::Bytes& d : got) {
      EXPECT_NE(status_text(d, "state"), "\"error\"") << payload(d);
      EXPECT_NE(status_number(d, "width"), 8192) << payload(d);
    }
    EXPECT_EQ(statuses_in(got, "running").size(), 4u);
    EXPECT_GT(count_of(got, wire::kFace), 0);
    b.stop();
  }
  // Less memory than start-up needs, at any point: an "error" status and
  // status 1, whichever allocation fails.
  for (int mib = 24; mib <= 120; mib += 24) {
    SCOPED_TRACE(mib);
    BridgeScript scarce("ulimit -v " + std::to_string(mib * 1024));
    RunningBridge b;
    b.start({"--frames", BRIDGE_SHARED_DIR "/frames", "--models", shared_models(), "--face", "--hands"},
            scarce.path);
    int status = -1;
    auto got = b.record([&](auto&) { return (status = wait_bridge(b.host, 0)) >= 0; }, 4);
    while (auto d = receive_datagram(b.host, 0)) got.push_back(*d);
    if (status < 0) continue;  // enough to run
    EXPECT_EQ(status, 1);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(status_text(got.back(), "state"), "\"error\"") << payload(got.back());
  }
}

void write_jpeg(const std::filesystem::path& path, int width, int height, uint8_t grey) {
  const auto jpeg = compress_jpeg(std::vector<uint8_t>(size_t(width) * height * 3, grey), width, height, TJSAMP_420);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(jpeg.data()), std::streamsize(jpeg.size()));
}

// The bridge playing a folder of JPEG files.
TEST(FramesEndToEnd, PlaysMatchingNamesInByteOrderAndReportsEachSizeChange) {
  SKIP_WITHOUT_MODELS();
  ScratchDir dir("bridge-frames");
  write_jpeg(dir.path / "b.jpg", 96, 64, 200);
  write_jpeg(dir.path / "a.jpeg", 64, 64, 50);
  write_jpeg(dir.path / "ab.jpg", 80, 64, 50);
  write_jpeg(dir.path / "c.JPG", 128, 128, 0);  // wrong case
  write_jpeg(dir.path / ".jpg", 200, 200, 0);   // name too short
  std::ofstream(dir.path / "notes.txt") << "not a frame";
  RunningBridge b;
  b.start({"--frames", dir.path.string(), "--models", shared_models()});
  const auto got = b.record([&](auto& got) { return count_of(got, wire::kStatus) > 8; }, 30);
  b.stop();
  std::vector<int> widths;
  for (const wire::Bytes& s : statuses_in(got, "running")) {
    if (status_number(s, "width") != 0) widths.push_back(static_cast<int>(status_number(s, "width")));
  }
  // Every frame changes the size, so each one is reported in the next pass.
  ASSERT_GE(widths.size(), 6u);
  widths.resize(6);
  EXPECT_EQ(widths, (std::vector<int>{64, 80, 96, 64, 80, 96}));
}

}  // namespace
}  // namespace bridge_test
