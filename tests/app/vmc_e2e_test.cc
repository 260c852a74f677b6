// bridge-host --vmc as built: what its command line refuses, and a run over
// the sample frames received by a VMC receiver we did not write, liblo's
// oscdump. Judged by what arrived, whatever the pace: the run lasts until 60
// frames came, and every complete frame holds each message once (32 bones,
// 61 expressions), with the right names, argument types and value ranges.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/app/bridge_process.h"
#include "tools/bridge-host/vmc_fingers.h"
#include "tools/bridge-host/vmc_presets.h"
#include "wire/blendshape_names.h"

namespace {

using bridge_test::spawn;
using bridge_test::wait_child;
const std::string kShared = BRIDGE_SHARED_DIR, kHost = BRIDGE_BINARY_DIR "/tools/bridge-host/bridge-host";

// Binds a loopback UDP port (0: any free one) and lets it go: the port, or -1 when it is taken.
int bind_port(int port) {
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  const bool bound = bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                     getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) == 0;
  close(s);
  return bound ? ntohs(a.sin_port) : -1;
}

// One line of oscdump: the address, the type tags and the arguments (names unquoted).
struct Line {
  std::string path, types;
  std::vector<std::string> args;
  float number(size_t i) const { return std::strtof(args.at(i).c_str(), nullptr); }
};

std::vector<Line> read_dump(const std::string& file) {
  std::vector<Line> lines;
  std::ifstream in(file);
  for (std::string text; std::getline(in, text);) {
    std::stringstream words(text);
    Line line;
    while (words >> line.path && line.path[0] != '/') {
    }  // a bundle's time tag comes first
    if (line.path.empty() || line.path[0] != '/') continue;
    if (words >> line.types) {  // a message without arguments has no type tags
      for (std::string w; words >> w;) line.args.push_back(w.front() == '"' ? w.substr(1, w.size() - 2) : w);
    }
    lines.push_back(line);
  }
  return lines;
}

TEST(VmcCommandLine, BadAddressesAndStrayOptionsAreRefusedBeforeTheBridgeStarts) {
  for (const std::string args : {"--vmc 70000", "--vmc ::1:39539", "--vmc-raw", "--vmc-unmirrored --frames x"}) {
    const int status = std::system((kHost + " " + args + " >/dev/null 2>&1").c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 2) << args;
  }
}

TEST(VmcOscdump, EveryFrameArrivesWholeWithNamesTypesAndRanges) {
  if (!std::filesystem::exists(kShared + "/models/hand")) GTEST_SKIP() << "shared frames and models not available";
  const bridge_test::ScratchDir scratch("vmc-e2e");  // of this process: others may run the test
  const std::string dump = (scratch.path / "oscdump.txt").string();
  const int port = bind_port(0);
  const pid_t receiver = spawn({"oscdump", "-L", std::to_string(port)}, dump);
  if (receiver < 0) GTEST_SKIP() << "oscdump (liblo-tools) not installed";
  for (int i = 0; i < 500 && bind_port(port) == port; ++i) usleep(10000);
  // bridge-host plays the frames over and over; it is stopped (as by Ctrl-C)
  // once oscdump has printed enough frames, however long that takes on this
  // machine (within a generous bound).
  const pid_t host = spawn({kHost, "--bridge", BRIDGE_BINARY_DIR "/app/bridge", "--json", "--seconds", "300",
                            "--frames", kShared + "/frames", "--vmc", "127.0.0.1:" + std::to_string(port)},
                           (scratch.path / "bridge_host.jsonl").string());
  constexpr size_t kFrames = 60;
  std::vector<std::vector<Line>> frames;  // each opens with /VMC/Ext/OK
  for (int i = 0; i < 3000 && frames.size() <= kFrames; ++i) {
    usleep(100000);
    frames.clear();
    for (const Line& line : read_dump(dump)) {
      if (line.path == "/VMC/Ext/OK") frames.emplace_back();
      if (!frames.empty()) frames.back().push_back(line);
    }
  }
  kill(host, SIGINT);
  EXPECT_EQ(wait_child(host, 20000), 0);
  kill(receiver, SIGTERM);
  wait_child(receiver, 5000);
  if (!frames.empty()) frames.pop_back();  // perhaps printed only in part
  ASSERT_GE(frames.size(), kFrames) << "frames received by oscdump";

  // Every frame: each message once, in the sender's order, with its types and names.
  std::vector<std::string> expected = {"/VMC/Ext/OK iiii", "/VMC/Ext/T f", "/VMC/Ext/Root/Pos sfffffff root",
                                       "/VMC/Ext/Bone/Pos sfffffff Neck", "/VMC/Ext/Bone/Pos sfffffff Head"};
  for (const auto& side : kFingerBoneNames)
    for (const char* name : side) expected.push_back(std::string("/VMC/Ext/Bone/Pos sfffffff ") + name);
  for (int k = 0; k < wire::kFaceBlendshapeCount + kPresetCount; ++k)
    expected.push_back(std::string("/VMC/Ext/Blend/Val sf ") +
                       (k < wire::kFaceBlendshapeCount ? wire::kBlendshapeNames[k]
                                                       : kPresetNames[k - wire::kFaceBlendshapeCount]));
  expected.push_back("/VMC/Ext/Blend/Apply ");
  float previous_time = -1;
  int found = 0, head_turned = 0, fingers_bent = 0;
  for (const auto& frame : frames) {
    std::vector<std::string> seen;
    for (const Line& line : frame) {
      ASSERT_EQ(line.args.size(), line.types.size()) << line.path;
      seen.push_back(line.path + " " + line.types + (line.types.starts_with("s") ? " " + line.args[0] : ""));
      if (line.path == "/VMC/Ext/Blend/Val") {
        EXPECT_TRUE(line.number(1) >= 0.0f && line.number(1) <= 1.0f) << line.args[0] << " " << line.args[1];
      }
      if (line.types != "sfffffff") continue;
      float norm = 0;  // a rotation
      for (size_t i = 4; i < 8; ++i) norm += line.number(i) * line.number(i);
      EXPECT_NEAR(norm, 1.0f, 1e-3f) << line.args[0];
      head_turned += line.args[0] == "Head" && std::fabs(line.number(7)) < 0.999f;
      fingers_bent += line.args[0].find("Index") != std::string::npos && std::fabs(line.number(7)) < 0.97f;
    }
    ASSERT_EQ(seen, expected);
    EXPECT_EQ(frame[0].args[0] + frame[0].args[1] + frame[0].args[2], "130");
    EXPECT_TRUE(frame[0].args[3] == "0" || frame[0].args[3] == "1");
    found += frame[0].args[3] == "1";
    EXPECT_GE(frame[1].number(0), previous_time);
    previous_time = frame[1].number(0);
  }
  // The sample frames show a face and a hand: some of it moves the avatar.
  EXPECT_GT(found, 0);
  EXPECT_GT(head_turned, 0);
  EXPECT_GT(fingers_bent, 0);
}

}  // namespace
