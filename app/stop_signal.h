#pragma once

#include <csignal>

// Set by SIGINT, SIGTERM or a stop message; the main loop polls it. The only
// state shared with a signal handler.
extern volatile std::sig_atomic_t stopped;

void stop_signal(int);
