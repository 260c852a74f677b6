#pragma once

#include "app/bridge_state.h"

// Runs passes until a signal, a stop message, more than 3 s without an
// accepted control message or the end of the process that started the
// bridge (status 0), or a lost camera (status 1, already reported). Returns
// the exit status. A frame whose memory cannot be had is dropped.
int run_main_loop(BridgeState& state);

// True once the process that started the bridge has ended: another local
// process could otherwise bind the host's port and take its place.
bool host_gone(const BridgeState& state);

// Reads and applies the pending control datagrams (at most 64) at time `now`.
void drain_control(BridgeState& state, int64_t now);

// Turns the window sums into statistics, sends the running status and starts
// a new window at `now`.
void send_running_status(BridgeState& state, int64_t now);
