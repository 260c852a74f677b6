#pragma once

#include <string>
#include <vector>

#include "image/image.h"
#include "tools/track/face_frame.h"

// Draws what the face tracker did on `canvas` (the frame it ran on): the
// detector box and keypoints on a searching frame, the region the landmark
// step sampled, the landmarks with the eye corners, nose tip, mouth corners
// and chin emphasised, the head pose axes from the nose tip (x red, y green,
// z blue) and the strongest blendshapes as bars in the top-left corner.
// `unit` is the width of a thin line in pixels.
void draw_face(Image& canvas, const FaceFrame& face, int unit);

// Lines for the frame's caption: the state change and whether a face was
// found, then the time of each step.
std::vector<std::string> face_caption(const FaceFrame& face);
