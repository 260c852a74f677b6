#pragma once

#include <cstddef>

#include "hand/hand_tracker.h"

// Float counts of the hand landmark model's tensors.
inline constexpr int kHandCropSize = 224;
inline constexpr std::size_t kHandLandmarkInput = kHandCropSize * kHandCropSize * 3;
inline constexpr std::size_t kHandLandmarkValues = kHandLandmarkCount * 3;
