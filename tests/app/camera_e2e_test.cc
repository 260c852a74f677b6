// End-to-end: the real bridge in camera mode and in discovery mode, on
// simulated V4L2 devices preloaded into it (tests/support/fake_v4l2).
#include <csignal>
#include <filesystem>
#include <fstream>

#include "tests/app/bridge_process.h"
#include "wire/control.h"

namespace bridge_test {
namespace {

namespace fs = std::filesystem;

const std::string kDevice = "/dev/videofake0";
const std::string kFrames = "frames " BRIDGE_SHARED_DIR "/frames\n";
const std::string kLost = "\"Camera Fake Camera stopped delivering frames (unplugged?).\"";

// One scripted device set for the bridges this test starts: the script and the
// event log in a folder of their own, and the environment that preloads the
// fake into every child.
struct FakeCameras {
  const ScratchDir scratch{"bridge-camera"};
  const fs::path& dir = scratch.path;

  explicit FakeCameras(const std::string& script) {
    std::ofstream(dir / "script") << script;
    setenv("LD_PRELOAD", BRIDGE_FAKE_V4L2, 1);
    setenv("FAKE_V4L2_SCRIPT", (dir / "script").c_str(), 1);
    setenv("FAKE_V4L2_LOG", (dir / "log").c_str(), 1);
    // The sanitizer runtime wants to be first in the library order; the
    // preloaded fake comes before it, which is harmless here.
    const char* asan = std::getenv("ASAN_OPTIONS");
    setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":verify_asan_link_order=0").c_str(),
           1);
  }
  ~FakeCameras() {
    unsetenv("LD_PRELOAD");
    unsetenv("FAKE_V4L2_SCRIPT");
    unsetenv("FAKE_V4L2_LOG");
  }
  // The event log's lines that begin with `prefix`.
  std::vector<std::string> events(const std::string& prefix = "") const {
    std::ifstream in(dir / "log");
    std::vector<std::string> found;
    for (std::string line; std::getline(in, line);) {
      if (line.rfind(prefix, 0) == 0) found.push_back(line);
    }
    return found;
  }
};

std::string device(const std::string& settings) { return "device " + kDevice + "\n" + settings; }

enum class End { kStop, kSignal, kSilence, kByItself };

// What a bridge sent, and how it ended.
struct CameraRun {
  std::vector<wire::Bytes> sent;
  int exit_status = -1;
};

// Starts a bridge on the fake device with face tracking, keeps it alive until
// it has sent `faces` face datagrams or `running` running statuses (or it
// ended, or a minute passed), then ends it as `end` says and waits for it.
// Judged by what was sent, not by time.
CameraRun run_camera(int faces, End end, int running = 1000) {
  RunningBridge b;
  b.start({"--device", kDevice, "--models", shared_models(), "--face"});
  CameraRun run;
  const auto ended = [&] {
    if (const int status = b.host.child > 0 ? wait_bridge(b.host, 0) : -1; status >= 0) run.exit_status = status;
    return b.host.child <= 0;
  };
  run.sent = b.record([&](auto& got) {
    return count_of(got, wire::kFace) >= faces ||
           statuses_in(got, "running").size() >= size_t(running) || ended();
  });
  if (!ended() && end == End::kStop) send_control(b.host, wire::kStop, 0);
  if (!ended() && end == End::kSignal) kill(b.host.child, SIGTERM);
  // Silence: no more heartbeats, so the bridge ends itself after 3 s.
  for (const auto ending = Clock::now(); !ended() && seconds_since(ending) < 30;)
    if (auto d = receive_datagram(b.host, 50)) run.sent.push_back(*d);
  while (auto d = receive_datagram(b.host, 0)) run.sent.push_back(*d);
  return run;
}

// One kind of device per test case: each is a whole bridge run, slow under
// the sanitizers. A kind also says how its run ends and what the device's
// exposure priority control saw, so every ending is played on some kind.
struct DeviceKind {
  std::string name, settings, camera;
  int width, height;
  End end = End::kStop;
  std::vector<std::string> exposure = {};  // changes as the device saw them
};

void PrintTo(const DeviceKind& k, std::ostream* out) { *out << k.name; }

class CameraKinds : public testing::TestWithParam<DeviceKind> {};

