// The model's records, held together in one Model: the parameters (built
// from their defaults, kept across initializations), and the signals, work
// memory, inputs, outputs and model record that every model initialization
// clears. Every model function works on the Model it is given.
#pragma once

#include "children/child_host.h"
#include "control/control_records.h"
#include "identity.h"
#include "modulation/modulation_records.h"

#include <cmath>
#include <cstdint>

namespace kestrune {

struct ModelParameters {
    // Sample time that turns a whole number of samples into a delay in the
    // variable-frequency means [s]; the one parameter a master may change.
    double meanSampleTime;
    ModulationParameters modulation;
    ControlParameters control;
};

// Whether meanSampleTime may take the value: finite and positive, since it
// turns counts into delays. Written so that a NaN fails it.
inline bool validMeanSampleTime(double value) {
    return std::isfinite(value) && value > 0.0;
}

// Block outputs kept between the phases of a step and from step to step.
struct ModelSignals {
    ModulationSignals modulation;
    ControlSignals control;
};

// Discrete states and other work memory of the blocks.
struct ModelWork {
    ModulationWork modulation;
    ControlWork control;
    ChildWorkSlots children[CHILD_COUNT]; // the hosted blocks' one-element work slots
};

// The seven measurements, contiguous: three ports.
struct ModelInputs {
    double gridVoltage[3];      // [V]
    double converterCurrent[3]; // [A]
    double dcVoltage;           // [V]
};

// The twelve gate signals, 0.0 or 1.0: legs a, b, c, switches 1 to 4 each.
struct ModelOutputs {
    double gates[GATE_COUNT];
};

struct SolverSettings {
    const char *solverName;
    std::int32_t solverMode;
    double fixedStepSize;
};

struct ModelRecord;

// The addresses every hosted block receives. A block that stores a message
// through errorStatus fails the model; one that stores non-zero through
// stopRequested stops stepping.
struct SharedModelInfo {
    const char **errorStatus;
    std::int32_t *sampleTimeCount;
    double **taskTimePointers;
    double *startTime;
    double *finalTime;
    double *auxiliaryTime;
    double *stepSize;
    std::uint8_t *stopRequested;
    std::uint8_t *statusFlag1;
    std::uint8_t *statusFlag0;
    std::uint8_t *statusFlag2;
    std::int32_t **sampleHitsPointer;
    std::int32_t **perTaskHitsPointer;
    std::int32_t *simulationMode;
    SolverSettings **solverSettingsPointer;
};

struct ModelRecord {
    ChildContext **childTable;
    const char *errorStatus;
    std::int32_t simulationMode;
    SolverSettings solverSettings;
    SolverSettings *solverSettingsPointer;
    SharedModelInfo *sharedInfoPointer;
    SharedModelInfo sharedInfo;
    double *taskTimePointers[2];
    ChildContext children[CHILD_COUNT];
    ChildContext *childPointers[CHILD_COUNT];
    ChildSlots childSlots[CHILD_COUNT];
    std::uint8_t statusFlags[3];
    std::int32_t sampleTimeCount;
    std::int32_t childCount;
    double stepSize;
    // Base and slow steps completed since registration, each one 64-bit count
    // in two words.
    std::uint32_t baseTickLow;
    std::uint32_t baseTickHigh;
    std::uint32_t slowTickLow;
    std::uint32_t slowTickHigh;
    double slowStepSize;
    std::uint8_t rateCounters[2]; // [1]: position 0..19 within the slow period
    double startTime;
    double finalTime;
    double auxiliaryTime;
    std::uint8_t stopRequested;
    double *sampleTimesPointer;
    double *sampleOffsetsPointer;
    std::int32_t *taskIdentifiersPointer;
    std::int32_t *sampleHitsPointer;
    std::int32_t *perTaskHitsPointer;
    double *taskTimesPointer;
    double sampleTimes[2];
    double sampleOffsets[2];
    std::int32_t taskIdentifiers[2];
    std::int32_t sampleHits[2]; // [1]: 1 when the coming base step runs the slow rate
    std::int32_t perTaskHits[4];
    double taskTimes[2]; // [1]: time of the slow step being computed
    // Set by a model initialization that started every hosted block, cleared
    // by modelTerminate: the model may step only while it is set.
    std::uint8_t childrenStarted;
};

// The stored defaults of every parameter. The three limits that stand for
// +infinity hold 0.0 here; model initialization makes them infinite.
extern const ModelParameters DEFAULT_MODEL_PARAMETERS;

// One controller: its six records and where its step publishes the outputs.
// The model record points into itself (the child table, the shared
// information, the hosted blocks' wiring) and the hosted blocks' contexts
// point into the signals, so a Model stays where it was made: it can be
// neither copied nor moved.
struct Model {
    // Parameters at their defaults, everything else zero: the state of a
    // freshly loaded library's model.
    Model();
    Model(const Model &) = delete;
    Model &operator=(const Model &) = delete;

    ModelParameters parameters;
    ModelSignals signals;
    ModelWork work;
    ModelInputs inputs;
    ModelOutputs outputs;
    ModelRecord record;
    // GATE_COUNT doubles that the step captures the outputs into at the end
    // of each output phase, or null for a model nobody publishes. The FMI
    // layer points it at its instance's snapshot.
    double *outputSnapshot;
};

// Clears the model record and rebuilds it; clears signals, work memory,
// inputs and outputs. Parameters are not touched. Cannot fail.
void registerModel(Model &model);

} // namespace kestrune
