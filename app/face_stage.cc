#include "app/face_stage.h"

// The face tracker plugs in here; until then a frame has no face step.
bool face_stage_start(BridgeState&) { return true; }

void face_step(BridgeState&, const Image&, uint64_t) {}

void face_stage_options_changed(BridgeState&) {}
