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

void setUpChildren(Model &model) {
    const ControlParameters &p = model.parameters.control;
    ControlSignals &s = model.signals.control;
    setUpChild(model, 0,
               meanWiring("Kestrune/DC Regulator/Controller/PLL (3ph)/Model/Automatic Gain Control/"
                          "Positive-Sequence (PLL-Driven)/Mean (Variable Frequency)1/Model/"
                          "Discrete Variable Time Delay/S-Function",
                          p.agcMeanD.delayLine, s.agcMeanD));
    setUpChild(model, 1,
               meanWiring("Kestrune/DC Regulator/Controller/PLL (3ph)/Model/Automatic Gain Control/"
                          "Positive-Sequence (PLL-Driven)/Mean (Variable Frequency)2/Model/"
                          "Discrete Variable Time Delay/S-Function",
                          p.agcMeanQ.delayLine, s.agcMeanQ));
    setUpChild(model, 2,
               meanWiring("Kestrune/DC Regulator/Controller/Current Regulators/Mean/Model/"
                          "Discrete Variable Time Delay/S-Function",
                          p.dcVoltageMean.delayLine, s.dcVoltageMean));
    setUpChild(model, 3,
               meanWiring("Kestrune/DC Regulator/Controller/Current Regulators/Mean1/Model/"
                          "Discrete Variable Time Delay/S-Function",
                          p.gridVoltageMean.delayLine, s.gridVoltageMean));
    setUpChild(model, 4,
               meanWiring("Kestrune/DC Regulator/Controller/PLL (3ph)/Model/Variable Frequency Mean value/"
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
bool initializeMean(Model &model, MeanWork &mean, int child, double initialOutput) {
    mean.integratorState = 0.0;
    if (!initializeChildConditions(model, child)) {
        return false;
    }
    mean.previousInput = 0.0;
    mean.heldOutput = initialOutput;
    return true;
}

} // namespace

void modelInitialize(Model &model) {
    const ModulationParameters &mp = model.parameters.modulation;
    const ControlParameters &cp = model.parameters.control;
    ModulationSignals &ms = model.signals.modulation;
    ControlSignals &cs = model.signals.control;
    ModulationWork &mw = model.work.modulation;
    ControlWork &cw = model.work.control;

    // Blocks of a run that was not terminated still hold their memory;
    // release it before registration zeroes their contexts.
    modelTerminate(model);

    model.parameters.control.agcMagnitudeMax = infValue;
    model.parameters.control.pllIntegratorMax = infValue;
    model.parameters.control.pllOmegaMax = infValue;
    registerModel(model);

    setUpChildren(model);

    for (double &held : ms.heldReferenceAbc) {
        held = mp.reference.initialTransferValue;
    }

    cw.pll.angleResetValue = cp.pll.angleInitial;
    cw.pll.firstResetValue = 1U;

    cs.dcVoltageMean.delay = cp.dcVoltageMean.fixedDelay;
    if (!startChild(model, 2)) {
        return;
    }
    cs.gridVoltageMean.delay = cp.gridVoltageMean.fixedDelay;
    static constexpr int LATER_START_ORDER[] = {3, 0, 1, 4};
    for (int child : LATER_START_ORDER) {
        if (!startChild(model, child)) {
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
    if (!initializeMean(model, cw.dcVoltageMean, 2, cp.dcVoltageMean.initialOutput)) {
        return;
    }
    if (!initializeMean(model, cw.gridVoltageMean, 3, cp.gridVoltageMean.initialOutput)) {
        return;
    }
    cs.pll.pllFrequency = cp.pll.pllFrequencyInitial;
    cw.pll.pllDerivativeState = cp.pll.pllDerivativeInitial;
    cw.pll.pllIntegratorState = cp.pll.pllIntegratorInitial;
    if (!initializeMean(model, cw.frequencyMean, 4, cp.frequencyMean.initialOutput)) {
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

    if (!initializeMean(model, cw.agcMeanD, 0, cp.agcMeanD.initialOutput)) {
        return;
    }
    if (!initializeMean(model, cw.agcMeanQ, 1, cp.agcMeanQ.initialOutput)) {
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

    model.record.childrenStarted = 1U;
}

} // namespace kestrune
