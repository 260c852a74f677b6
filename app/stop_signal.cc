#include "app/stop_signal.h"

volatile std::sig_atomic_t stopped = 0;

void stop_signal(int) { stopped = 1; }
