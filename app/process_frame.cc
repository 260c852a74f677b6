#include "app/process_frame.h"

#include "app/clock.h"
#include "app/face_stage.h"
#include "app/hand_stage.h"
#include "image/luma.h"

namespace {

constexpr int kFrameLumaStep = 16;

}  // namespace

void process_frame(BridgeState& state, const Image& image) {
  if (image.width != state.frame_width || image.height != state.frame_height) {
    state.status_due = steady_now_ns();  // report the new size in the next pass
  }
  state.frame_width = image.width;
  state.frame_height = image.height;

  const uint64_t timestamp_us = static_cast<uint64_t>(steady_now_ns() / 1000);
  const int64_t t0 = steady_now_ns();
  face_step(state, image, timestamp_us);
  hands_step(state, image, timestamp_us);
  state.window.inference_ms_sum += static_cast<double>(steady_now_ns() - t0) / 1e6;
  state.window.frame_luma_sum += mean_luma(image, {}, kFrameLumaStep);
  state.window.frame_count += 1;
}
