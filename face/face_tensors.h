#pragma once

#include <cstddef>

// Float counts of the face models' tensors that the tracker reads and writes.
inline constexpr int kLandmarkCropSize = 256;
inline constexpr std::size_t kLandmarkInput = kLandmarkCropSize * kLandmarkCropSize * 3;
inline constexpr std::size_t kLandmarkCount = 478;
inline constexpr std::size_t kLandmarkValues = kLandmarkCount * 3;
inline constexpr std::size_t kBlendshapeSubsetSize = 146;
inline constexpr std::size_t kBlendshapeInput = kBlendshapeSubsetSize * 2;
inline constexpr std::size_t kBlendshapeOutput = 52;
