#include "tools/bridge-host/vmc_presets.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "wire/blendshape_names.h"

const char* const kPresetNames[kPresetCount] = {"Blink_L", "Blink_R", "A",   "I",     "U",
                                                "E",       "O",       "Joy", "Angry", "Sorrow"};

namespace {

// Positions in the face datagram's order.
enum : int {
  kBrowDownLeft = 0, kBrowDownRight = 1, kEyeBlinkLeft = 8, kEyeBlinkRight = 9, kJawOpen = 24,
  kMouthFrownLeft = 29, kMouthFrownRight = 30, kMouthFunnel = 31, kMouthPucker = 37,
  kMouthSmileLeft = 43, kMouthSmileRight = 44, kMouthStretchLeft = 45, kMouthStretchRight = 46,
};

float clamp01(float v) { return std::clamp(v, 0.0f, 1.0f); }

}  // namespace

Presets vrm_presets(const Blendshapes& b) {
  const auto c = [&](int i) { return clamp01(b[static_cast<size_t>(i)]); };
  const auto mean = [&](int l, int r) { return 0.5f * (c(l) + c(r)); };
  const float jaw = c(kJawOpen);
  const float stretch = mean(kMouthStretchLeft, kMouthStretchRight);
  Presets p{};
  p[kBlinkL] = c(kEyeBlinkLeft);
  p[kBlinkR] = c(kEyeBlinkRight);
  p[kVowelA] = jaw * (1.0f - std::max(c(kMouthFunnel), c(kMouthPucker)));
  p[kVowelI] = stretch * (1.0f - jaw);
  p[kVowelU] = c(kMouthPucker) * (1.0f - jaw);
  p[kVowelE] = stretch * jaw;
  p[kVowelO] = c(kMouthFunnel);
  p[kJoy] = mean(kMouthSmileLeft, kMouthSmileRight);
  p[kAngry] = mean(kBrowDownLeft, kBrowDownRight);
  p[kSorrow] = mean(kMouthFrownLeft, kMouthFrownRight);
  return p;
}

std::array<int, wire::kFaceBlendshapeCount> mirror_permutation() {
  std::array<int, wire::kFaceBlendshapeCount> mirror{};
  for (int i = 0; i < wire::kFaceBlendshapeCount; ++i) {
    std::string name = wire::kBlendshapeNames[i];
    if (const auto at = name.rfind("Left"); at != std::string::npos && at + 4 == name.size())
      name.replace(at, 4, "Right");
    else if (const auto at_r = name.rfind("Right"); at_r != std::string::npos && at_r + 5 == name.size())
      name.replace(at_r, 5, "Left");
    mirror[static_cast<size_t>(i)] = i;
    for (int j = 0; j < wire::kFaceBlendshapeCount; ++j)
      if (name == wire::kBlendshapeNames[j]) mirror[static_cast<size_t>(i)] = j;
  }
  return mirror;
}

Blendshapes avatar_blendshapes(const Blendshapes& user,
                               const std::array<int, wire::kFaceBlendshapeCount>& mirror,
                               bool mirrored) {
  if (!mirrored) return user;
  Blendshapes out{};
  for (size_t i = 0; i < out.size(); ++i) out[i] = user[static_cast<size_t>(mirror[i])];
  return out;
}
