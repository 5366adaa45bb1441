#include "model/records.h"

namespace kestrune {

namespace {

// Tustin discretization at the base step, prewarped at 750 Hz, of the
// second-order low-pass with natural frequency 2*pi*750 rad/s and damping
// 0.707: unity gain at DC, 0.99998 and -6.49 degrees at 60 Hz.
constexpr InputFilterParameters MEASUREMENT_FILTER = {
    .a11 = 0.9997269778802143,
    .a12 = 4.917398184953451e-06,
    .a21 = -109.2088479141318,
    .a22 = 0.9669592739798962,
    .b1 = 2.4586990924786434e-06,
    .b2 = 0.983479636989948,
    .c1 = 111.02816529354276,
    .c2 = 0.00027302211978574853,
    .d = 0.00013651105989287426,
    .initialState1 = 0.0,
    .initialState2 = 0.0,
};

// The delay line of a mean: maximum delay, sample time 1e-4 s, a history of
// zeros, and the current input taken into the line (feedthrough).
constexpr VariableTimeDelayParameters delayLine(double maxDelay) {
    return {
        .maxDelay = {{1.0, 1.0, maxDelay}},
        .sampleTime = {{1.0, 1.0, 1e-4}},
        .initialCondition = {{1.0, 1.0, 0.0}},
        .feedthrough = {{1.0, 1.0, 1.0}},
    };
}

// Longest delay of the variable-frequency means' lines: one period just
// under 44.8 Hz [s].
constexpr double VARIABLE_MEAN_MAX_DELAY = 0.022322222222222222;
// Longest delay of the fixed 60 Hz means' lines [s].
constexpr double FIXED_MEAN_MAX_DELAY = 0.0169;

constexpr VariableFrequencyMeanParameters variableFrequencyMean(double initialOutput) {
    return {
        .halfStepGain = 5e-05,
        .frequencyLowerLimit = 2.220446049250313e-16,
        .frequencyUpperLimit = 1000000.0,
        .startupPeriod = 0.016666666666666666,
        .correctionWeight = 0.5,
        .initialOutput = initialOutput,
        .delayLine = delayLine(VARIABLE_MEAN_MAX_DELAY),
    };
}

constexpr FixedFrequencyMeanParameters fixedFrequencyMean(double initialOutput) {
    return {
        .halfStepGain = 5e-05,
        .fixedDelay = 0.0167,
        .fixedFrequency = 60.0,
        .inputCoefficient = -0.0016666666666667045,
        .previousInputCoefficient = 0.0003333333333333523,
        .initialOutput = initialOutput,
        .delayLine = delayLine(FIXED_MEAN_MAX_DELAY),
    };
}

// abc to alpha, beta and zero with the amplitude-invariant gain 2/3, then
// the frame a quarter turn behind the angle.
constexpr DqTransformParameters DQ_TRANSFORM = {
    .clarkeMatrix = {{1.0, -0.5, -0.5}, {0.0, 0.8660254037844386, -0.8660254037844386}, {0.5, 0.5, 0.5}},
    .clarkeGain = 0.6666666666666666,
    .frameAlignment = 2.0,
    .directInitial = {0.0, 0.0},
    .laggingInitial = {0.0, 0.0},
};

// One axis of the current regulators: a filtered derivative with time
// constant 2e-4 s in Tustin form, an integrator and an output within
// +-12 per unit.
constexpr CurrentRegulatorParameters CURRENT_REGULATOR = {
    .derivativeNumerator = {2.0, -2.0},
    .derivativeDenominator = {0.0005, -0.0003},
    .currentIntegratorGain = 0.0001,
    .currentIntegratorMax = 12.0,
    .currentIntegratorMin = -12.0,
    .currentOutputMax = 12.0,
    .currentOutputMin = -12.0,
    .derivativeInitial = 0.0,
    .integratorInitial = 0.0,
};

} // namespace

const ModelParameters DEFAULT_MODEL_PARAMETERS = {
    .meanSampleTime = 1e-4,
    .modulation =
        {
            .voltageFilter = MEASUREMENT_FILTER,
            .currentFilter = MEASUREMENT_FILTER,
            .dcFilter = MEASUREMENT_FILTER,
            .reference =
                {
                    .referenceSource = 1.0,
                    .initialTransferValue = 0.0,
                    .sineAmplitude = 0.8,
                    .sineBias = 0.0,
                    .sineAngularFrequency = 376.99111843077515,
                    .stepSine = {0.0018849544759281136, 0.0018849544759281136, 0.0018849544759281136},
                    .stepCosine = {0.9999982234717338, 0.9999982234717338, 0.9999982234717338},
                    .phaseSine = {-0.0018849544759281136, -0.8650813880278656, 0.8669663425037938},
                    .phaseCosine = {0.9999982234717338, -0.5016315301969976, -0.4983666932747358},
                },
            .modulator =
                {
                    .carrierMode = 2.0,
                    .carrierFrequency = 1620.0,
                    .carrierPeriod = 0.0006172839506172839,
                    .carrierTimeShift = 0.00015432098765432098,
                    .carrierBreakpoints = {0.0, 0.5, 1.0},
                    .carrierValues = {0.0, 2.0, 0.0},
                    .carrierBias = 1.0,
                    .armCount = 3.0,
                    .twoArmValue = 2.0,
                    .armInversionGain = -1.0,
                    .levelOffset = 2.0,
                    .gatePatternNegative = {0.0, 0.0, 1.0, 1.0},
                    .gatePatternZero = {0.0, 1.0, 1.0, 0.0},
                    .gatePatternPositive = {1.0, 1.0, 0.0, 0.0},
                    .sineCarrierMultiplier = 27.0,
                    .sineCarrierScale = 0.3183098861837907,
                    .sineCarrierOffset = 0.5,
                    .legLevelInitial = 0.0,
                    .twoArmLevelInitial = 0.0,
                },
        },
    .control =
        {
            .agcMagnitudeMax = 0.0,
            .pllIntegratorMax = 0.0,
            .pllOmegaMax = 0.0,
            .agcMeanD = variableFrequencyMean(1.0),
            .agcMeanQ = variableFrequencyMean(0.0),
            .dcVoltageMean = fixedFrequencyMean(500.0),
            .gridVoltageMean = fixedFrequencyMean(1.007),
            .frequencyMean = variableFrequencyMean(0.0),
            .currentTransform = DQ_TRANSFORM,
            .gridVoltageTransform = DQ_TRANSFORM,
            .agcTransform = DQ_TRANSFORM,
            .phaseDetectorTransform = DQ_TRANSFORM,
            .pll =
                {
                    .voltageScale = 0.002041241452319315,
                    .angleWrap = 6.283185307179586,
                    .angleInitial = -0.7853981633974483,
                    .angleIntegratorGain = 0.0001,
                    .agcEnable = 0.0,
                    .agcMagnitudeMin = 2.220446049250313e-16,
                    .pllKp = 60.0,
                    .pllIntegralIncrement = 0.14,
                    .pllKd = 0.0,
                    .derivativeDenominator = {0.0001, 0.0},
                    .pllIntegratorMin = 0.0,
                    .pllOmegaMin = 0.0,
                    .radToHz = 0.15915494309189535,
                    .risingRate = 12.0,
                    .fallingRate = -12.0,
                    .frequencyFilterA = {{0.9998779874400867, 9.889558885690147e-05},
                                         {-2.4402511982646002, 0.9779117771375717}},
                    .frequencyFilterB = {4.944779442846242e-05, 0.9889558885687859},
                    .frequencyFilterC = {2.467352038469728, 0.00012201255991328708},
                    .frequencyFilterD = 6.100627995664354e-05,
                    .pllFrequencyInitial = 60.0,
                    .pllDerivativeInitial = 0.0,
                    .pllIntegratorInitial = 376.99111843077515,
                    .rateLimiterInitial = 60.0,
                    .frequencyFilterInitial = {24.316084080329627, -3.552713678800501e-15},
                    .agcGainInitial = 1.0,
                },
            .regulators =
                {
                    .currentScale = 0.0014696938456699067,
                    .vdcReference = 500.0,
                    .vdcKp = 0.015,
                    .vdcKi = 1.6,
                    .vdcIntegratorGain = 0.0001,
                    .vdcIntegratorMax = 1.2,
                    .vdcIntegratorMin = -1.2,
                    .vdcOutputMax = 1.2,
                    .vdcOutputMin = -1.2,
                    .idReferenceMax = 1.2,
                    .idReferenceMin = -1.2,
                    .iqReference = 0.0,
                    .currentKp = 0.3,
                    .currentKi = 20.0,
                    .currentKd = 0.0,
                    .couplingGainD = 0.1055,
                    .couplingGainQ = 0.1055,
                    .modulationGain = 391.91835884530855,
                    .dcMeanInputMin = 10.0,
                    .dcMeanInputMax = 10000.0,
                    .modulationMagnitudeMax = 1.0,
                    .modulationMagnitudeMin = 0.0,
                    .phaseOffset = {0.0, -2.0943951023931953, 2.0943951023931953},
                    .vdcIntegratorInitial = 0.0,
                    .currentRegulatorD = CURRENT_REGULATOR,
                    .currentRegulatorQ = CURRENT_REGULATOR,
                },
        },
};
Model::Model()
    : parameters(DEFAULT_MODEL_PARAMETERS), signals{}, work{}, inputs{}, outputs{}, record{},
      outputSnapshot(nullptr) {}

void registerModel(Model &model) {
    ModelRecord &m = model.record;
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

    model.signals = ModelSignals{};
    model.work = ModelWork{};
    model.inputs = ModelInputs{};
    model.outputs = ModelOutputs{};

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
