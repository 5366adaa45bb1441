#include "model/step.h"

#include "control/control.h"
#include "model/records.h"
#include "modulation/input_filter.h"
#include "modulation/modulator.h"
#include "modulation/reference.h"

#include <cstring>

namespace kestrune {

namespace {

constexpr double TWO_POW_32 = 4294967296.0;

bool isSlowRateHit(const ModelRecord &m) {
    return m.rateCounters[1] == 0;
}

// Counts a completed slow step and moves the slow time to the next one.
void advanceSlowTime(ModelRecord &m) {
    if (++m.slowTickLow == 0U) {
        ++m.slowTickHigh;
    }
    m.taskTimes[1] = slowTickTime(m.slowTickLow, m.slowTickHigh, m.slowStepSize);
}

// Counts the completed step: base tick, slow tick and slow time on a hit,
// then the rate counter.
void advanceTimeKeeping(ModelRecord &m, bool hit) {
    if (++m.baseTickLow == 0U) {
        ++m.baseTickHigh;
    }
    if (hit) {
        advanceSlowTime(m);
    }
    advanceRateCounter(m);
}

// The modulator's part of the base-rate output phase: leg references (the
// sine source is seeded on its first step whatever the source), carriers,
// leg levels and the gate outputs.
inline void modulatorOutputs(Model &model) {
    const double baseTime = baseStepTime(model.record);
    const LegReferences legReference = selectLegReferences(model, baseTime);
    const Carriers carriers = modulatorCarriers(model, baseTime);
    const LegLevels levels = compareLegLevels(model, legReference, carriers);
    writeGatePatterns(model, levels);
}

} // namespace

double slowTickTime(std::uint32_t low, std::uint32_t high, double slowStepSize) {
    return static_cast<double>(low) * slowStepSize + static_cast<double>(high) * slowStepSize * TWO_POW_32;
}

double baseStepTime(const ModelRecord &m) {
    return (static_cast<double>(m.baseTickLow) + static_cast<double>(m.baseTickHigh) * TWO_POW_32) *
           BASE_STEP;
}

void advanceRateCounter(ModelRecord &m) {
    auto c = static_cast<std::uint8_t>(m.rateCounters[1] + 1);
    if (c > SLOW_RATE_RATIO - 1) {
        c = 0;
    }
    m.rateCounters[1] = c;
    m.sampleHits[1] = c == 0 ? 1 : 0;
}

void snapshotOutputs(Model &model) {
    if (model.outputSnapshot != nullptr) {
        std::memcpy(model.outputSnapshot, model.outputs.gates, sizeof model.outputs.gates);
    }
}

void restoreOutputs(Model &model) {
    if (model.outputSnapshot != nullptr) {
        std::memcpy(model.outputs.gates, model.outputSnapshot, sizeof model.outputs.gates);
    }
}

void modelStep(Model &model) {
    ModelRecord &m = model.record;

    // Entry: a new slow period starts with the reference of the previous one.
    if (isSlowRateHit(m)) {
        transferReferenceIn(model);
    }

    // Output phase, base rate: the modulator and the gate outputs, then the
    // measurement filters.
    modulatorOutputs(model);
    filterOutputs(model);

    // Output phase, slow rate: sample the measurements, run the controls.
    if (isSlowRateHit(m)) {
        slowRateOutputs(model, m.taskTimes[1]);
    }

    snapshotOutputs(model);

    // Update phase: base-rate states, then on a hit the slow-rate states.
    advanceSineGenerator(model);
    filterUpdate(model);
    if (isSlowRateHit(m) && !slowRateUpdate(model)) {
        // A hosted block failed: the step is not counted, so the next call
        // repeats this slow-rate hit at the same times.
        return;
    }

    advanceTimeKeeping(m, isSlowRateHit(m));
}

double slowStepTime(const ModelRecord &m) {
    return m.taskTimes[1];
}

// Both partitions inline everything they call, so that the blocks keep the
// whole step as their only call site and are compiled into it as before.
[[gnu::flatten]] void fastPartitionStep(Model &model, SlowTickExchange exchange, void *context) {
    ModelRecord &m = model.record;
    const bool hit = isSlowRateHit(m);

    // The filters read only the inputs and their own states, so they run
    // first: on a slow-rate hit the exchange hands their values of this step
    // to the slow partition and takes the reference of the previous slow
    // period before the modulator reads it.
    filterOutputs(model);
    if (hit) {
        exchange(model, context);
    }

    modulatorOutputs(model);
    snapshotOutputs(model);

    advanceSineGenerator(model);
    filterUpdate(model);
    // The slow tick and time are the slow partition's to advance.
    advanceTimeKeeping(m, false);
}

[[gnu::flatten]] bool slowPartitionStep(Model &model, SlowTickExchange handOver, void *context) {
    ModelRecord &m = model.record;
    slowRateOutputsOfHeld(model, m.taskTimes[1]);
    handOver(model, context);
    if (!slowRateStateUpdate(model)) {
        // As in the whole step: the slow step is not counted, so the next
        // activation repeats it at the same slow time.
        return false;
    }
    advanceSlowTime(m);
    return true;
}

} // namespace kestrune
