// bridge-host --vmc as built: what its command line refuses, and a run over
// the sample frames received by a VMC receiver we did not write, liblo's
// oscdump. Judged by what arrived, whatever the pace: the run lasts until 60
// frames came, and every complete frame holds each message once (32 bones,
// 61 expressions), with the right names, argument types and value ranges.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tools/bridge-host/vmc_fingers.h"
#include "tools/bridge-host/vmc_presets.h"
#include "wire/blendshape_names.h"

namespace {

namespace fs = std::filesystem;
const fs::path kShared = BRIDGE_SHARED_DIR;

std::string find_oscdump() {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin");
  for (std::string dir; std::getline(dirs, dir, ':');)
    if (access((dir + "/oscdump").c_str(), X_OK) == 0) return dir + "/oscdump";
  return "";
}

// A loopback UDP port free a moment ago.
int free_port() {
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
  close(s);
  return ntohs(a.sin_port);
}

bool port_taken(int port) {
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  const bool taken = bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0;
  close(s);
  return taken;
}

pid_t spawn(const std::vector<std::string>& args, const std::string& out) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 1);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

int wait_status(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// How many lines of `file` hold `text`.
size_t count_lines(const std::string& file, const std::string& text) {
  std::ifstream in(file);
  size_t n = 0;
  for (std::string line; std::getline(in, line);) n += line.find(text) != std::string::npos;
  return n;
}

// One line of oscdump: the address, the type tags and the arguments.
struct Line {
  std::string path, types;
  std::vector<std::string> args;
};

std::vector<Line> read_dump(const std::string& file) {
  std::vector<Line> lines;
  std::ifstream in(file);
  for (std::string text; std::getline(in, text);) {
    std::stringstream words(text);
    Line line;
    std::string w;
    while (words >> w && w[0] != '/') {
    }  // a bundle's time tag comes first
    if (w.empty() || w[0] != '/') continue;
    line.path = w;
    // A message without arguments has no type tags after its address.
    if (words >> w) line.types = w;
    while (words >> w) line.args.push_back(w);
    lines.push_back(line);
  }
  return lines;
}

float number(const std::string& s) { return std::strtof(s.c_str(), nullptr); }
std::string unquoted(const std::string& s) {
  return s.size() >= 2 && s.front() == '"' ? s.substr(1, s.size() - 2) : s;
}

TEST(VmcCommandLine, BadAddressesAndStrayOptionsAreRefusedBeforeTheBridgeStarts) {
  const std::string host = BRIDGE_BINARY_DIR "/tools/bridge-host/bridge-host";
  const std::string out = testing::TempDir() + "vmc_command_line.txt";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{host, "--vmc", "70000"}, {host, "--vmc", "::1:39539"},
        {host, "--vmc-raw"}, {host, "--vmc-unmirrored", "--frames", "x"}}) {
    EXPECT_EQ(wait_status(spawn(args, out)), 2) << args[1];
  }
}

