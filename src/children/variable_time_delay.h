// The Discrete Variable Time Delay, hosted as "S-Function": delays the "In"
// signal by the delay on "D" (seconds, may change every step), reading the
// delayed value out of a per-channel ring buffer with linear interpolation
// between stored samples.
#pragma once

#include "children/child_host.h"
#include "children/param_matrix.h"

#include <cstdint>

namespace kestrune {

// The block's four parameter values, in the order the block reads them.
struct VariableTimeDelayParameters {
    ScalarParam maxDelay;         // [s], > 0
    ScalarParam sampleTime;       // [s], > 0
    ScalarParam initialCondition; // past inputs, oldest first; one column, or one per channel
    ScalarParam feedthrough;      // 1: the current input is part of the delay line
};

// Parameter value indices in the block's params table.
enum VariableTimeDelayParam : int {
    DELAY_PARAM_MAX_DELAY = 0,
    DELAY_PARAM_SAMPLE_TIME = 1,
    DELAY_PARAM_INITIAL_CONDITION = 2,
    DELAY_PARAM_FEEDTHROUGH = 3,
};

// The block's own record in userData: three diagnostic flags, set to 1 and
// never cleared, and the memory the block allocated in mdlStart so that
// mdlTerminate releases exactly that (never the host's one-element slots).
struct DelayRecord {
    std::int32_t extrapolated; // a delay below one sample served without feedthrough
    std::int32_t clippedHigh;  // a delay above the maximum, or infinite, limited to the maximum
    std::int32_t clippedLow;   // a negative or NaN delay limited to zero
    void **ownedBuffers;       // the PWORK table: one ring buffer per channel
    std::int32_t ownedChannels;
    std::int32_t *ownedWriteIndex; // the IDX_WRITE array
};

inline constexpr const char *DELAY_WIDTH_ERROR =
    "The 'D' input size must be 1 or equal to the 'In' input size";
inline constexpr const char *DELAY_INITIAL_CONDITION_ERROR =
    "The initial condition size must be 1 or equal to the 'In' input size";
inline constexpr const char *DELAY_MAX_DELAY_ERROR = "The maximum delay must be > 0";
inline constexpr const char *DELAY_SAMPLE_TIME_ERROR = "The sample time must be > 0";

// The memory a started block works on, as the FMU state saves and restores
// it: its record, and per channel a ring buffer of length doubles and the
// index the next sample is written to.
struct DelayLineMemory {
    DelayRecord *record;
    std::int32_t channels;
    std::int32_t length;
    std::int32_t *writeIndex;
    void *const *buffers; // channels pointers to double
};

// The memory of a started block; false for a block that has none (not
// started, or terminated).
bool delayLineMemory(const ChildContext *ctx, DelayLineMemory &memory);

// Stores the block's seven methods into ctx's method table.
void registerVariableTimeDelay(ChildContext *ctx);

} // namespace kestrune
