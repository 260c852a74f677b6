#include <algorithm>
#include <chrono>
#include <cmath>

#include "core/elapsed.h"
#include "face/face_tensors.h"
#include "face/face_tracker.h"
#include "image/crop.h"
#include "inference/output_of_size.h"

namespace {

// The landmarks the blendshape model reads, as (x, y) pairs in this order.
constexpr int kSubset[kBlendshapeSubsetSize] = {
    0,   1,   4,   5,   6,   7,   8,   10,  13,  14,  17,  21,  33,  37,  39,  40,  46,  52,
    53,  54,  55,  58,  61,  63,  65,  66,  67,  70,  78,  80,  81,  82,  84,  87,  88,  91,
    93,  95,  103, 105, 107, 109, 127, 132, 133, 136, 144, 145, 146, 148, 149, 150, 152, 153,
    154, 155, 157, 158, 159, 160, 161, 162, 163, 168, 172, 173, 176, 178, 181, 185, 191, 195,
    197, 234, 246, 249, 251, 263, 267, 269, 270, 276, 282, 283, 284, 285, 288, 291, 293, 295,
    296, 297, 300, 308, 310, 311, 312, 314, 317, 318, 321, 323, 324, 332, 334, 336, 338, 356,
    361, 362, 365, 373, 374, 375, 377, 378, 379, 380, 381, 382, 384, 385, 386, 387, 388, 389,
    390, 397, 398, 400, 402, 405, 409, 415, 454, 466, 468, 469, 470, 471, 472, 473, 474, 475,
    476, 477};

constexpr float kMinPresence = 0.5f;

}  // namespace

bool FaceTracker::landmarks(const Image& image, const RotatedRect& region, FaceResult& result) {
  auto start = std::chrono::steady_clock::now();
  crop_to_tensor(image, region, kLandmarkCropSize, kLandmarkCropSize, 0.0f, 1.0f,
                 landmark_model.input(0).data());
  const bool ran = landmark_model.run();
  steps.landmarks_ms = ms_since(start);
  if (!ran) return false;

  // The landmark model has two single-float outputs: first a raw presence
  // logit, then an already squashed score of another head that stays near 0
  // on faces. Only the first one tells a face from a cup or a cat.
  const std::span<const float> presence = output_of_size(landmark_model, 1);
  const std::span<const float> points = output_of_size(landmark_model, kLandmarkValues);
  if (presence.empty() || points.empty()) return false;
  const float probability = 1.0f / (1.0f + std::exp(-presence[0]));
  // Written so that a presence that is not a number counts as absent.
  if (!(probability >= kMinPresence)) return false;

  const float* l = points.data();
  result.landmarks.resize(kLandmarkCount);
  for (std::size_t i = 0; i < kLandmarkCount; ++i) {
    result.landmarks[i] = crop_to_image(region, kLandmarkCropSize, kLandmarkCropSize,
                                        Point{l[3 * i], l[3 * i + 1], l[3 * i + 2]});
  }

  start = std::chrono::steady_clock::now();
  float* subset = blendshape_model.input(0).data();
  for (std::size_t k = 0; k < kBlendshapeSubsetSize; ++k) {
    subset[2 * k] = result.landmarks[kSubset[k]].x;
    subset[2 * k + 1] = result.landmarks[kSubset[k]].y;
  }
  const bool blended = blendshape_model.run();
  steps.blendshapes_ms = ms_since(start);
  if (!blended) return false;
  const std::span<const float> coefficients = output_of_size(blendshape_model, kBlendshapeOutput);
  if (coefficients.empty()) return false;
  // Element 0 is the model's neutral score, not a blendshape. Clamped so
  // that a value that is not a number reaches the host as 0.
  for (int i = 0; i < kBlendshapeCount; ++i) {
    const float c = coefficients[i + 1];
    result.blendshapes[i] = c > 0.0f ? (c < 1.0f ? c : 1.0f) : 0.0f;
  }
  return true;
}