TEST_P(CameraKinds, TrackTheFaceAndReportTheCard) {
  SKIP_WITHOUT_MODELS();
  const DeviceKind& c = GetParam();
  FakeCameras fake(device(c.settings + kFrames));
  const CameraRun run = run_camera(12, c.end);
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_GE(count_of(run.sent, wire::kFace), 12);
  for (const wire::Bytes& d : run.sent) {  // the face is in every early frame
    EXPECT_TRUE(type_of(d) != wire::kFace || d[wire::kHeaderSize] == 1);
  }
  EXPECT_TRUE(statuses_in(run.sent, "error").empty());
  ASSERT_FALSE(statuses_in(run.sent, "starting").empty());
  EXPECT_EQ(status_text(statuses_in(run.sent, "starting")[0], "camera"), "\"" + kDevice + "\"");
  const auto running = statuses_in(run.sent, "running");
  ASSERT_FALSE(running.empty());
  // A stale frame of a burst processed would show as a 64 x 48 frame here.
  for (const wire::Bytes& s : running) {
    EXPECT_EQ(status_text(s, "camera"), c.camera);
    if (status_number(s, "fps") > 0) {
      EXPECT_EQ(status_number(s, "width"), c.width);
      EXPECT_EQ(status_number(s, "height"), c.height);
    }
  }
  // A damaged frame costs only that frame.
  size_t damaged = 0;
  for (const std::string& frame : fake.events("frame ")) damaged += frame.ends_with(" damaged");
  EXPECT_EQ(damaged > 0, c.settings.find("damage") != std::string::npos);
  EXPECT_LE(size_t(count_of(run.sent, wire::kFace)), fake.events("frame ").size() - damaged);
  EXPECT_EQ(fake.events("streamoff").size(), 1u);
  EXPECT_EQ(fake.events("close").size(), 1u);
  EXPECT_EQ(fake.events("exposure"), c.exposure);
}

const std::string kFake = "\"Fake Camera\"";
const std::vector<std::string> kOffThenBack = {"exposure 0", "exposure 1"};
INSTANTIATE_TEST_SUITE_P(
    CameraEndToEnd, CameraKinds,
    testing::Values(
        DeviceKind{"Mjpeg", "card Fake \"HD\" Cam\nformat MJPG 640x480\nexposure 1\n",
                   "\"Fake \\\"HD\\\" Cam\"", 640, 480, End::kStop, kOffThenBack},
        DeviceKind{"YuyvAnsweredForMjpegSigterm", "format YUYV 640x480\nexposure 1\n", kFake, 640,
                   480, End::kSignal, kOffThenBack},
        DeviceKind{"MjpegRefusedYuyvAtAnotherSize",
                   "format YUYV 320x240\nrefuse_other_formats\ngrant 320x240\n", kFake, 320, 240},
        DeviceKind{"EveryCallInterruptedOnceExposureAlreadyOff",
                   "format MJPG 640x480\ninterrupt\nexposure 0\n", kFake, 640, 480},
        DeviceKind{"SixBuffersGrantedHostSilent", "format MJPG 640x480\nbuffers 6\nexposure 1\n",
                   kFake, 640, 480, End::kSilence, kOffThenBack},
        // A driver that always has another frame must not hold the bridge in its drain.
        DeviceKind{"NeverDry", "format YUYV 320x240\nflood\n", kFake, 640, 480},
        // Three frames at once, the two older ones 64 x 48 grey: only the newest counts.
        DeviceKind{"Bursts", "format MJPG 640x480\nrate 10\nburst 3\n", kFake, 640, 480},
        // Corrupt, empty, short (YUYV) or claiming more bytes than its buffer holds.
        DeviceKind{"CorruptMjpeg", "format MJPG 640x480\ndamage corrupt 3\n", kFake, 640, 480},
        DeviceKind{"EmptyMjpeg", "format MJPG 640x480\ndamage empty 2\n", kFake, 640, 480},
        DeviceKind{"OversizedMjpeg", "format MJPG 640x480\ndamage oversized 3\n", kFake, 640, 480},
        DeviceKind{"ShortYuyv", "format YUYV 320x240\ndamage corrupt 3\n", kFake, 640, 480}),
    [](const auto& info) { return info.param.name; });

// A driver that settles on an empty size delivers no frame at all.
TEST(CameraEndToEnd, ADriverOfNoSize) {
  SKIP_WITHOUT_MODELS();
  FakeCameras fake(device("format YUYV 640x480\ngrant 0x0\n" + kFrames));
  const CameraRun run = run_camera(1, End::kStop, 3);
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(count_of(run.sent, wire::kFace), 0);
  EXPECT_EQ(statuses_in(run.sent, "running").size(), 3u);
}

