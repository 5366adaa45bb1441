#include "plant_variables.h"

#include "plant.h"
#include "plant_layout.h"
#include "plant_setup.h"

#include <array>
#include <numbers>

namespace kestrune::plantfmu {

namespace {

constexpr std::array<const char *, GATES> GATE_NAMES{"gateA1", "gateA2", "gateA3", "gateA4",
                                                     "gateB1", "gateB2", "gateB3", "gateB4",
                                                     "gateC1", "gateC2", "gateC3", "gateC4"};
constexpr std::array<const char *, MEASUREMENTS> MEASUREMENT_NAMES{
    "gridVoltageA",      "gridVoltageB",      "gridVoltageC", "converterCurrentA",
    "converterCurrentB", "converterCurrentC", "dcVoltage"};

class ListBuilder {
  public:
    std::vector<PlantVariable> list;

    void real(std::string name, int slot, VariableCausality causality, const char *unit, double start,
              std::string description) {
        list.push_back({std::move(name), realReference(slot), VariableType::Real, causality, unit, start,
                        std::move(description)});
    }
    void integer(std::string name, int slot, VariableCausality causality, double start,
                 std::string description) {
        list.push_back({std::move(name), integerReference(slot), VariableType::Integer, causality, "", start,
                        std::move(description)});
    }
    // The range of the Integer added last.
    void bounds(int min, int max) {
        list.back().bounded = true;
        list.back().min = min;
        list.back().max = max;
    }
    void boolean(std::string name, int slot, double start, std::string description) {
        list.push_back({std::move(name), booleanReference(slot), VariableType::Boolean,
                        VariableCausality::Parameter, "", start, std::move(description)});
    }
};

constexpr auto P = VariableCausality::Parameter;
constexpr auto IN = VariableCausality::Input;
constexpr auto OUT = VariableCausality::Output;

void gridParameters(ListBuilder &b) {
    const plant::GridParameters grid;
    b.real("gridPhasePeak", R_GRID_PHASE_PEAK, P, "V", grid.gridPhasePeak, "the source's phase peak voltage");
    b.real("gridFrequency", R_GRID_FREQUENCY, P, "Hz", grid.gridFrequency, "the source's frequency at t = 0");
    b.real("gridAngle", R_GRID_ANGLE, P, "deg", grid.gridAngle / RADIANS_PER_DEGREE,
           "the source's angle theta at t = 0");
    b.real("grid.scr", R_GRID_SCR, P, "", 0.0,
           "short-circuit ratio against the converters' rating (500 kVA each); 0: stiff grid");
    b.real("grid.xOverR", R_GRID_X_OVER_R, P, "", 10.0, "X/R of the grid impedance");
    b.integer("converters", I_CONVERTERS, P, 1.0, "converters on the PCC, 1 to 4");
    b.bounds(1, MAX_CONVERTERS);
}

void converterParameters(ListBuilder &b, int j) {
    const plant::ConverterParameters c;
    const std::string p = "converter" + std::to_string(j) + ".";
    const std::string of = " of converter " + std::to_string(j) + " (0 to 3)";
    b.real(p + "inductance", realConverter(j, R_INDUCTANCE), P, "H", c.inductance,
           "series inductance on the 600 V side" + of);
    b.real(p + "resistance", realConverter(j, R_RESISTANCE), P, "Ohm", c.resistance,
           "series resistance on the 600 V side" + of);
    b.real(p + "turnsRatio", realConverter(j, R_TURNS_RATIO), P, "", c.turnsRatio,
           "transformer ratio, 600 V side to converter side" + of);
    b.real(p + "capacitance", realConverter(j, R_CAPACITANCE), P, "F", c.capacitance,
           "DC link capacitance" + of);
    b.real(p + "loadPower", realConverter(j, R_LOAD_POWER), P, "W", c.loadPower,
           "DC load power at 500 V" + of);
    b.real(p + "precharge", realConverter(j, R_PRECHARGE), P, "V", c.precharge,
           "DC link voltage at t = 0" + of);
    b.boolean(p + "splitLink", j, c.splitLink ? 1.0 : 0.0, "DC link as two halves of 2C each" + of);
}

void eventParameters(ListBuilder &b, int n) {
    const std::string p = "event" + std::to_string(n) + ".";
    const std::string of = " of event " + std::to_string(n) + " (1 to 16)";
    b.real(p + "time", realEvent(n, R_EVENT_TIME), P, "s", 0.0, "time" + of + "; times must not decrease");
    b.integer(
        p + "kind", integerEvent(n, I_KIND), P, 1.0,
        "kind" + of +
            ": 1 frequency, 2 phase_jump, 3 sag, 4 load, 5 dip, 6 profile, 7 harmonics, 8 frequency_ramp");
    b.bounds(1, 8);
    b.real(p + "value", realEvent(n, R_EVENT_VALUE), P, "", 0.0,
           "value" + of + ": Hz, deg, factor, W, a dip's h, or a ramp's Hz/s");
    b.integer(p + "converter", integerEvent(n, I_CONVERTER), P, -1.0,
              "the converter a load event concerns" + of + "; -1 every converter");
    b.bounds(-1, MAX_CONVERTERS - 1);
    b.integer(p + "dipType", integerEvent(n, I_DIP_TYPE), P, 1.0,
              "dip or profile type" + of + ": 1 to 7, A to G");
    b.bounds(1, 7);
    b.integer(p + "specialPhase", integerEvent(n, I_SPECIAL_PHASE), P, 0.0,
              "the phase a dip or profile singles out" + of + ": 0 a, 1 b, 2 c");
    b.bounds(0, 2);
    b.real(p + "target", realEvent(n, R_EVENT_TARGET), P, "Hz", 0.0, "a ramp's final frequency" + of);
    b.integer(p + "points", integerEvent(n, I_POINTS), P, 0.0, "profile points" + of + ", 0 to 8");
    b.bounds(0, MAX_POINTS);
    for (int k = 1; k <= MAX_POINTS; ++k) {
        const std::string q = p + "point" + std::to_string(k) + ".";
        const std::string which = " of profile point " + std::to_string(k) + " (1 to 8)" + of;
        b.real(q + "time", realPointTime(n, k), P, "s", 0.0, "time from the event" + which);
        b.real(q + "depth", realPointDepth(n, k), P, "", 0.0, "retained voltage h" + which);
    }
    b.integer(p + "harmonics", integerEvent(n, I_HARMONICS), P, 0.0, "harmonics" + of + ", 0 to 8");
    b.bounds(0, MAX_HARMONICS);
    for (int k = 1; k <= MAX_HARMONICS; ++k) {
        const std::string q = p + "harmonic" + std::to_string(k) + ".";
        const std::string which = " of harmonic " + std::to_string(k) + " (1 to 8)" + of;
        b.integer(q + "order", integerHarmonicOrder(n, k), P, 2.0, "order, 2 to 100," + which);
        b.bounds(2, 100);
        b.real(q + "magnitude", realHarmonicMagnitude(n, k), P, "", 0.0,
               "magnitude against the nominal fundamental" + which);
        b.real(q + "phase", realHarmonicPhase(n, k), P, "deg", 0.0, "phase" + which);
    }
}

void converterOutputs(ListBuilder &b, int j) {
    const std::string p = "converter" + std::to_string(j) + ".";
    const std::string of = " of converter " + std::to_string(j) + "; 0 beyond converters";
    const char *units[MEASUREMENTS] = {"V", "V", "V", "A", "A", "A", "V"};
    const char *meanings[MEASUREMENTS] = {
        "PCC voltage a",          "PCC voltage b",          "PCC voltage c",  "current a (600 V side)",
        "current b (600 V side)", "current c (600 V side)", "DC link voltage"};
    for (int m = 0; m < MEASUREMENTS; ++m)
        b.real(p + MEASUREMENT_NAMES[static_cast<std::size_t>(m)], realConverterOutput(j, m), OUT, units[m],
               0.0, meanings[m] + of);
    b.real(p + "activePower", realConverterOutput(j, R_ACTIVE_POWER), OUT, "W", 0.0, "active power" + of);
    b.real(p + "reactivePower", realConverterOutput(j, R_REACTIVE_POWER), OUT, "var", 0.0,
           "reactive power" + of);
    b.real(p + "upperLinkVoltage", realConverterOutput(j, R_UPPER), OUT, "V", 0.0,
           "split link's upper half" + of);
    b.real(p + "lowerLinkVoltage", realConverterOutput(j, R_LOWER), OUT, "V", 0.0,
           "split link's lower half" + of);
    const char *legs = "ABC";
    for (int k = 0; k < 3; ++k)
        b.integer(p + "level" + legs[k], integerConverterOutput(j, I_LEVEL + k), OUT, 0.0,
                  std::string("level of leg ") + legs[k] + " over the last step (-1, 0, +1)" + of);
    b.integer(p + "illegalPatterns", integerConverterOutput(j, I_ILLEGAL_PATTERNS), OUT, 0.0,
              "leg-steps with an illegal gate pattern so far" + of);
    b.integer(p + "directChanges", integerConverterOutput(j, I_DIRECT_CHANGES), OUT, 0.0,
              "leg changes straight between +1 and -1 so far" + of);
}

std::vector<PlantVariable> buildList() {
    ListBuilder b;
    gridParameters(b);
    for (int j = 0; j < MAX_CONVERTERS; ++j)
        converterParameters(b, j);
    b.integer("events", I_EVENTS, P, 0.0, "events in force, 0 to 16: event N is in force when N <= events");
    b.bounds(0, MAX_EVENTS);
    for (int n = 1; n <= MAX_EVENTS; ++n)
        eventParameters(b, n);
    for (int j = 0; j < MAX_CONVERTERS; ++j)
        for (int g = 0; g < GATES; ++g)
            b.real("converter" + std::to_string(j) + "." + GATE_NAMES[static_cast<std::size_t>(g)],
                   realGate(j, g), IN, "", 0.0,
                   std::string("gate ") + GATE_NAMES[static_cast<std::size_t>(g)] + " of converter " +
                       std::to_string(j) + ": on above 0.5");
    for (int j = 0; j < MAX_CONVERTERS; ++j)
        converterOutputs(b, j);
    const char *phases = "ABC";
    for (int k = 0; k < 3; ++k)
        b.real(std::string("sourceVoltage") + phases[k], R_SOURCE_VOLTAGE + k, OUT, "V", 0.0,
               std::string("the source's voltage e, phase ") + phases[k]);
    for (int k = 0; k < 3; ++k)
        b.real(std::string("pccVoltage") + phases[k], R_PCC_VOLTAGE + k, OUT, "V", 0.0,
               std::string("PCC voltage, phase ") + phases[k]);
    b.real("sourceFrequency", R_SOURCE_FREQUENCY, OUT, "Hz", 0.0, "the source's frequency now");
    return b.list;
}

} // namespace

const std::vector<PlantVariable> &plantVariables() {
    static const std::vector<PlantVariable> list = buildList();
    return list;
}

std::string plantVariableName(std::uint32_t vr) {
    for (const PlantVariable &v : plantVariables())
        if (v.vr == vr)
            return v.name;
    return "";
}

} // namespace kestrune::plantfmu
