// kestrune-step-latency: times consecutive base steps of the statically
// linked model one by one on the running grid (after 0.5 s of warm-up, so
// the loop is locked) and prints the 50th, 99th and 99.99th percentile and
// the maximum, for the base steps and for the slow-rate hits apart. The
// inputs of each step are written before its timed interval.
//
//   kestrune-step-latency [STEPS [RUNS]]   (default 10,000,000 steps, 1 run)
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

struct Percentiles {
    double p50, p99, p9999, max; // [ns]
};

Percentiles percentiles(std::vector<std::uint32_t> &ticks, double ticksPerNs) {
    std::sort(ticks.begin(), ticks.end());
    return {percentile(ticks, 0.5) / ticksPerNs, percentile(ticks, 0.99) / ticksPerNs,
            percentile(ticks, 0.9999) / ticksPerNs, (ticks.empty() ? 0.0 : ticks.back()) / ticksPerNs};
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

void printRow(const char *label, const Percentiles &p) {
    std::printf("  %-16s %8.1f %8.1f %9.1f %10.1f\n", label, p.p50, p.p99, p.p9999, p.max);
}

// Median of each figure over the runs, with the lowest and highest.
void printMedians(const char *label, const std::vector<Percentiles> &runs, double targetP99) {
    const auto column = [&](double Percentiles::*field) {
        std::vector<double> v;
        for (const Percentiles &p : runs) {
            v.push_back(p.*field);
        }
        return v;
    };
    const Percentiles m{median(column(&Percentiles::p50)), median(column(&Percentiles::p99)),
                        median(column(&Percentiles::p9999)), median(column(&Percentiles::max))};
    printRow(label, m);
    const std::vector<double> p99 = column(&Percentiles::p99);
    std::printf("  %-16s p99 %.1f .. %.1f over the runs, target < %.0f\n", "",
                *std::min_element(p99.begin(), p99.end()), *std::max_element(p99.begin(), p99.end()),
                targetP99);
}

} // namespace

int main(int argc, char **argv) {
    const long steps = argc > 1 ? std::atol(argv[1]) : 10000000L;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 1;
    if (steps <= 0 || runs <= 0) {
        std::fprintf(stderr, "usage: kestrune-step-latency [STEPS [RUNS]]\n");
        return 2;
    }
    const double ticksPerNs = bench::tscTicksPerNanosecond();
    const std::uint64_t overhead = bench::tscOverheadTicks();

    bench::ModelDrive drive;
    drive.warmUp();

    std::printf("%ld consecutive base steps of modelStep per run, each timed alone [ns]\n", steps);
    std::printf("(time-stamp counter %.3f ticks/ns; the %.1f ns of a reading pair are included)\n",
                ticksPerNs, static_cast<double>(overhead) / ticksPerNs);
    std::printf("  %-16s %8s %8s %9s %10s\n", "", "p50", "p99", "p99.99", "max");

    std::vector<std::uint32_t> base;
    std::vector<std::uint32_t> hits;
    base.reserve(static_cast<std::size_t>(steps));
    hits.reserve(static_cast<std::size_t>(steps / 20 + 1));
    std::vector<Percentiles> baseRuns;
    std::vector<Percentiles> hitRuns;
    for (int run = 0; run < runs; ++run) {
        base.clear();
        hits.clear();
        for (long i = 0; i < steps; ++i) {
            const bool hit = bench::isSlowRateHitNext();
            bench::writeInputs(drive.inputsOfNextStep());
            const std::uint64_t t0 = bench::tscBegin();
            modelStep(libraryModel);
            const std::uint64_t t1 = bench::tscEnd();
            drive.advanceCount();
            const auto ticks = static_cast<std::uint32_t>(std::min<std::uint64_t>(t1 - t0, UINT32_MAX));
            (hit ? hits : base).push_back(ticks);
        }
        baseRuns.push_back(percentiles(base, ticksPerNs));
        hitRuns.push_back(percentiles(hits, ticksPerNs));
        char label[32];
        std::snprintf(label, sizeof label, "run %d base", run + 1);
        printRow(label, baseRuns.back());
        std::snprintf(label, sizeof label, "run %d hit", run + 1);
        printRow(label, hitRuns.back());
    }
    std::printf("median of %d run(s):\n", runs);
    printMedians("base step", baseRuns, 500.0);
    printMedians("slow-rate hit", hitRuns, 3000.0);
    return 0;
}
