#pragma once

#include "core/rotated_rect.h"
#include "face/face_tracker.h"
#include "image/image.h"

// One frame through the face tracker, with what the tracker did inside.
struct FaceFrame {
  FaceResult result;
  FaceSteps steps;
  // The tracker's state after the frame: while tracking, `roi_after` is the
  // region the next frame's landmark step will sample.
  bool tracking_after = false;
  RotatedRect roi_after;
  double total_ms = 0.0;  // the whole process() call
};

// The vertical field of view (degrees) of a width x height frame seen with
// the given horizontal one.
float vertical_fov(float horizontal_fov, int width, int height);

// Runs `tracker` on `image` (horizontal field of view in degrees) and
// records the result and the steps.
FaceFrame track_face(FaceTracker& tracker, const Image& image, float horizontal_fov);

// `face` with every coordinate (landmarks, detection, regions) multiplied by
// `factor`, for drawing on a copy of the frame enlarged that many times.
FaceFrame scaled(const FaceFrame& face, float factor);
