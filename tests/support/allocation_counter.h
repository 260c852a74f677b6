#pragma once

// Counts every heap allocation of the process between start_counting() and
// stop_counting(): operator new in all its forms and, outside sanitizer
// builds, malloc and its relatives. Linking the `allocation_counter` object
// library replaces those functions for the whole executable, so it goes into
// a test executable of its own.
void start_counting();

// Stops counting and returns the allocations since start_counting().
long stop_counting();

// The allocations made while `f` runs.
template <typename F>
long allocations_of(F&& f) {
  start_counting();
  f();
  return stop_counting();
}
