#include "model/records.h"

namespace kestrune {

ModelParameters modelParameters = {
    .meanSampleTime = 1e-4,
    .agcMagnitudeMax = 0.0,
    .pllIntegratorMax = 0.0,
    .pllOmegaMax = 0.0,
};
ModelSignals modelSignals;
ModelWork modelWork;
ModelInputs modelInputs;
ModelOutputs modelOutputs;
ModelRecord modelRecord;

void registerModel() {
    ModelRecord &m = modelRecord;
    m = ModelRecord{};

    m.solverSettings.solverName = "FixedStepDiscrete";
    m.solverSettingsPointer = &m.solverSettings;

    m.taskIdentifiers[0] = 0;
    m.taskIdentifiers[1] = 1;
    m.taskIdentifiersPointer = m.taskIdentifiers;
    m.sampleTimesPointer = m.sampleTimes;
    m.sampleOffsetsPointer = m.sampleOffsets;
    m.sampleTimes[0] = BASE_STEP;
    m.sampleTimes[1] = SLOW_STEP;
    m.sampleOffsets[0] = 0.0;
    m.sampleOffsets[1] = 0.0;
    m.taskTimesPointer = m.taskTimes;
    m.sampleHits[0] = 1;
    m.sampleHits[1] = 1;
    m.sampleHitsPointer = m.sampleHits;

    m.finalTime = -1.0;
    m.slowStepSize = SLOW_STEP;
    m.stepSize = BASE_STEP;
    m.solverSettings.fixedStepSize = BASE_STEP;
    m.solverSettings.solverMode = 1;

    modelSignals = ModelSignals{};
    modelWork = ModelWork{};
    modelInputs = ModelInputs{};
    modelOutputs = ModelOutputs{};

    SharedModelInfo &info = m.sharedInfo;
    m.sharedInfoPointer = &info;
    info.errorStatus = &m.errorStatus;
    info.sampleTimeCount = &m.sampleTimeCount;
    info.taskTimePointers = m.taskTimePointers;
    info.startTime = &m.startTime;
    info.finalTime = &m.finalTime;
    info.auxiliaryTime = &m.auxiliaryTime;
    info.stepSize = &m.stepSize;
    info.stopRequested = &m.stopRequested;
    info.statusFlag1 = &m.statusFlags[1];
    info.statusFlag0 = &m.statusFlags[0];
    info.statusFlag2 = &m.statusFlags[2];
    info.sampleHitsPointer = &m.sampleHitsPointer;
    info.perTaskHitsPointer = &m.perTaskHitsPointer;
    info.simulationMode = &m.simulationMode;
    info.solverSettingsPointer = &m.solverSettingsPointer;
    m.sampleTimeCount = 2;
    m.taskTimePointers[0] = &m.taskTimes[0];
    m.taskTimePointers[1] = &m.taskTimes[1];

    m.childCount = CHILD_COUNT;
    for (int i = 0; i < CHILD_COUNT; ++i) {
        m.children[i] = ChildContext{};
        m.childPointers[i] = &m.children[i];
    }
    m.childTable = m.childPointers;
}

} // namespace kestrune
