// What reaches a VMC receiver, decoded by a liblo server on loopback: the
// relay pairs the bridge's face and hands datagrams into one bundle per frame,
// and each bundle carries the pose's values exactly. (The messages' names,
// types and order, as a receiver we did not write sees them: vmc_e2e_test.cc.)
#include <gtest/gtest.h>
#include <lo/lo.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tests/app/vmc_hand_fixture.h"
#include "tools/bridge-host/vmc_address.h"
#include "tools/bridge-host/vmc_relay.h"
#include "wire/face.h"
#include "wire/hands.h"
#include "wire/status.h"

namespace {

struct Message {
  std::string path, name;  // the name: the first argument when it is a string
  std::vector<float> numbers;
};

struct Receiver {
  lo_server server = lo_server_new_with_proto(nullptr, LO_UDP, nullptr);
  std::vector<Message> messages;
  Receiver() { lo_server_add_method(server, nullptr, nullptr, &Receiver::record, this); }
  ~Receiver() { lo_server_free(server); }
  // The messages of each bundle (split at /VMC/Ext/OK, which opens one) that
  // arrive until the line is quiet for a while.
  std::vector<std::vector<Message>> frames() {
    while (lo_server_recv_noblock(server, 500) > 0) {
    }
    std::vector<std::vector<Message>> frames;
    for (const Message& m : messages) {
      if (m.path == "/VMC/Ext/OK") frames.emplace_back();
      if (!frames.empty()) frames.back().push_back(m);
    }
    return frames;
  }
  static int record(const char* path, const char* types, lo_arg** argv, int argc, lo_message, void* self) {
    Message m{path, "", {}};
    // The arguments are only 4-byte aligned: read as bytes, not as lo_arg.
    for (int i = 0; i < argc; ++i) {
      float f;
      int32_t n;
      if (types[i] == 's') m.name = reinterpret_cast<const char*>(argv[i]);
      if (types[i] == 'f') m.numbers.push_back((std::memcpy(&f, argv[i], 4), f));
      if (types[i] == 'i') m.numbers.push_back(static_cast<float>((std::memcpy(&n, argv[i], 4), n)));
    }
    static_cast<Receiver*>(self)->messages.push_back(m);
    return 0;
  }
};

const wire::Token kToken{};

wire::Bytes face_at(uint64_t us, bool found) {
  wire::Face f;
  f.found = found;
  const Quat q = vmc_test::about({0.6f, 0.8f, 0}, 30);
  f.rotation = {q.x, q.y, q.z, q.w};
  f.blendshapes[24] = 0.6f;  // jawOpen
  return wire::face(kToken, 1, us, f);
}

wire::Bytes hands_at(uint64_t us) { return wire::hands(kToken, 2, us, {vmc_test::open_right_hand({1})}); }

TEST(VmcSender, RelayPairsFaceAndHandsByTimestampAndSendsThePose) {
  Receiver receiver;
  VmcRelay relay;
  relay.state = make_vmc_state(vmc_test::unsmoothed());
  std::string error;
  ASSERT_TRUE(open_vmc(relay.sender, VmcAddress{"127.0.0.1", lo_server_get_port(receiver.server)}, error)) << error;
  relay_datagram(relay, face_at(1'000'000, true));
  EXPECT_EQ(relay.frames, 0);  // waits for the frame's hands
  relay_datagram(relay, hands_at(1'000'000));
  EXPECT_EQ(relay.frames, 1);
  const AvatarPose first = relay.state.pose;
  relay_datagram(relay, face_at(1'100'000, false));
  relay_datagram(relay, face_at(1'200'000, true));  // the previous face goes alone
  relay_datagram(relay, hands_at(1'300'000));       // so does this one's face, then the hands
  relay_datagram(relay, wire::status(kToken, 3, "{\"state\":\"running\"}"));
  relay_datagram(relay, face_at(1'400'000, true));
  flush_relay(relay);
  flush_relay(relay);
  EXPECT_EQ(relay.frames, 5);
  float median_us = 0, p90_us = 0;  // every frame's time was kept (each takes some)
  relay_frame_cost(relay, median_us, p90_us);
  EXPECT_GT(median_us, 0.0f);
  EXPECT_GE(p90_us, median_us);
  close_vmc(relay.sender);

  const auto frames = receiver.frames();
  ASSERT_EQ(frames.size(), 5u);
  const float times[] = {0.0f, 0.1f, 0.2f, 0.3f, 0.4f}, found[] = {1, 0, 1, 0, 1};
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i][0].numbers, (std::vector<float>{1, 3, 0, found[i]})) << i;
    EXPECT_NEAR(frames[i][1].numbers.at(0), times[i], 1e-5f) << i;
  }
  // The first frame: each bone at position zero with its rotation exactly,
  // the coefficients and their presets.
  std::map<std::string, Quat> rotations = {{"Neck", first.head.neck}, {"Head", first.head.head}};
  for (size_t side = 0; side < 2; ++side)
    for (size_t b = 0; b < kFingerBoneCount; ++b) rotations[kFingerBoneNames[side][b]] = first.fingers[side][b];
  size_t bones = 0, blends = 0;
  for (const Message& m : frames[0]) {
    if (m.path == "/VMC/Ext/Bone/Pos") {
      const Quat q = rotations.at(m.name);
      EXPECT_EQ(m.numbers, (std::vector<float>{0, 0, 0, q.x, q.y, q.z, q.w})) << m.name;
      ++bones;
    }
    if (m.path == "/VMC/Ext/Blend/Val") {
      EXPECT_FLOAT_EQ(m.numbers.at(0), m.name == "jawOpen" || m.name == "A" ? 0.6f : 0.0f) << m.name;
      ++blends;
    }
  }
  EXPECT_EQ(bones, static_cast<size_t>(kVmcBoneCount));
  EXPECT_EQ(blends, static_cast<size_t>(kVmcBlendCount));
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
  for (const char* bad : {"", "0", "65536", "host:", ":39539", "::1:39539", "12ab", "-5", "+5", "host:39539x"})
    EXPECT_EQ(parsed(bad), "error") << bad;
}

}  // namespace
