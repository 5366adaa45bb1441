#include "modulation/input_filter.h"

#include "model/records.h"

namespace kestrune {

namespace {

// One channel of a second-order low-pass in state-space form: returns the
// filtered value of input u and stores the state the channel moves to.
double filterChannel(const InputFilterParameters &p, double u, const double state[2], double next[2]) {
    const double x1 = state[0];
    const double x2 = state[1];
    next[0] = (p.a11 * x1 + p.a12 * x2) + p.b1 * u;
    next[1] = (p.a21 * x1 + p.a22 * x2) + p.b2 * u;
    return (p.c1 * x1 + p.c2 * x2) + p.d * u;
}

// Channel numbers in the filter states: the three grid voltages, the three
// converter currents, the DC-link voltage.
constexpr int VOLTAGE_CHANNEL = 0;
constexpr int CURRENT_CHANNEL = 3;
constexpr int DC_CHANNEL = 6;

} // namespace

void filterOutputs(Model &model) {
    const ModulationParameters &p = model.parameters.modulation;
    ModulationSignals &s = model.signals.modulation;
    ModulationWork &w = model.work.modulation;

    for (int k = 0; k < 3; ++k) {
        const int v = VOLTAGE_CHANNEL + k;
        s.measuredVoltageAbc[k] =
            filterChannel(p.voltageFilter, model.inputs.gridVoltage[k], w.filterState[v], w.filterNext[v]);
    }
    for (int k = 0; k < 3; ++k) {
        const int c = CURRENT_CHANNEL + k;
        s.measuredCurrentAbc[k] = filterChannel(p.currentFilter, model.inputs.converterCurrent[k],
                                                w.filterState[c], w.filterNext[c]);
    }
    s.measuredDcVoltage = filterChannel(p.dcFilter, model.inputs.dcVoltage, w.filterState[DC_CHANNEL],
                                        w.filterNext[DC_CHANNEL]);
}

void filterUpdate(Model &model) {
    ModulationWork &w = model.work.modulation;
    for (int channel = 0; channel < FILTER_CHANNEL_COUNT; ++channel) {
        w.filterState[channel][0] = w.filterNext[channel][0];
        w.filterState[channel][1] = w.filterNext[channel][1];
    }
}

void sampleHeldCurrents(Model &model) {
    ModulationSignals &s = model.signals.modulation;
    for (int k = 0; k < 3; ++k) {
        s.heldCurrentAbc[k] = s.measuredCurrentAbc[k];
    }
}

void sampleHeldDcVoltage(Model &model) {
    ModulationSignals &s = model.signals.modulation;
    s.heldDcVoltage = s.measuredDcVoltage;
}

void sampleHeldVoltages(Model &model) {
    ModulationSignals &s = model.signals.modulation;
    for (int k = 0; k < 3; ++k) {
        s.heldVoltageAbc[k] = s.measuredVoltageAbc[k];
    }
}

} // namespace kestrune
