// What reaches a VMC receiver: the bundles that liblo builds, decoded by a
// liblo server on loopback, and how the relay pairs the bridge's face and
// hands datagrams into frames.
#include <gtest/gtest.h>
#include <lo/lo.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tests/app/vmc_hand_fixture.h"
#include "tools/bridge-host/vmc_relay.h"
#include "wire/blendshape_names.h"
#include "wire/face.h"
#include "wire/hands.h"
#include "wire/status.h"

namespace {

struct Message {
  std::string path;
  std::string types;
  std::string name;  // the first argument when it is a string
  std::vector<float> numbers;
};

template <typename T>
T read(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

struct Receiver {
  lo_server server = nullptr;
  std::vector<Message> messages;
  Receiver() {
    server = lo_server_new_with_proto(nullptr, LO_UDP, nullptr);
    lo_server_add_method(server, nullptr, nullptr, &Receiver::record, this);
  }
  ~Receiver() { lo_server_free(server); }
  int port() const { return lo_server_get_port(server); }
  // Everything that arrives until the line is quiet for a while.
  void drain() {
    while (lo_server_recv_noblock(server, 500) > 0) {
    }
  }
  static int record(const char* path, const char* types, lo_arg** argv, int argc, lo_message,
                    void* self) {
    Message m{path, types, "", {}};
    // The arguments are only 4-byte aligned: read as bytes, not as lo_arg.
    for (int i = 0; i < argc; ++i) {
      const void* a = argv[i];
      if (types[i] == 's') m.name = static_cast<const char*>(a);
      if (types[i] == 'f') m.numbers.push_back(read<float>(a));
      if (types[i] == 'i') m.numbers.push_back(static_cast<float>(read<int32_t>(a)));
    }
    static_cast<Receiver*>(self)->messages.push_back(m);
    return 0;
  }
};

const wire::Token kToken{};

wire::Bytes face_at(uint64_t us, bool found) {
  wire::Face f;
  f.found = found;
  f.rotation = {0.15529143f, 0.20705524f, 0, 0.96592583f};  // 30 degrees about (0.6, 0.8, 0)
  f.blendshapes[24] = 0.6f;                       // jawOpen
  return wire::face(kToken, 1, us, f);
}

wire::Bytes hands_at(uint64_t us) { return wire::hands(kToken, 2, us, {vmc_test::open_right_hand({1})}); }

// The messages of each bundle, split at /VMC/Ext/OK, which opens one.
std::vector<std::vector<Message>> frames_of(const std::vector<Message>& messages) {
  std::vector<std::vector<Message>> frames;
  for (const Message& m : messages) {
    if (m.path == "/VMC/Ext/OK") frames.emplace_back();
    if (!frames.empty()) frames.back().push_back(m);
  }
  return frames;
}

struct Relay {
  VmcRelay relay;
  explicit Relay(int port, VmcSettings settings = vmc_test::unsmoothed()) {
    relay.state = make_vmc_state(settings);
    std::string error;
    EXPECT_TRUE(open_vmc(relay.sender, VmcAddress{"127.0.0.1", port}, error)) << error;
  }
  ~Relay() { close_vmc(relay.sender); }
};

TEST(VmcSender, OneFrameIsOneBundleOfEveryMessageInOrder) {
  Receiver receiver;
  Relay r(receiver.port());
  relay_datagram(r.relay, face_at(5000, true));
  EXPECT_EQ(r.relay.frames, 0);  // waits for the frame's hands
  relay_datagram(r.relay, hands_at(5000));
  EXPECT_EQ(r.relay.frames, 1);
  receiver.drain();
  const auto frames = frames_of(receiver.messages);
  ASSERT_EQ(frames.size(), 1u);
  const std::vector<Message>& f = frames[0];
  ASSERT_EQ(f.size(), 3u + kVmcBoneCount + kVmcBlendCount + 1u);
  EXPECT_EQ(f[0].types, "iiii");
  EXPECT_EQ(f[0].numbers, (std::vector<float>{1, 3, 0, 1}));
  EXPECT_EQ(f[1].path, "/VMC/Ext/T");
  EXPECT_EQ(f[1].types, "f");
  EXPECT_EQ(f[1].numbers[0], 0.0f);
  EXPECT_EQ(f[2].path, "/VMC/Ext/Root/Pos");
  EXPECT_EQ(f[2].name, "root");
  EXPECT_EQ(f[2].numbers, (std::vector<float>{0, 0, 0, 0, 0, 0, 1}));
  std::map<std::string, std::vector<float>> bones;
  for (int b = 0; b < kVmcBoneCount; ++b) {
    const Message& m = f[3 + static_cast<size_t>(b)];
    EXPECT_EQ(m.path, "/VMC/Ext/Bone/Pos");
    EXPECT_EQ(m.types, "sfffffff");
    bones[m.name] = m.numbers;
  }
  ASSERT_EQ(bones.size(), static_cast<size_t>(kVmcBoneCount));
  // Each bone carries the pose's rotation exactly, at position zero.
  const AvatarPose& pose = r.relay.state.pose;
  const auto expect_bone = [&](const std::string& name, const Quat& q) {
    EXPECT_EQ(bones[name], (std::vector<float>{0, 0, 0, q.x, q.y, q.z, q.w})) << name;
  };
  expect_bone("Neck", pose.head.neck);
  expect_bone("Head", pose.head.head);
  for (size_t side = 0; side < 2; ++side)
    for (size_t b = 0; b < kFingerBoneCount; ++b) expect_bone(kFingerBoneNames[side][b], pose.fingers[side][b]);
  // Neck and head share the 30-degree turn: 9 and 21 degrees.
  // (Numbers: position x y z, then the rotation x y z w.)
  const auto rotation = [&](const std::string& name) {
    const std::vector<float>& n = bones[name];
    return Quat{n[3], n[4], n[5], n[6]};
  };
  EXPECT_NEAR(angle_degrees(rotation("Neck")), 9.0f, 1e-3f);
  EXPECT_NEAR(angle_degrees(rotation("Head")), 21.0f, 1e-3f);
  EXPECT_NEAR(rotation("Head").x / rotation("Head").y, 0.75f, 1e-4f);
  // The user's curled right index finger bends the avatar's left one, 90
  // degrees about the axis across the hand (Z).
  EXPECT_NEAR(bones["LeftIndexIntermediate"][6], std::sqrt(0.5f), 1e-4f);
  EXPECT_NEAR(std::fabs(bones["LeftIndexIntermediate"][5]), std::sqrt(0.5f), 1e-4f);
  EXPECT_EQ(bones["RightIndexIntermediate"][6], 1.0f);
  EXPECT_EQ(bones.count("RightLittleDistal"), 1u);
  std::vector<std::string> names;
  for (int k = 0; k < kVmcBlendCount; ++k) {
    const Message& m = f[3 + kVmcBoneCount + static_cast<size_t>(k)];
    EXPECT_EQ(m.path, "/VMC/Ext/Blend/Val");
    EXPECT_EQ(m.types, "sf");
    names.push_back(m.name);
    if (m.name == "jawOpen" || m.name == "A") {
      EXPECT_FLOAT_EQ(m.numbers[0], 0.6f) << m.name;
    }
  }
  EXPECT_EQ(names[0], "browDownLeft");
  EXPECT_EQ(names[50], "noseSneerRight");
  EXPECT_EQ(names[51], "Blink_L");
  EXPECT_EQ(names.back(), "Sorrow");
  EXPECT_EQ(f.back().path, "/VMC/Ext/Blend/Apply");
  EXPECT_EQ(f.back().types, "");
}

TEST(VmcSender, RelayPairsFaceAndHandsByTimestampAndSendsLoneOnes) {
  Receiver receiver;
  Relay r(receiver.port());
  relay_datagram(r.relay, face_at(1'000'000, true));
  relay_datagram(r.relay, hands_at(1'000'000));
  relay_datagram(r.relay, face_at(1'100'000, false));
  relay_datagram(r.relay, face_at(1'200'000, true));  // the previous face goes alone
  relay_datagram(r.relay, hands_at(1'300'000));       // so does this one's face, then the hands
  relay_datagram(r.relay, wire::status(kToken, 3, "{\"state\":\"running\"}"));
  relay_datagram(r.relay, face_at(1'400'000, true));
  flush_relay(r.relay);
  flush_relay(r.relay);
  EXPECT_EQ(r.relay.frames, 5);
  // Every frame's time was kept (each takes some).
  float median_us = 0, p90_us = 0;
  relay_frame_cost(r.relay, median_us, p90_us);
  EXPECT_GT(median_us, 0.0f);
  EXPECT_GE(p90_us, median_us);
  receiver.drain();
  const auto frames = frames_of(receiver.messages);
  ASSERT_EQ(frames.size(), 5u);
  const float times[] = {0.0f, 0.1f, 0.2f, 0.3f, 0.4f};
  const float found[] = {1, 0, 1, 0, 1};
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_NEAR(frames[i][1].numbers[0], times[i], 1e-5f) << i;
    EXPECT_EQ(frames[i][0].numbers[3], found[i]) << i;
  }
}

TEST(VmcSender, NoReceiverListeningIsNoError) {
  int port = 0;
  {
    const int probe = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(getsockname(probe, reinterpret_cast<sockaddr*>(&a), &length), 0);
    port = ntohs(a.sin_port);
    close(probe);
  }
  Relay r(port);
  for (uint64_t i = 0; i < 20; ++i) {
    relay_datagram(r.relay, face_at(i * 33'000, true));
    relay_datagram(r.relay, hands_at(i * 33'000));
  }
  EXPECT_EQ(r.relay.frames, 20);
  EXPECT_EQ(r.relay.sender.sent, 20);
  EXPECT_EQ(r.relay.sender.failed, 0);
}

TEST(VmcSender, UnresolvableHostIsRefusedWithAMessage) {
  VmcSender sender;
  std::string error;
  EXPECT_FALSE(open_vmc(sender, VmcAddress{"no-such-host.invalid", 39539}, error));
  EXPECT_NE(error.find("no-such-host.invalid"), std::string::npos) << error;
  close_vmc(sender);
}

TEST(VmcAddress, HostAndPortForms) {
  const auto parsed = [](const std::string& text) {
    VmcAddress a;
    std::string error;
    return parse_vmc_address(text, a, error) ? a.host + " " + std::to_string(a.port) : "error";
  };
  EXPECT_EQ(parsed("39540"), "127.0.0.1 39540");
  EXPECT_EQ(parsed("192.168.1.5:39539"), "192.168.1.5 39539");
  EXPECT_EQ(parsed("localhost:1"), "localhost 1");
  EXPECT_EQ(parsed("[::1]:65535"), "::1 65535");
  for (const char* bad : {"", "0", "65536", "host:", ":39539", "::1:39539", "12ab", "-5", "+5",
                          "host:39539x"})
    EXPECT_EQ(parsed(bad), "error") << bad;
}

}  // namespace
