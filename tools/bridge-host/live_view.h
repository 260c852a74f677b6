#pragma once

#include <string>

#include "tools/bridge-host/run_summary.h"
#include "wire/face.h"
#include "wire/hands.h"

// What a person watching a run wants to see, kept from the latest datagrams:
// one line a second instead of one JSON line per datagram.
struct LiveView {
  bool have_face = false;
  wire::Face face;
  bool have_hands = false;
  std::vector<wire::Hand> hands;
  double fps = -1, inference_ms = -1;  // from the latest running status
};

void add_to_view(LiveView& view, const wire::Bytes& datagram);

// "  3 s  29.8 fps  face  yaw  -4.1  pitch   2.0  roll   0.3  jawOpen 0.42 ...
//  hands R L  inference 7.6 ms": the head's angles in degrees (yaw about the
// camera's vertical axis, positive turning to the camera's left; pitch about
// its horizontal axis, positive raising the chin; roll about the axis towards
// the viewer), the three strongest blendshapes, each hand's handedness flag
// (R for 1).
std::string view_line(const LiveView& view, double seconds);

// The summary in words, for the end of a run shown as lines.
std::string summary_text(const RunSummary& summary);

// Yaw, pitch and roll in degrees of a unit quaternion (x, y, z, w), taken
// as turns about y, then x, then z.
void quaternion_angles(const std::array<float, 4>& q, double& yaw, double& pitch, double& roll);
