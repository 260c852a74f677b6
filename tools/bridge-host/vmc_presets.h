#pragma once

#include <array>

#include "wire/face.h"

using Blendshapes = std::array<float, wire::kFaceBlendshapeCount>;

// The VRM 0 expression presets sent beside the 51 coefficients, for avatars
// without ARKit shapes. "Fun" is left out: nothing in the coefficients tells
// it from "Joy".
enum VrmPreset { kBlinkL, kBlinkR, kVowelA, kVowelI, kVowelU, kVowelE, kVowelO, kJoy, kAngry,
                 kSorrow, kPresetCount };
extern const char* const kPresetNames[kPresetCount];
using Presets = std::array<float, kPresetCount>;

// The presets from the avatar's coefficients (after any mirroring), each
// clamped to [0, 1]; with m the mean of a Left/Right pair:
//   Blink_L, Blink_R  eyeBlinkLeft, eyeBlinkRight
//   A                 jawOpen * (1 - max(mouthFunnel, mouthPucker))
//   I                 m(mouthStretch) * (1 - jawOpen)
//   U                 mouthPucker * (1 - jawOpen)
//   E                 m(mouthStretch) * jawOpen
//   O                 mouthFunnel
//   Joy               m(mouthSmile)
//   Angry             m(browDown)
//   Sorrow            m(mouthFrown)
Presets vrm_presets(const Blendshapes& c);

// For each coefficient, the index of its mirror image: the name with Left
// and Right exchanged (itself for names without a side).
std::array<int, wire::kFaceBlendshapeCount> mirror_permutation();

// The coefficients as the avatar shows them: mirrored, the user's left eye
// drives the avatar's right one, and so on for every Left/Right pair.
Blendshapes avatar_blendshapes(const Blendshapes& user,
                               const std::array<int, wire::kFaceBlendshapeCount>& mirror,
                               bool mirrored);
