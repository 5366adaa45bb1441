// The statically linked model driven as the unit's own step loop drives it:
// the library's model with one instance attached (so every step fills the
// output snapshot), a running 600 V line-to-line, 60 Hz grid with 500 V DC on
// the inputs, advanced until the phase-locked loop is locked.
#pragma once

#include "fmu/fmi2.h"
#include "fmu/instance.h"
#include "master/grid.h"
#include "model/records.h"
#include "model/step.h"

#include <array>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace kestrune::bench {

inline constexpr double BASE_STEP_SECONDS = BASE_STEP;
// Three 60 Hz cycles are exactly 10,000 base steps, so a table of that
// length repeats without a phase jump and stays in the second-level cache.
inline constexpr std::size_t INPUT_TABLE_STEPS = 10000;
// Simulated time before measuring: the loop locks and the modulation
// reference settles within it.
inline constexpr long WARM_UP_STEPS = 100000; // 0.5 s

inline void ignoreMessage(fmi2ComponentEnvironment, fmi2String, fmi2Status, fmi2String, fmi2String, ...) {}

inline const fmi2CallbackFunctions QUIET_CALLBACKS = {ignoreMessage, nullptr, nullptr, nullptr, nullptr};

// The grid inputs of base steps 0 .. INPUT_TABLE_STEPS - 1.
inline std::vector<master::Inputs> gridInputTable() {
    std::vector<master::Inputs> table(INPUT_TABLE_STEPS);
    for (std::size_t k = 0; k < table.size(); ++k) {
        table[k] = master::gridInputs({}, static_cast<double>(k) * BASE_STEP_SECONDS);
    }
    return table;
}

inline void writeInputs(const master::Inputs &in) {
    libraryModel.inputs.gridVoltage[0] = in[0];
    libraryModel.inputs.gridVoltage[1] = in[1];
    libraryModel.inputs.gridVoltage[2] = in[2];
    libraryModel.inputs.converterCurrent[0] = in[3];
    libraryModel.inputs.converterCurrent[1] = in[4];
    libraryModel.inputs.converterCurrent[2] = in[5];
    libraryModel.inputs.dcVoltage = in[6];
}

inline bool isSlowRateHitNext() {
    return libraryModel.record.rateCounters[1] == 0;
}

// Owns the model's one instance in this process and the input table; the
// step counter k is the base step the next modelStep computes.
class ModelDrive {
  public:
    ModelDrive() : inputs_(gridInputTable()) {
        component_ = fmi2Instantiate("bench", fmi2CoSimulation, MODEL_GUID, nullptr, &QUIET_CALLBACKS,
                                     fmi2False, fmi2False);
        if (component_ == nullptr ||
            fmi2SetupExperiment(component_, fmi2False, 0.0, 0.0, fmi2False, 0.0) != fmi2OK ||
            fmi2EnterInitializationMode(component_) != fmi2OK) {
            std::fprintf(stderr, "the model did not initialize\n");
            std::abort();
        }
        writeInputs(inputs_[0]);
        if (fmi2ExitInitializationMode(component_) != fmi2OK) {
            std::fprintf(stderr, "the model did not initialize\n");
            std::abort();
        }
        step_ = 1;
    }
    ~ModelDrive() { fmi2FreeInstance(component_); }
    ModelDrive(const ModelDrive &) = delete;
    ModelDrive &operator=(const ModelDrive &) = delete;

    const master::Inputs &inputsOfNextStep() const { return inputs_[step_ % INPUT_TABLE_STEPS]; }

    // One base step with the inputs of its time.
    void step() {
        writeInputs(inputsOfNextStep());
        modelStep(libraryModel);
        ++step_;
    }

    void warmUp(long steps = WARM_UP_STEPS) {
        for (long i = 0; i < steps; ++i) {
            step();
        }
    }

    // Steps until the next modelStep is a slow-rate hit (or, with hit false,
    // is not one).
    void stepUntilHitIs(bool hit) {
        while (isSlowRateHitNext() != hit) {
            step();
        }
    }

    long stepCount() const { return step_; }
    void advanceCount() { ++step_; }

  private:
    std::vector<master::Inputs> inputs_;
    fmi2Component component_ = nullptr;
    long step_ = 0;
};

} // namespace kestrune::bench
