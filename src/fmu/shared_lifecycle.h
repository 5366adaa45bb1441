// What the life cycles of both FMI editions do alike: keep their own copy of
// a text the master passes, and accept a start time.
#pragma once

namespace kestrune {

// How far from 0 a start time may lie [s]: the unit's time starts at 0, and
// a master that computes its start may be off by rounding.
inline constexpr double START_TIME_TOLERANCE = 1e-7;

// Whether an experiment may start at startTime; false for NaN.
bool acceptsStartTime(double startTime);

// A copy of text in memory from malloc, or null when there is none to be had.
char *copyText(const char *text);

} // namespace kestrune
