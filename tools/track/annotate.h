#pragma once

// What the track tool draws on a frame: the face tracker's and the hand
// tracker's marks, and the whole annotated frame with its caption.

#include <string>
#include <vector>

#include "image/image.h"
#include "tools/track/tracking.h"

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

// Draws what the hand tracker did on `canvas` (the frame it ran on): the
// palm boxes and their keypoints on a frame where the detector ran, the
// region each hand was found in, the 21 landmarks joined by their bones
// (one colour per finger) and, above each hand, its side ("L" or "R") with
// the handedness score. `unit` is the width of a thin line in pixels.
void draw_hands(Image& canvas, const HandFrame& hands, int unit);

// The letter for a hand of the given handedness flag: the side of the
// person the hand belongs to, in a photograph that is not mirrored.
const char* hand_side(bool handedness);

// Lines for the frame's caption: hands followed into the frame, whether the
// detector ran and what it found, hands found, then the time of each step.
std::vector<std::string> hands_caption(const HandFrame& hands);

// A copy of `image` annotated with what every tracking part in `record`
// did, with a caption on a strip below it: the frame's name and a few lines
// per part. Frames under 480 pixels on their shorter side come out
// enlarged by a whole factor (at most 4).
Image draw_frame(const Image& image, const FrameRecord& record);
