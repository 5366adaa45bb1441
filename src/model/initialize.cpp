#include "model/initialize.h"

#include "children/child_host.h"
#include "children/variable_time_delay.h"
#include "model/numeric.h"
#include "model/records.h"

namespace kestrune {

namespace {

// The reset trigger's memory starts at a value that is neither false nor
// true, so that the angle cannot be reset on the first slow step.
constexpr std::int8_t RESET_TRIGGER_INITIAL = 2;

// Each mean's delay line reads the mean's integral ("In") and delay ("D") and
// writes its delayed integral.
ChildWiring meanWiring(const char *path, const VariableTimeDelayParameters &line, MeanSignals &signals) {
    return {
        .path = path,
        .registerMethods = registerVariableTimeDelay,
        .params = {line.maxDelay.block, line.sampleTime.block, line.initialCondition.block,
                   line.feedthrough.block},
        .inputs = {&signals.integral, &signals.delay},
        .output = &signals.delayedIntegral,
    };
}

void setUpChildren() {
    const ControlParameters &p = modelParameters.control;
    ControlSignals &s = modelSignals.control;
    setUpChild(0, meanWiring("Kestrune/DC Regulator/Controller/PLL (3ph)/Model/Automatic Gain Control/"
                             "Positive-Sequence (PLL-Driven)/Mean (Variable Frequency)1/Model/"
                             "Discrete Variable Time Delay/S-Function",
                             p.agcMeanD.delayLine, s.agcMeanD));
    setUpChild(1, meanWiring("Kestrune/DC Regulator/Controller/PLL (3ph)/Model/Automatic Gain Control/"
                             "Positive-Sequence (PLL-Driven)/Mean (Variable Frequency)2/Model/"
                             "Discrete Variable Time Delay/S-Function",
                             p.agcMeanQ.delayLine, s.agcMeanQ));
    setUpChild(2, meanWiring("Kestrune/DC Regulator/Controller/Current Regulators/Mean/Model/"
                             "Discrete Variable Time Delay/S-Function",
                             p.dcVoltageMean.delayLine, s.dcVoltageMean));
    setUpChild(3, meanWiring("Kestrune/DC Regulator/Controller/Current Regulators/Mean1/Model/"
                             "Discrete Variable Time Delay/S-Function",
                             p.gridVoltageMean.delayLine, s.gridVoltageMean));
    setUpChild(4, meanWiring("Kestrune/DC Regulator/Controller/PLL (3ph)/Model/Variable Frequency Mean value/"
                             "Model/Discrete Variable Time Delay/S-Function",
                             p.frequencyMean.delayLine, s.frequencyMean));
}

void initialFilterStates(double state[2], const InputFilterParameters &filter) {
    state[0] = filter.initialState1;
    state[1] = filter.initialState2;
}

void initialTransformOutputs(DqTransformSignals &signals, const DqTransformParameters &parameters) {
    copyPair(signals.direct, parameters.directInitial);
    copyPair(signals.lagging, parameters.laggingInitial);
}

// A mean's integrator starts from zero; once its delay line holds its
// initial history, the mean holds its initial output until one period has
// passed.
bool initializeMean(MeanWork &mean, int child, double initialOutput) {
    mean.integratorState = 0.0;
    if (!initializeChildConditions(child)) {
        return false;
    }
    mean.previousInput = 0.0;
    mean.heldOutput = initialOutput;
    return true;
}

} // namespace

void modelInitialize() {
    const ModulationParameters &mp = modelParameters.modulation;
    const ControlParameters &cp = modelParameters.control;
    ModulationSignals &ms = modelSignals.modulation;
    ControlSignals &cs = modelSignals.control;
    ModulationWork &mw = modelWork.modulation;
    ControlWork &cw = modelWork.control;

    // Blocks of a run that was not terminated still hold their memory;
    // release it before registration zeroes their contexts.
    modelTerminate();

    initNonFinite();
    modelParameters.control.agcMagnitudeMax = infValue;
    modelParameters.control.pllIntegratorMax = infValue;
    modelParameters.control.pllOmegaMax = infValue;
    registerModel();

    setUpChildren();

    for (double &held : ms.heldReferenceAbc) {
        held = mp.reference.initialTransferValue;
    }

    cw.pll.angleResetValue = cp.pll.angleInitial;
    cw.pll.firstResetValue = 1U;

    cs.dcVoltageMean.delay = cp.dcVoltageMean.fixedDelay;
    if (!startChild(2)) {
        return;
    }
    cs.gridVoltageMean.delay = cp.gridVoltageMean.fixedDelay;
    static constexpr int LATER_START_ORDER[] = {3, 0, 1, 4};
    for (int child : LATER_START_ORDER) {
        if (!startChild(child)) {
            return;
        }
    }

    for (double &stored : mw.referenceTransferBuffer) {
        stored = mp.reference.initialTransferValue;
    }

    // Filter channels: three voltages, three currents, the DC voltage.
    for (int ch = 0; ch < 3; ++ch) {
        initialFilterStates(mw.filterState[ch], mp.voltageFilter);
    }
    for (int ch = 3; ch < 6; ++ch) {
        initialFilterStates(mw.filterState[ch], mp.currentFilter);
    }
    initialFilterStates(mw.filterState[6], mp.dcFilter);

    cw.pll.angleState = cw.pll.angleResetValue;
    cw.pll.previousResetTrigger = RESET_TRIGGER_INITIAL;

    cw.regulators.vdcIntegratorState = cp.regulators.vdcIntegratorInitial;
    cw.regulators.currentRegulatorD.derivativeState = cp.regulators.currentRegulatorD.derivativeInitial;
    cw.regulators.currentRegulatorD.integratorState = cp.regulators.currentRegulatorD.integratorInitial;
    cw.regulators.currentRegulatorQ.derivativeState = cp.regulators.currentRegulatorQ.derivativeInitial;
    cw.regulators.currentRegulatorQ.integratorState = cp.regulators.currentRegulatorQ.integratorInitial;
    if (!initializeMean(cw.dcVoltageMean, 2, cp.dcVoltageMean.initialOutput)) {
        return;
    }
    if (!initializeMean(cw.gridVoltageMean, 3, cp.gridVoltageMean.initialOutput)) {
        return;
    }
    cs.pll.pllFrequency = cp.pll.pllFrequencyInitial;
    cw.pll.pllDerivativeState = cp.pll.pllDerivativeInitial;
    cw.pll.pllIntegratorState = cp.pll.pllIntegratorInitial;
    if (!initializeMean(cw.frequencyMean, 4, cp.frequencyMean.initialOutput)) {
        return;
    }
    cw.pll.rateLimiterPrevious = cp.pll.rateLimiterInitial;
    cw.pll.frequencyFilterState[0] = cp.pll.frequencyFilterInitial[0];
    cw.pll.frequencyFilterState[1] = cp.pll.frequencyFilterInitial[1];

    for (double &level : ms.legLevel) {
        level = mp.modulator.legLevelInitial;
    }
    ms.twoArmDirectLevel = mp.modulator.twoArmLevelInitial;
    ms.twoArmInvertedLevel = mp.modulator.twoArmLevelInitial;
    initialTransformOutputs(cs.currentTransform, cp.currentTransform);
    initialTransformOutputs(cs.gridVoltageTransform, cp.gridVoltageTransform);

    if (!initializeMean(cw.agcMeanD, 0, cp.agcMeanD.initialOutput)) {
        return;
    }
    if (!initializeMean(cw.agcMeanQ, 1, cp.agcMeanQ.initialOutput)) {
        return;
    }

    initialTransformOutputs(cs.agcTransform, cp.agcTransform);
    cs.pll.agcGain = cp.pll.agcGainInitial;
    initialTransformOutputs(cs.phaseDetectorTransform, cp.phaseDetectorTransform);

    // The two means under the gain control are armed when it first runs.
    mw.sineFirstStep = 1;
    cw.dcVoltageMean.integratorFirstStep = 1U;
    cw.gridVoltageMean.integratorFirstStep = 1U;
    cw.frequencyMean.integratorFirstStep = 1U;

    modelRecord.childrenStarted = 1U;
}

} // namespace kestrune
