#pragma once

#include <csignal>

// Set by a stop signal or a stop message; the main loop polls it. The only
// state shared with a signal handler.
extern volatile std::sig_atomic_t stopped;

void stop_signal(int);

// Makes SIGTERM, SIGINT, SIGHUP (a closed terminal or login) and SIGQUIT set
// `stopped`, so that each ends the run cleanly with status 0: the camera
// released, its exposure setting restored. Installed first thing in main,
// so that a signal during start-up has the same clean end.
void install_stop_signals();
