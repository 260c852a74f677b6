#include "tools/bridge-host/vmc_fade.h"

float held_share(const Fade& fade, double since) {
  if (!(since > fade.hold)) return 1.0f;
  if (!(fade.ease > 0) || since >= fade.hold + fade.ease) return 0.0f;
  const float t = static_cast<float>((since - fade.hold) / fade.ease);
  return 1.0f - t * t * (3.0f - 2.0f * t);
}
