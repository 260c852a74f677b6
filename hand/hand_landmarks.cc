#include <cmath>

#include "detection/regions.h"
#include "hand/hand_tensors.h"
#include "hand/hand_tracker.h"
#include "image/crop.h"

namespace {

// The palm landmarks (wrist and the bases of the fingers) whose bounds give
// the next frame's region: they move with the hand but not with the fingers.
constexpr int kPalm[12] = {0, 1, 2, 3, 5, 6, 9, 10, 13, 14, 17, 18};

constexpr float kMinPresence = 0.5f;
constexpr int kWrist = 0;
constexpr int kMiddleFingerBase = 9;
// The next region: twice the palm's extent, moved a little towards the fingers.
constexpr float kNextRegionScale = 2.0f;
constexpr float kNextRegionShift = -0.1f;

}  // namespace

bool HandTracker::landmarks(const Image& image, const RotatedRect& region, HandResult& result,
                            RotatedRect& next) {
  crop_to_tensor(image, region, kHandCropSize, kHandCropSize, 0.0f, 1.0f,
                 landmark_model.input(0).data());
  if (!landmark_model.run()) return false;
  const std::span<const float> presence = landmark_model.output(presence_output);
  const std::span<const float> handedness = landmark_model.output(handedness_output);
  // A model without these values cannot say that a hand is there.
  if (presence.empty() || handedness.empty()) return false;
  // Written so that a presence that is not a number counts as absent.
  if (!(presence[0] >= kMinPresence)) return false;

  const float* l = landmark_model.output(landmark_output).data();
  const float* w = landmark_model.output(world_output).data();
  const float sin_r = std::sin(region.rotation);
  const float cos_r = std::cos(region.rotation);
  const float n = static_cast<float>(kHandLandmarkCount);
  float mx = 0.0f, my = 0.0f, wmx = 0.0f, wmy = 0.0f, wmz = 0.0f;
  for (int i = 0; i < kHandLandmarkCount; ++i) {
    const Point p = crop_to_image(region, kHandCropSize, kHandCropSize,
                                  Point{l[3 * i], l[3 * i + 1], l[3 * i + 2]});
    const Point q{cos_r * w[3 * i] - sin_r * w[3 * i + 1], sin_r * w[3 * i] + cos_r * w[3 * i + 1],
                  w[3 * i + 2]};
    result.landmarks[i] = p;
    result.world_landmarks[i] = q;
    mx += p.x / n;
    my += p.y / n;
    wmx += q.x / n;
    wmy += q.y / n;
    wmz += q.z / n;
  }

  const float width = static_cast<float>(image.width);
  const float height = static_cast<float>(image.height);
  float image_spread = 0.0f, world_spread = 0.0f;
  for (int i = 0; i < kHandLandmarkCount; ++i) {
    Point& q = result.world_landmarks[i];
    q.x -= wmx;
    q.y -= wmy;
    q.z -= wmz;
    const float dx = (result.landmarks[i].x - mx) / width;
    const float dy = (result.landmarks[i].y - my) / width;
    image_spread += dx * dx + dy * dy;
    world_spread += q.x * q.x + q.y * q.y;
  }
  if (!(image_spread > 0.0f) || !(world_spread > 0.0f)) return false;

  result.center_x = (mx - width * 0.5f) / width;
  result.center_y = (my - height * 0.5f) / width;
  result.scale = std::sqrt(world_spread / image_spread);
  const float h = handedness[0];
  // A handedness that is not a number would reach the host as one.
  if (std::isnan(h)) return false;
  result.handedness = h >= 0.5f;
  result.handedness_score = result.handedness ? h : 1.0f - h;

  palm_points_.clear();
  for (const int k : kPalm) palm_points_.push_back(result.landmarks[k]);
  const float rotation =
      rect_rotation(result.landmarks[kWrist], result.landmarks[kMiddleFingerBase], 90.0f);
  next = transform_rect(rotated_bounds(palm_points_, rotation), kNextRegionScale,
                        kNextRegionShift);
  return true;
}
