#include "tools/bridge-host/vmc_sender.h"

#include <netdb.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "wire/blendshape_names.h"

namespace {

const char* bone_name(int b) {
  if (b == 0) return "Neck";
  if (b == 1) return "Head";
  const int f = b - 2;
  return kFingerBoneNames[f / kFingerBoneCount][f % kFingerBoneCount];
}

const char* blend_name(int k) {
  return k < wire::kFaceBlendshapeCount ? wire::kBlendshapeNames[k]
                                        : kPresetNames[k - wire::kFaceBlendshapeCount];
}

lo_message bone_message(const char* name) {
  lo_message m = lo_message_new();
  lo_message_add_string(m, name);
  for (int i = 0; i < 6; ++i) lo_message_add_float(m, 0.0f);
  lo_message_add_float(m, 1.0f);  // w of the identity
  return m;
}

// liblo's argument pointers point into the message's own data, which is
// only 4-byte aligned, while its lo_arg union asks for 8: the values are
// written as bytes, never through the union's members.
template <typename T>
void put(lo_message m, int argument, T value) {
  std::memcpy(lo_message_get_argv(m)[argument], &value, sizeof value);
}

void set_rotation(lo_message m, const Quat& q) {
  put(m, 4, q.x);
  put(m, 5, q.y);
  put(m, 6, q.z);
  put(m, 7, q.w);
}

bool resolve(VmcSender& s, const VmcAddress& address, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(address.port);
  if (const int rc = getaddrinfo(address.host.c_str(), port.c_str(), &hints, &found); rc != 0) {
    error = "cannot resolve VMC host " + address.host + ": " + gai_strerror(rc);
    return false;
  }
  std::memcpy(&s.address, found->ai_addr, found->ai_addrlen);
  s.address_length = found->ai_addrlen;
  s.socket = socket(found->ai_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  freeaddrinfo(found);
  if (s.socket < 0) {
    error = std::string("cannot open the VMC socket: ") + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

bool open_vmc(VmcSender& s, const VmcAddress& address, std::string& error) {
  if (!resolve(s, address, error)) return false;
  s.bundle = lo_bundle_new(LO_TT_IMMEDIATE);
  s.ok = lo_message_new();
  for (int v : {1, 3, 0, 0}) lo_message_add_int32(s.ok, v);
  lo_bundle_add_message(s.bundle, "/VMC/Ext/OK", s.ok);
  s.time = lo_message_new();
  lo_message_add_float(s.time, 0.0f);
  lo_bundle_add_message(s.bundle, "/VMC/Ext/T", s.time);
  lo_bundle_add_message(s.bundle, "/VMC/Ext/Root/Pos", bone_message("root"));
  for (int b = 0; b < kVmcBoneCount; ++b) {
    s.bones[static_cast<size_t>(b)] = bone_message(bone_name(b));
    lo_bundle_add_message(s.bundle, "/VMC/Ext/Bone/Pos", s.bones[static_cast<size_t>(b)]);
  }
  for (int k = 0; k < kVmcBlendCount; ++k) {
    lo_message m = lo_message_new();
    lo_message_add_string(m, blend_name(k));
    lo_message_add_float(m, 0.0f);
    s.blends[static_cast<size_t>(k)] = m;
    lo_bundle_add_message(s.bundle, "/VMC/Ext/Blend/Val", m);
  }
  lo_bundle_add_message(s.bundle, "/VMC/Ext/Blend/Apply", lo_message_new());
  // Every argument has a fixed size, so the bundle's length never changes.
  s.buffer.resize(lo_bundle_length(s.bundle));
  return true;
}

void send_vmc(VmcSender& s, const AvatarPose& pose, float seconds) {
  put(s.ok, 3, int32_t{pose.face_found ? 1 : 0});
  put(s.time, 0, seconds);
  set_rotation(s.bones[0], pose.head.neck);
  set_rotation(s.bones[1], pose.head.head);
  for (size_t side = 0; side < 2; ++side)
    for (size_t b = 0; b < kFingerBoneCount; ++b)
      set_rotation(s.bones[2 + side * kFingerBoneCount + b], pose.fingers[side][b]);
  for (size_t k = 0; k < pose.blendshapes.size(); ++k)
    put(s.blends[k], 1, pose.blendshapes[k]);
  for (size_t k = 0; k < pose.presets.size(); ++k)
    put(s.blends[pose.blendshapes.size() + k], 1, pose.presets[k]);
  size_t size = s.buffer.size();
  if (!lo_bundle_serialise(s.bundle, s.buffer.data(), &size)) {
    ++s.failed;
    return;
  }
  // Loopback delivers a datagram to a closed port without complaint; a full
  // buffer or a missing route drops the frame, as a late frame would be.
  if (sendto(s.socket, s.buffer.data(), size, MSG_DONTWAIT | MSG_NOSIGNAL,
             reinterpret_cast<const sockaddr*>(&s.address), s.address_length) < 0)
    ++s.failed;
  else
    ++s.sent;
}

void close_vmc(VmcSender& s) {
  if (s.bundle) lo_bundle_free_recursive(s.bundle);
  s.bundle = nullptr;
  if (s.socket >= 0) close(s.socket);
  s.socket = -1;
}
