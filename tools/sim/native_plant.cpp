#include "native_plant.h"

#include "common/number_text.h"
#include "divergence.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

namespace kestrune::sim {

namespace {

plant::Sample sampleOf(const plant::Plant &plant, std::size_t converter, const master::Inputs &m) {
    return plant::Sample{.time = plant.time(),
                         .e = {m[0], m[1], m[2]},
                         .i = {m[3], m[4], m[5]},
                         .vdc = m[6],
                         .gridFrequency = plant.gridFrequency(),
                         .illegalPatterns = plant.illegalPatterns(converter),
                         .directChanges = plant.directChanges(converter),
                         .sourceA = plant.gridVoltages()[0],
                         .step = plant.stepCount()};
}

// Whether two sets of gates are equal bit for bit (equal bits hold equal
// levels). Gate by gate, in eight-byte loads: the unit has just written the
// gates that way, and wider loads across its stores would wait for them.
bool sameBits(const master::Gates &a, const master::Gates &b) {
    for (std::size_t k = 0; k < a.size(); ++k)
        if (std::bit_cast<std::uint64_t>(a[k]) != std::bit_cast<std::uint64_t>(b[k]))
            return false;
    return true;
}

bool allFinite(const master::Inputs &m) {
    return std::all_of(m.begin(), m.end(), [](double v) { return std::isfinite(v); });
}

} // namespace

void NativePlant::setGates(std::size_t converter, const master::Gates &gates) {
    if (stoppedInside_ || (holding_[converter] && sameBits(held_[converter], gates)))
        return;
    plant_.hold(converter, gates);
    held_[converter] = gates;
    holding_[converter] = 1;
    stale_ = true;
}

void NativePlant::measure() {
    const std::size_t n = plant_.converterCount();
    for (std::size_t j = 0; j < n; ++j) {
        measured_[j] = plant_.measurements(j);
        pending_[j] = sampleOf(plant_, j, measured_[j]);
    }
    stale_ = false;
}

void NativePlant::doStep(double /*t*/, double h, PlantStepResult &result) {
    settle();
    const std::size_t n = plant_.converterCount();
    if (h != step_) {
        step_ = h;
        perStep_ = static_cast<std::int64_t>(std::llround(h / BASE_STEP));
    }
    const std::int64_t perStep = perStep_;
    result.status = PlantStepResult::Status::Ok;
    // Each converter's latest sample goes to its recorder once the next base
    // step is computed: the recorder's work then overlaps the integration,
    // whose arithmetic is one long chain of dependent operations. The last
    // base step's own sample waits for the gates the step's end brings.
    for (std::int64_t i = 0; i < perStep; ++i) {
        plant_.step();
        if (recorders_ != nullptr)
            for (std::size_t j = 0; j < n; ++j)
                (*recorders_)[j].add(pending_[j]);
        const bool last = i + 1 == perStep;
        if (!last)
            measure();
        if (!plant_.diverged()) {
            stale_ = last;
            continue;
        }
        // A state that is no longer a number counts as diverged too, but
        // that one is an error of the plant, not a result. (The levels held
        // at the step's end do not change whether the state is finite.)
        for (std::size_t j = 0; j < n; ++j)
            if (!allFinite(last ? plant_.measurements(j) : measured_[j])) {
                result = {.status = PlantStepResult::Status::Failed,
                          .reason = "the plant's state is no longer finite at t = " +
                                    numberText(plant_.time(), 10) + " s: check the plant parameters",
                          .lastSuccessfulTime = plant_.time()};
                return;
            }
        stale_ = last;
        stoppedInside_ = !last;
        result = {.status = PlantStepResult::Status::Terminated,
                  .reason = plant::divergence(plant_),
                  .lastSuccessfulTime = plant_.time()};
        return;
    }
}

void NativePlant::read(PlantSignals &signals) {
    settle();
    const std::size_t n = plant_.converterCount();
    signals.time = plant_.time();
    signals.step = plant_.stepCount();
    signals.gridFrequency = plant_.gridFrequency();
    signals.source = plant_.gridVoltages();
    signals.pcc = plant_.pccVoltages();
    signals.converters.resize(n);
    for (std::size_t j = 0; j < n; ++j) {
        ConverterSignals &c = signals.converters[j];
        const plant::PlantState &x = plant_.state(j);
        c.measurements = measured_[j];
        c.activePower = plant_.activePower(j);
        c.reactivePower = plant_.reactivePower(j);
        c.levels = plant_.levels(j);
        c.upperLinkVoltage = x.upper;
        c.lowerLinkVoltage = x.lower;
        c.illegalPatterns = plant_.illegalPatterns(j);
        c.directChanges = plant_.directChanges(j);
    }
}

void NativePlant::finish() {
    settle();
    if (recorders_ != nullptr)
        for (std::size_t j = 0; j < plant_.converterCount(); ++j)
            (*recorders_)[j].add(pending_[j]);
}

} // namespace kestrune::sim
