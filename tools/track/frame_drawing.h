#pragma once

#include "image/image.h"
#include "tools/track/frame_record.h"

// A copy of `image` annotated with what every tracking part in `record`
// did, with a caption on a strip below it: the frame's name and a few lines
// per part. Frames under 480 pixels on their shorter side come out
// enlarged by a whole factor (at most 4).
Image draw_frame(const Image& image, const FrameRecord& record);