TEST(VmcOscdump, EveryFrameArrivesWholeWithNamesTypesAndRanges) {
  const std::string oscdump = find_oscdump();
  if (oscdump.empty()) GTEST_SKIP() << "oscdump (liblo-tools) not installed";
  if (!fs::exists(kShared / "frames") || !fs::exists(kShared / "models/hand"))
    GTEST_SKIP() << "shared frames and models not available";
  const std::string dump = testing::TempDir() + "vmc_oscdump.txt";
  const std::string host_out = testing::TempDir() + "vmc_bridge_host.jsonl";
  const int port = free_port();
  const pid_t receiver = spawn({oscdump, "-L", std::to_string(port)}, dump);
  for (int i = 0; i < 500 && !port_taken(port); ++i) usleep(10000);
  if (!port_taken(port)) {
    kill(receiver, SIGTERM);
    wait_status(receiver);
    FAIL() << "oscdump did not open port " << port;
  }
  // bridge-host plays the frames over and over; it is stopped (as by
  // Ctrl-C) once oscdump has printed enough frames, however long that takes
  // on this machine (within a generous bound).
  const pid_t host = spawn({BRIDGE_BINARY_DIR "/tools/bridge-host/bridge-host", "--bridge",
                            BRIDGE_BINARY_DIR "/app/bridge", "--json", "--seconds", "300",
                            "--frames", (kShared / "frames").string(), "--vmc",
                            "127.0.0.1:" + std::to_string(port)},
                           host_out);
  constexpr size_t kFrames = 60;
  for (int i = 0; i < 3000 && count_lines(dump, "/VMC/Ext/Blend/Apply") < kFrames; ++i) usleep(100000);
  kill(host, SIGINT);
  EXPECT_EQ(wait_status(host), 0);
  usleep(300000);  // what is still in oscdump's socket gets printed
  kill(receiver, SIGTERM);
  wait_status(receiver);

  // Frames open with /VMC/Ext/OK; a last one cut short by the end is dropped.
  std::vector<std::vector<Line>> frames;
  for (const Line& line : read_dump(dump)) {
    if (line.path == "/VMC/Ext/OK") frames.emplace_back();
    if (!frames.empty()) frames.back().push_back(line);
  }
  if (!frames.empty() && frames.back().back().path != "/VMC/Ext/Blend/Apply") frames.pop_back();
  ASSERT_GE(frames.size(), kFrames) << "frames received by oscdump";

  std::set<std::string> bone_names = {"Neck", "Head"};
  for (const auto& side : kFingerBoneNames)
    for (const char* name : side) bone_names.insert(name);
  std::vector<std::string> blend_names(wire::kBlendshapeNames,
                                       wire::kBlendshapeNames + wire::kFaceBlendshapeCount);
  blend_names.insert(blend_names.end(), kPresetNames, kPresetNames + kPresetCount);

  const std::map<std::string, std::string> types = {
      {"/VMC/Ext/OK", "iiii"},         {"/VMC/Ext/T", "f"},
      {"/VMC/Ext/Root/Pos", "sfffffff"}, {"/VMC/Ext/Bone/Pos", "sfffffff"},
      {"/VMC/Ext/Blend/Val", "sf"},    {"/VMC/Ext/Blend/Apply", ""}};
  const std::map<std::string, int> counts = {
      {"/VMC/Ext/OK", 1},        {"/VMC/Ext/T", 1},          {"/VMC/Ext/Root/Pos", 1},
      {"/VMC/Ext/Bone/Pos", 32}, {"/VMC/Ext/Blend/Val", 61}, {"/VMC/Ext/Blend/Apply", 1}};
  float previous_time = -1;
  int found = 0, head_turned = 0, fingers_bent = 0;
  for (const auto& frame : frames) {
    std::map<std::string, int> seen;
    std::set<std::string> bones;
    std::vector<std::string> blends;
    for (const Line& line : frame) {
      ++seen[line.path];
      ASSERT_TRUE(types.count(line.path)) << line.path;
      ASSERT_EQ(line.types, types.at(line.path)) << line.path;
      ASSERT_EQ(line.args.size(), line.types.size()) << line.path;
      if (line.path == "/VMC/Ext/OK") {
        EXPECT_EQ(line.args[0] + line.args[1] + line.args[2], "130");
        EXPECT_TRUE(line.args[3] == "0" || line.args[3] == "1");
        found += line.args[3] == "1";
      } else if (line.path == "/VMC/Ext/T") {
        EXPECT_GE(number(line.args[0]), previous_time);
        previous_time = number(line.args[0]);
      } else if (line.path == "/VMC/Ext/Root/Pos" || line.path == "/VMC/Ext/Bone/Pos") {
        const std::string name = unquoted(line.args[0]);
        if (line.path == "/VMC/Ext/Root/Pos") EXPECT_EQ(name, "root");
        else bones.insert(name);
        float norm = 0;
        for (int i = 4; i < 8; ++i) norm += number(line.args[static_cast<size_t>(i)]) * number(line.args[static_cast<size_t>(i)]);
        EXPECT_NEAR(norm, 1.0f, 1e-3f) << name;
        const float w = std::fabs(number(line.args[7]));
        if (name == "Head" && w < 0.999f) ++head_turned;
        if (name.find("Index") != std::string::npos && w < 0.97f) ++fingers_bent;
      } else if (line.path == "/VMC/Ext/Blend/Val") {
        blends.push_back(unquoted(line.args[0]));
        const float v = number(line.args[1]);
        EXPECT_TRUE(v >= 0.0f && v <= 1.0f) << line.args[0] << " " << v;
      }
    }
    for (const auto& [path, count] : counts) EXPECT_EQ(seen[path], count) << path;
    EXPECT_EQ(bones, bone_names);
    EXPECT_EQ(blends, blend_names);
  }
  // The sample frames show a face and a hand: some of it moves the avatar.
  EXPECT_GT(found, 0);
  EXPECT_GT(head_turned, 0);
  EXPECT_GT(fingers_bent, 0);
}

}  // namespace
