// End-to-end: the real bridge executable against a host on loopback.
#include <arpa/inet.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

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
  while ((status = wait_bridge(b.host, 0)) < 0 && seconds_since(loop_start) < 8) {
    if (b.next_status("running", 100)) ++statuses;
  }
  while (b.next_status("running", 100)) ++statuses;  // sent just before the end
  EXPECT_EQ(status, 0);
  // A status a second at 0, 1, 2 (and 3) s of the bridge's own clock tells
  // how long it ran; the host's clock only bounds it loosely.
  EXPECT_TRUE(statuses == 3 || statuses == 4) << statuses;
  EXPECT_GT(seconds_since(loop_start), 2.5);
  EXPECT_LT(seconds_since(loop_start), 6.0);
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
  // Right after a periodic status, a change is reported long before the
  // next periodic one is due (the pass takes tens of milliseconds).
  ASSERT_TRUE(b.next_status("running", 2000));
  const auto t0 = Clock::now();
  send_control(b.host, wire::kOptions, 1);
  const auto changed = b.next_status("running", 900);
  ASSERT_TRUE(changed);
  EXPECT_LT(seconds_since(t0), 0.7);
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
  while ((status = wait_bridge(b.host, 0)) < 0 && seconds_since(last_accepted) < 8) {
    if (auto d = b.next_status("running", 50)) {
      status_times.push_back(seconds_since(last_accepted));
      EXPECT_NE(payload(*d).find("\"face\":false,\"hands\":false"), std::string::npos);
    }
  }
  const double ended = seconds_since(last_accepted);
  close_host(stranger);
  EXPECT_EQ(status, 0);
  EXPECT_GT(ended, 2.5);
  EXPECT_LT(ended, 6.0);
  ASSERT_GE(status_times.size(), 2u);
  for (size_t i = 1; i < status_times.size(); ++i) {
    EXPECT_LT(status_times[i] - status_times[i - 1], 2.0) << "statuses must keep coming";
  }
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

// A bridge held up (a stopped process, a long frame) finds the host's
// heartbeats waiting in its socket: it reads them before judging liveness.
TEST(BridgeEndToEnd, HeartbeatsQueuedWhileItWasHeldKeepItAlive) {
  SKIP_WITHOUT_MODELS();
  RunningBridge b;
  b.start(idle_args());
  ASSERT_TRUE(b.next_status("running", 10000));
  kill(b.host.child, SIGSTOP);
  const auto held = Clock::now();
  while (seconds_since(held) < 3.5) {
    send_control(b.host, wire::kHeartbeat, 0);
    b.skip_for(250);
  }
  kill(b.host.child, SIGCONT);
  b.skip_for(300);
  send_control(b.host, wire::kHeartbeat, 0);
  EXPECT_TRUE(b.next_status("running", 2000));
  EXPECT_EQ(wait_bridge(b.host, 0), -1) << "the host spoke while the bridge was held";
  send_control(b.host, wire::kStop, 0);
  EXPECT_EQ(wait_bridge(b.host, 2000), 0);
}

// Another local program floods the bridge's port with datagrams (right
// token, wrong source): the host's messages still get through at once.
TEST(BridgeEndToEnd, FloodFromAnotherLocalPortDoesNotCrowdOutTheHost) {
  SKIP_WITHOUT_MODELS();
  RunningBridge b;
  b.start(idle_args());
  ASSERT_TRUE(b.next_status("running", 10000));
  HostSession stranger = b.host;
  std::string error;
  ASSERT_TRUE(open_host(stranger, error)) << error;
  stranger.child = -1;
  std::atomic<bool> done{false};
  std::thread flood([&] {
    const auto start = Clock::now();
    for (uint64_t i = 0; i < 5'000'000 && !done && seconds_since(start) < 5; ++i) {
      send_raw(stranger, wire::control(b.host.token, 1000 + i, wire::kHeartbeat, 0));
    }
  });
  b.skip_for(300);  // the flood has long filled any queue it can reach
  send_control(b.host, wire::kOptions, 1);
  bool reported = false;
  for (const auto t0 = Clock::now(); !reported && seconds_since(t0) < 1.0;) {
    const auto d = b.next_status("running", 100);
    reported = d && payload(*d).find("\"face\":true") != std::string::npos;
  }
  for (int i = 0; i < 4; ++i) {
    send_control(b.host, wire::kHeartbeat, 0);
    b.skip_for(250);
  }
  done = true;
  flood.join();
  close_host(stranger);
  EXPECT_TRUE(reported) << "the host's options must be applied during the flood";
  EXPECT_EQ(wait_bridge(b.host, 0), -1) << "the host's heartbeats must keep it alive";
  send_control(b.host, wire::kStop, 0);
  EXPECT_EQ(wait_bridge(b.host, 2000), 0);
}

