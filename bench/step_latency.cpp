// kestrune-step-latency: times consecutive base steps of the statically
// linked model one by one on the running grid (after 0.5 s of warm-up, so
// the loop is locked) and prints the 50th, 99th and 99.99th percentile and
// the maximum, for the base steps and for the slow-rate hits apart. The
// inputs of each step are written before its timed interval.
//
//   kestrune-step-latency [STEPS]   (default 10,000,000)
#include "model_drive.h"
#include "tsc.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using namespace kestrune;

// The sample at fraction p of the sorted samples (nearest rank).
double percentile(const std::vector<std::uint32_t> &sorted, double p) {
    if (sorted.empty()) {
        return 0.0;
    }
    auto rank = static_cast<std::size_t>(p * static_cast<double>(sorted.size()));
    rank = std::min(rank, sorted.size() - 1);
    return sorted[rank];
}

void report(const char *label, std::vector<std::uint32_t> &ticks, double ticksPerNs, double targetP99) {
    std::sort(ticks.begin(), ticks.end());
    const auto ns = [&](double t) { return t / ticksPerNs; };
    std::printf("  %-10s %10zu   %8.1f %8.1f %9.1f %9.1f   (target p99 < %.0f)\n", label, ticks.size(),
                ns(percentile(ticks, 0.5)), ns(percentile(ticks, 0.99)), ns(percentile(ticks, 0.9999)),
                ns(ticks.empty() ? 0.0 : ticks.back()), targetP99);
}

} // namespace

int main(int argc, char **argv) {
    const long steps = argc > 1 ? std::atol(argv[1]) : 10000000L;
    if (steps <= 0) {
        std::fprintf(stderr, "usage: kestrune-step-latency [STEPS]\n");
        return 2;
    }
    const double ticksPerNs = bench::tscTicksPerNanosecond();
    const std::uint64_t overhead = bench::tscOverheadTicks();

    bench::ModelDrive drive;
    drive.warmUp();

    std::vector<std::uint32_t> base;
    std::vector<std::uint32_t> hits;
    base.reserve(static_cast<std::size_t>(steps));
    hits.reserve(static_cast<std::size_t>(steps / 20 + 1));
    for (long i = 0; i < steps; ++i) {
        const bool hit = bench::isSlowRateHitNext();
        bench::writeInputs(drive.inputsOfNextStep());
        const std::uint64_t t0 = bench::tscBegin();
        modelStep();
        const std::uint64_t t1 = bench::tscEnd();
        drive.advanceCount();
        const auto ticks = static_cast<std::uint32_t>(std::min<std::uint64_t>(t1 - t0, UINT32_MAX));
        (hit ? hits : base).push_back(ticks);
    }

    std::printf("%ld consecutive base steps of modelStep, each timed alone [ns]\n", steps);
    std::printf("(time-stamp counter %.3f ticks/ns; the %.1f ns of a reading pair are included)\n",
                ticksPerNs, static_cast<double>(overhead) / ticksPerNs);
    std::printf("  %-10s %10s   %8s %8s %9s %9s\n", "", "count", "p50", "p99", "p99.99", "max");
    report("base step", base, ticksPerNs, 500.0);
    report("hit", hits, ticksPerNs, 3000.0);
    return 0;
}
