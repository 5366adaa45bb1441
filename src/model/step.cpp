#include "model/step.h"

#include "control/control.h"
#include "fmu/stepping.h"
#include "model/records.h"
#include "modulation/input_filter.h"
#include "modulation/modulator.h"
#include "modulation/reference.h"

namespace kestrune {

namespace {

constexpr double TWO_POW_32 = 4294967296.0;

bool isSlowRateHit(const ModelRecord &m) {
    return m.rateCounters[1] == 0;
}

// Counts the completed step: base tick, slow tick and slow time on a hit,
// then the rate counter.
void advanceTimeKeeping(ModelRecord &m, bool hit) {
    if (++m.baseTickLow == 0U) {
        ++m.baseTickHigh;
    }
    if (hit) {
        if (++m.slowTickLow == 0U) {
            ++m.slowTickHigh;
        }
        m.taskTimes[1] = static_cast<double>(m.slowTickLow) * m.slowStepSize +
                         static_cast<double>(m.slowTickHigh) * m.slowStepSize * TWO_POW_32;
    }
    advanceRateCounter();
}

} // namespace

double baseStepTime(const ModelRecord &m) {
    return (static_cast<double>(m.baseTickLow) + static_cast<double>(m.baseTickHigh) * TWO_POW_32) *
           BASE_STEP;
}

void advanceRateCounter() {
    ModelRecord &m = modelRecord;
    auto c = static_cast<std::uint8_t>(m.rateCounters[1] + 1);
    if (c > SLOW_RATE_RATIO - 1) {
        c = 0;
    }
    m.rateCounters[1] = c;
    m.sampleHits[1] = c == 0 ? 1 : 0;
}

void modelStep() {
    ModelRecord &m = modelRecord;

    // Entry: a new slow period starts with the reference of the previous one.
    if (isSlowRateHit(m)) {
        transferReferenceIn();
    }

    // Output phase, base rate: leg references (the sine source is seeded on
    // its first step whatever the source), carriers, leg levels, the gate
    // outputs, then the measurement filters.
    const double baseTime = baseStepTime(m);
    const LegReferences legReference = selectLegReferences(baseTime);
    const Carriers carriers = modulatorCarriers(baseTime);
    const LegLevels levels = compareLegLevels(legReference, carriers);
    writeGatePatterns(levels);
    filterOutputs();

    // Output phase, slow rate: sample the measurements, run the controls.
    if (isSlowRateHit(m)) {
        slowRateOutputs(m.taskTimes[1]);
    }

    snapshotOutputs();

    // Update phase: base-rate states, then on a hit the slow-rate states.
    advanceSineGenerator();
    filterUpdate();
    if (isSlowRateHit(m) && !slowRateUpdate()) {
        // A hosted block failed: the step is not counted, so the next call
        // repeats this slow-rate hit at the same times.
        return;
    }

    advanceTimeKeeping(m, isSlowRateHit(m));
}

} // namespace kestrune
