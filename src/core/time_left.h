// What is left before a deadline, as the int timeouts of poll-style waits take it.
#pragma once

#include <algorithm>
#include <chrono>

// Rounded up, so that a wait never ends before its deadline; 0 once the deadline has passed.
// Unit: std::chrono::milliseconds for poll(), microseconds for libpulse's main loop.
template <class Unit>
int TimeLeft(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::ceil<Unit>(deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<typename Unit::rep>(left.count(), 0));
}