// A device that cannot start is unavailable. One unplugged, or a driver that
// hands out a buffer never granted (the one it filled is then out of reach for
// good, and the buffers would run out one by one while the status reported
// 0 fps for ever), ends the run with the camera lost. Either way the error is
// the last thing sent, and a device still there gets its exposure setting back.
TEST(CameraEndToEnd, AFailingDeviceEndsTheRunWithAnError) {
  SKIP_WITHOUT_MODELS();
  const std::string busy = " is busy; close other programs using it.\"";
  struct Case {
    std::string settings, code, message;
    std::vector<std::string> changes;
  } cases[] = {
      {"busy open\n", "camera_unavailable", "\"Camera " + kDevice + busy, {}},
      {"busy reqbufs\n", "camera_unavailable", "\"Camera Fake Camera" + busy, kOffThenBack},
      {"busy streamon\n", "camera_unavailable", "\"Camera Fake Camera" + busy, kOffThenBack},
      {"buffers 1\n", "camera_unavailable", "\"Camera Fake Camera has no capture buffers.\"", kOffThenBack},
      {"refuse_other_formats\n", "camera_unavailable",
       "\"Camera Fake Camera offers neither MJPEG nor YUYV.\"", {}},
      {"unplug 8 poll\n", "camera_lost", kLost, {"exposure 0"}},
      {"unplug 8 dequeue\n", "camera_lost", kLost, {"exposure 0"}},
      {"stray_index 8\n", "camera_lost", kLost, kOffThenBack},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings);
    const std::string format = c.settings == "refuse_other_formats\n" ? "GREY" : "MJPG";
    FakeCameras fake(device("format " + format + " 640x480\nexposure 1\n" + c.settings + kFrames));
    const CameraRun run = run_camera(1000, End::kByItself);
    EXPECT_EQ(run.exit_status, 1);
    ASSERT_FALSE(run.sent.empty());
    EXPECT_EQ(status_text(run.sent[0], "state"), "\"starting\"");
    if (c.code == "camera_lost") {
      EXPECT_GE(count_of(run.sent, wire::kFace), 1);
      EXPECT_LE(count_of(run.sent, wire::kFace), 8);
    } else {
      EXPECT_EQ(run.sent.size(), 2u);  // "starting", then the error
    }
    const auto errors = statuses_in(run.sent, "error");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(status_text(errors[0], "code"), "\"" + c.code + "\"");
    EXPECT_EQ(status_text(errors[0], "message"), c.message);
    EXPECT_EQ(type_of(run.sent.back()), wire::kStatus);  // nothing after the error
    EXPECT_EQ(fake.events("exposure"), c.changes);
  }
}

TEST(CameraDiscoveryEndToEnd, ListsUsableDevicesInPathOrderWithTheirSizes) {
  FakeCameras fake(
      "device /dev/videofake10\ncard Ten\n"
      "format MJPG 1280x720 640x480\nformat YUYV 640x480 640x360\n"
      "device /dev/videofake2\ncard Two \"q\" \\\nformat YUYV 320x240\n"
      "device /dev/videofake1\ncaps meta streaming\nphysical_caps capture meta streaming\n"
      "format MJPG 640x480\n"  // a camera's metadata node
      "device /dev/videofake3\nlegacy_caps\ncard Old\nformat MJPG 800x600\n"
      "device /dev/videofake4\ncaps capture\nformat MJPG 640x480\n"
      "device /dev/videofake5\nformat H264 640x480\n"
      "device /dev/videofake6\nformat MJPG step\n"
      "device /dev/videofake7\nbusy open\nformat MJPG 640x480\n"
      "device /dev/videofake8\ninterrupt\ncard Eight\nformat GREY 320x240\nformat YUYV 160x120\n"
      "device /dev/videofake9\nendless\ncard Nine\nformat YUYV 320x240 160x120\n"  // never says "no more"
      "device /dev/videofake11\ninterrupt always\nformat MJPG 640x480\n"
      "device /dev/fakecam\nformat MJPG 640x480\n");
  const Finished f = run_to_end({"--port", "0", "--discover"});  // nothing validated in discovery
  EXPECT_EQ(f.status, 0);
  EXPECT_EQ(f.err, "");
  EXPECT_EQ(f.out,
            "{\"cameras\":["
            "{\"path\":\"/dev/videofake2\",\"name\":\"Two \\\"q\\\" \\\\\",\"sizes\":[[320,240]]},"
            "{\"path\":\"/dev/videofake3\",\"name\":\"Old\",\"sizes\":[[800,600]]},"
            "{\"path\":\"/dev/videofake8\",\"name\":\"Eight\",\"sizes\":[[160,120]]},"
            "{\"path\":\"/dev/videofake9\",\"name\":\"Nine\",\"sizes\":[[160,120],[320,240]]},"
            "{\"path\":\"/dev/videofake10\",\"name\":\"Ten\","
            "\"sizes\":[[640,360],[640,480],[1280,720]]}]}\n");
  // Only queries: every device is closed before the next one is opened, and
  // nothing is streamed or changed.
  bool open = false;
  for (const std::string& line : fake.events()) {
    EXPECT_FALSE(open && line != "close") << line;
    open = line.rfind("open", 0) == 0 && line != "open /dev/videofake7";  // that one is busy
  }
  std::vector<std::string> order;
  for (const char* n : {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11"}) {
    order.push_back(std::string("open /dev/videofake") + n);
  }
  EXPECT_EQ(fake.events("open"), order);
  EXPECT_TRUE(fake.events("streamon").empty() && fake.events("exposure").empty());
}

}  // namespace
}  // namespace bridge_test
