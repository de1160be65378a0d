#pragma once
// Where the user's waits go. With VEMRA_TRACE set (to anything but "0"),
// every step of the start and of a command writes one line to stderr:
//   vemra-trace <monotonic clock in microseconds> <step>
// The clock is CLOCK_MONOTONIC, so a program that started us can take its
// own reading before the start and subtract. Without the variable a step
// costs one test of a flag.
//
// The same variable makes the view print "vemra-trace ... first-picture-frame"
// once, when a frame that shows a picture has reached the window; the
// start-up benchmark waits for that line.
#include <cstdint>

// The monotonic clock in microseconds.
int64_t MonotonicMicroseconds();
bool StepTraceOn();
void TraceStep(const char* Step);
