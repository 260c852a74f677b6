#pragma once

#include "app/settings.h"

// Runs the bridge for validated settings: socket, state, "starting" status,
// face models, frame source, main loop. Returns the process exit status.
int run_bridge(const Settings& settings);
