#include "app/stop_signal.h"

#include <initializer_list>

volatile std::sig_atomic_t stopped = 0;

void stop_signal(int) { stopped = 1; }

void install_stop_signals() {
  for (const int number : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) std::signal(number, stop_signal);
}
