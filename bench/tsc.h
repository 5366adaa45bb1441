// Short intervals in time-stamp-counter ticks, fenced so that the work
// measured stays between the two reads, and the ticks' rate against the
// steady clock. Elsewhere than on x86-64 the steady clock's nanoseconds
// stand in for the ticks.
#pragma once

#if defined(__x86_64__)
#include <x86intrin.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

namespace kestrune::bench {

#if defined(__x86_64__)
inline std::uint64_t tscBegin() {
    _mm_lfence();
    const std::uint64_t t = __rdtsc();
    _mm_lfence();
    return t;
}

inline std::uint64_t tscEnd() {
    unsigned int aux = 0;
    const std::uint64_t t = __rdtscp(&aux);
    _mm_lfence();
    return t;
}
#else
inline std::uint64_t tscBegin() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

inline std::uint64_t tscEnd() {
    return tscBegin();
}
#endif

// Ticks per nanosecond, from 200 ms of the steady clock.
inline double tscTicksPerNanosecond() {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point c0 = Clock::now();
    const std::uint64_t t0 = tscBegin();
    while (Clock::now() - c0 < std::chrono::milliseconds(200)) {
    }
    const std::uint64_t t1 = tscEnd();
    const Clock::time_point c1 = Clock::now();
    return static_cast<double>(t1 - t0) / std::chrono::duration<double, std::nano>(c1 - c0).count();
}

// Median ticks of an empty measured interval: the cost of the two reads.
inline std::uint64_t tscOverheadTicks() {
    std::vector<std::uint64_t> samples(10001);
    for (std::uint64_t &s : samples) {
        const std::uint64_t t0 = tscBegin();
        s = tscEnd() - t0;
    }
    std::nth_element(samples.begin(), samples.begin() + 5000, samples.end());
    return samples[5000];
}

} // namespace kestrune::bench
