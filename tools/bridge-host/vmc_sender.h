#pragma once

#include <lo/lo.h>
#include <sys/socket.h>

#include <array>
#include <string>
#include <vector>

#include "tools/bridge-host/vmc_address.h"
#include "tools/bridge-host/vmc_pose.h"

// The bone messages of a frame: neck, head, then each side's finger bones.
inline constexpr int kVmcBoneCount = 2 + 2 * kFingerBoneCount;
inline constexpr int kVmcBlendCount = wire::kFaceBlendshapeCount + kPresetCount;

// Sends one OSC bundle per frame to a VMC receiver over UDP:
//   /VMC/Ext/OK 1 3 0 found    /VMC/Ext/T seconds
//   /VMC/Ext/Root/Pos "root" 0 0 0 0 0 0 1
//   /VMC/Ext/Bone/Pos NAME 0 0 0 x y z w   (Neck, Head, 30 finger bones)
//   /VMC/Ext/Blend/Val NAME value  (51 coefficients, then the VRM presets)
//   /VMC/Ext/Blend/Apply
// The messages are built once by liblo; a frame only writes their values
// and serialises the bundle into a buffer sized at the start, so sending
// allocates nothing. Bone positions are zero: receivers take positions from
// their own avatar and rotations from the sender.
struct VmcSender {
  int socket = -1;
  sockaddr_storage address{};
  socklen_t address_length = 0;
  lo_bundle bundle = nullptr;
  lo_message ok = nullptr;
  lo_message time = nullptr;
  std::array<lo_message, kVmcBoneCount> bones{};
  std::array<lo_message, kVmcBlendCount> blends{};
  std::vector<char> buffer;
  long sent = 0;    // datagrams handed to the system
  long failed = 0;  // refused (no route, no buffer space): the frame is dropped
};

// Resolves the address, opens a non-blocking UDP socket and builds the
// messages. False with a message when the host cannot be resolved or the
// socket cannot be had.
bool open_vmc(VmcSender& sender, const VmcAddress& address, std::string& error);

// One frame's bundle. A receiver that is not listening costs the send only:
// nothing waits and nothing is reported.
void send_vmc(VmcSender& sender, const AvatarPose& pose, float seconds);

void close_vmc(VmcSender& sender);
