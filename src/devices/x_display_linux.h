// Whether an X display answers in time. libpulse reads the display's root window while it
// creates a context, through libxcb, whose connect and reads wait without a bound: the
// sound server's listing asks the display first, with its own deadline.
#pragma once

#include <chrono>

namespace XDisplay {

// Reaches the display named `display` (DISPLAY's form, [protocol/][host]:number[.screen])
// as libxcb reaches it, and opens an X connection there without authorization. True
// when that connection ends before the deadline, one way or another: the display
// refuses, is not there, cannot be named, or answers. False when it would still wait at
// the deadline (connecting, or accepted and silent), as libxcb would then wait on.
// A host's name is looked up first, as libxcb does, in the resolver's own time.
bool AnswersBy(const char* display, std::chrono::steady_clock::time_point deadline);

}  // namespace XDisplay
