#include "tools/bridge-host/live_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

#include "wire/blendshape_names.h"

void add_to_view(LiveView& view, const wire::Bytes& datagram) {
  if (auto face = wire::decode_face(datagram)) {
    view.face = *face;
    view.have_face = true;
  } else if (auto hands = wire::decode_hands(datagram)) {
    view.hands = *hands;
    view.have_hands = true;
  } else if (auto document = running_document(datagram)) {
    view.fps = number_member(*document, "fps").value_or(-1);
    view.inference_ms = number_member(*document, "inference_ms").value_or(-1);
  }
}

void quaternion_angles(const std::array<float, 4>& q, double& yaw, double& pitch, double& roll) {
  const double x = q[0], y = q[1], z = q[2], w = q[3];
  constexpr double kDegrees = 180.0 / 3.14159265358979323846;
  yaw = std::atan2(2 * (w * y + x * z), 1 - 2 * (x * x + y * y)) * kDegrees;
  pitch = std::asin(std::clamp(2 * (w * x - y * z), -1.0, 1.0)) * kDegrees;
  roll = std::atan2(2 * (w * z + x * y), 1 - 2 * (x * x + z * z)) * kDegrees;
}

std::string view_line(const LiveView& view, double seconds) {
  char text[512];
  int n = std::snprintf(text, sizeof text, "%4.0f s", seconds);
  auto add = [&](const char* format, auto... values) {
    if (n >= 0 && n < static_cast<int>(sizeof text))
      n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n), format, values...);
  };
  if (view.fps >= 0) add("  %5.1f fps", view.fps);
  if (!view.have_face) {
    add("  face off");
  } else if (!view.face.found) {
    add("  no face");
  } else {
    double yaw = 0, pitch = 0, roll = 0;
    quaternion_angles(view.face.rotation, yaw, pitch, roll);
    add("  face yaw %6.1f pitch %6.1f roll %6.1f ", yaw, pitch, roll);
    std::array<int, wire::kFaceBlendshapeCount> order;
    std::iota(order.begin(), order.end(), 0);
    std::partial_sort(order.begin(), order.begin() + 3, order.end(),
                      [&](int a, int b) { return view.face.blendshapes[a] > view.face.blendshapes[b]; });
    for (int i = 0; i < 3; ++i)
      add(" %s %.2f", wire::kBlendshapeNames[order[i]], view.face.blendshapes[order[i]]);
  }
  if (view.have_hands) {
    add("  hands");
    if (view.hands.empty()) add(" none");
    for (const wire::Hand& hand : view.hands) add(" %c", hand.handedness ? 'R' : 'L');
  }
  if (view.inference_ms >= 0) add("  inference %.1f ms", view.inference_ms);
  return text;
}

std::string summary_text(const RunSummary& s) {
  char text[256];
  std::snprintf(text, sizeof text, "%llu frames, a face in %llu; %llu hands datagrams with %llu hands",
                static_cast<unsigned long long>(s.frames), static_cast<unsigned long long>(s.faces_found),
                static_cast<unsigned long long>(s.hand_frames), static_cast<unsigned long long>(s.hands));
  std::string out = text;
  if (!s.inference_ms.empty()) {
    std::snprintf(text, sizeof text, "; median inference %.1f ms", median(s.inference_ms));
    out += text;
  }
  return out;
}