// The host closes its port for a moment (a restart): the bridge's datagrams
// are refused meanwhile, which its socket reports on a later receive. That
// is no reason to stop listening once the host is back on the same port.
TEST(BridgeEndToEnd, HostPortClosedForAMomentIsNoFailure) {
  SKIP_WITHOUT_MODELS();
  RunningBridge b;
  b.start(idle_args());
  ASSERT_TRUE(b.next_status("running", 10000));
  send_control(b.host, wire::kHeartbeat, 0);
  close(b.host.socket);
  usleep(1'200'000);  // at least one status goes to the closed port
  b.host.socket = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a = b.host.bridge_address;
  a.sin_port = htons(static_cast<uint16_t>(b.host.port));
  ASSERT_EQ(bind(b.host.socket, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  for (int i = 0; i < 3; ++i) {
    send_control(b.host, wire::kHeartbeat, 0);
    b.skip_for(400);
  }
  EXPECT_TRUE(b.next_status("running", 2000));
  EXPECT_EQ(wait_bridge(b.host, 0), -1);
  send_control(b.host, wire::kStop, 0);
  EXPECT_EQ(wait_bridge(b.host, 2000), 0);
}

// A FIFO (whose open would wait for a writer), a device or a file under
// /proc (which never end) in place of a face model file is a missing model,
// refused at once (within the 5 s allowed here, not after reading a
// gigabyte of it).
TEST(BridgeEndToEnd, SpecialFileInPlaceOfAFaceFileIsAMissingModel) {
  SKIP_WITHOUT_MODELS();
  namespace fs = std::filesystem;
  const struct {
    const char* name;
    const char* special;  // "fifo", or the target of a link
    const char* message;
    const char* end;
  } cases[] = {
      {"face_detector.tflite", "fifo", "Cannot load model ", ": not a regular file."},
      {"face_blendshapes.tflite", "/dev/zero", "Cannot load model ", ": not a regular file."},
      {"face_landmarks_detector.tflite", "/proc/self/pagemap", "Cannot load model ",
       ": longer than it claims."},
      {"geometry_pipeline_metadata_landmarks.binarypb", "fifo", "Invalid face geometry metadata: ", "."},
      {"geometry_pipeline_metadata_landmarks.binarypb", "/dev/zero", "Invalid face geometry metadata: ",
       "."}};
  const fs::path root =
      fs::temp_directory_path() / ("bridge-special-models-" + std::to_string(getpid()));
  for (const auto& c : cases) {
    fs::remove_all(root);
    fs::create_directories(root / "face");
    for (const auto& entry : fs::directory_iterator(shared_models() + "/face")) {
      const fs::path name = entry.path().filename();
      if (name != c.name) fs::create_symlink(entry.path(), root / "face" / name);
    }
    const fs::path special = root / "face" / c.name;
    if (c.special == std::string("fifo")) {
      ASSERT_EQ(mkfifo(special.c_str(), 0600), 0);
    } else {
      fs::create_symlink(c.special, special);
    }
    RunningBridge b;
    b.start({"--frames", "/nonexistent/frames", "--models", root.string()});
    const auto error = b.next_status("error", 5000);
    ASSERT_TRUE(error) << special;
    EXPECT_NE(payload(*error).find("\"code\":\"models_missing\",\"message\":\"" +
                                   std::string(c.message) + special.string() + c.end + "\""),
              std::string::npos)
        << payload(*error);
    EXPECT_EQ(wait_bridge(b.host, 3000), 1) << special;
  }
  fs::remove_all(root);
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
  f = run_to_end({"--discover"}, "/dev/full");  // a list nobody got is no success
  EXPECT_EQ(f.status, 1);
  EXPECT_EQ(f.err, "Cannot write the camera list: No space left on device.\n");
}

// The host's process ends while its socket lives on (here in the test, which
// keeps heartbeating): the bridge ends at once rather than stay for another
// process to take the host's place. Starting it from a thread that then
// ends is no such end.
TEST(BridgeEndToEnd, EndsWhenTheProcessThatStartedItEndsNotItsThread) {
  SKIP_WITHOUT_MODELS();
  // Orphans come to the test, so that it can wait for the bridge.
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  const std::string dir = std::filesystem::temp_directory_path() / ("bridge-parent-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  {
    std::ofstream(dir + "/parent") << "#!/bin/sh\n" << bridge_path() << " \"$@\" &\necho $! > " << dir
                                   << "/pid\nsleep 2\n";
  }
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
  EXPECT_EQ(status, 0);
  EXPECT_LT(seconds_since(parent_gone), 1.0);  // not the 3 s of silence: there was none
  close_host(bridge);
  std::filesystem::remove_all(dir);

  // The thread ends once the bridge runs (the parent-death signal, were it
  // used, would then be armed and fire).
  RunningBridge threaded;
  std::thread([&] {
    threaded.start(idle_args());
    EXPECT_TRUE(threaded.next_status("running", 10000));
  }).join();
  const auto start = Clock::now();
  int statuses = 0;
  while (seconds_since(start) < 2.5) {
    statuses += bool(threaded.next_status("running", 100));
    send_control(threaded.host, wire::kHeartbeat, 0);
  }
  EXPECT_GE(statuses, 2);
  EXPECT_EQ(wait_bridge(threaded.host, 0), -1) << "still running";
  send_control(threaded.host, wire::kStop, 0);
  EXPECT_EQ(wait_bridge(threaded.host, 3000), 0);
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
  const std::filesystem::path frames =
      std::filesystem::temp_directory_path() / ("bridge-scarce-" + std::to_string(getpid()));
  std::filesystem::create_directories(frames);
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
    int statuses = 0, faces = 0;
    const auto start = Clock::now();
    while (statuses < 4 && seconds_since(start) < 60 && wait_bridge(b.host, 0) < 0) {
      if (auto d = receive_datagram(b.host, 50)) {
        if (type_of(*d) == wire::kStatus) {
          EXPECT_NE(status_text(*d, "state"), "\"error\"") << payload(*d);
          EXPECT_NE(status_number(*d, "width"), 8192) << payload(*d);
          statuses += status_text(*d, "state") == "\"running\"";
        }
        faces += type_of(*d) == wire::kFace;
      }
      send_control(b.host, wire::kHeartbeat, 0);
    }
    EXPECT_EQ(statuses, 4);
    EXPECT_GT(faces, 0);
    send_control(b.host, wire::kStop, 0);
    EXPECT_EQ(wait_bridge(b.host, 10000), 0);
  }
  std::filesystem::remove_all(frames);
  // Less memory than start-up needs, at any point: an "error" status and
  // status 1, whichever allocation fails.
  for (int mib = 24; mib <= 120; mib += 24) {
    SCOPED_TRACE(mib);
    BridgeScript scarce("ulimit -v " + std::to_string(mib * 1024));
    RunningBridge b;
    b.start({"--frames", BRIDGE_SHARED_DIR "/frames", "--models", shared_models(), "--face", "--hands"},
            scarce.path);
    std::optional<wire::Bytes> last;
    int status = -1;
    const auto start = Clock::now();
    while ((status = wait_bridge(b.host, 0)) < 0 && seconds_since(start) < 4) {
      if (auto d = receive_datagram(b.host, 50); d && type_of(*d) == wire::kStatus) last = d;
      send_control(b.host, wire::kHeartbeat, 0);
    }
    while (auto d = receive_datagram(b.host, 0)) if (type_of(*d) == wire::kStatus) last = d;
    if (status < 0) continue;  // enough to run
    EXPECT_EQ(status, 1);
    ASSERT_TRUE(last);
    EXPECT_EQ(status_text(*last, "state"), "\"error\"") << payload(*last);
  }
}

}  // namespace
}  // namespace bridge_test
