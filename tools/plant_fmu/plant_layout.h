// Where each variable of the plant FMU lives: its identity, its maxima and
// the slots of its values. An instance keeps three arrays, of reals,
// integers and booleans; a variable's value reference is its slot in its
// type's array, the reals first, then the integers, then the booleans, so
// that every value reference is unique across types. The variable list
// (plant_variables.h), the FMI layer and the tests all read this file.
#pragma once

#include <cstdint>

namespace kestrune::plantfmu {

inline constexpr const char *PLANT_GUID = "{a96b6c46-cb40-4088-aef1-c441f0bc3cd9}";
inline constexpr const char *PLANT_MODEL_NAME = "Kestrune plant";
inline constexpr const char *PLANT_MODEL_IDENTIFIER = "Kestrune_plant";

inline constexpr int MAX_CONVERTERS = 4;
inline constexpr int MAX_EVENTS = 16;
inline constexpr int MAX_POINTS = 8;    // per profile event
inline constexpr int MAX_HARMONICS = 8; // per harmonics event

// The seven measurements and the twelve gates of a converter, in the
// unit's order.
inline constexpr int MEASUREMENTS = 7;
inline constexpr int GATES = 12;

// Event kinds as eventN.kind numbers them.
enum class KindNumber : int { Frequency = 1, PhaseJump, Sag, Load, Dip, Profile, Harmonics, FrequencyRamp };

// ---- Reals ----
// Grid parameters: gridPhasePeak, gridFrequency, gridAngle, grid.scr, grid.xOverR.
inline constexpr int R_GRID_PHASE_PEAK = 0;
inline constexpr int R_GRID_FREQUENCY = 1;
inline constexpr int R_GRID_ANGLE = 2;
inline constexpr int R_GRID_SCR = 3;
inline constexpr int R_GRID_X_OVER_R = 4;
// Per converter: inductance, resistance, turnsRatio, capacitance, loadPower, precharge.
inline constexpr int R_CONVERTER_FIRST = 5;
inline constexpr int CONVERTER_REALS = 6;
inline constexpr int R_INDUCTANCE = 0, R_RESISTANCE = 1, R_TURNS_RATIO = 2, R_CAPACITANCE = 3,
                     R_LOAD_POWER = 4, R_PRECHARGE = 5;
constexpr int realConverter(int j, int field) {
    return R_CONVERTER_FIRST + j * CONVERTER_REALS + field;
}
// Per event: time, value, target, the points' (time, depth), the harmonics'
// (magnitude, phase).
inline constexpr int R_EVENT_FIRST = R_CONVERTER_FIRST + MAX_CONVERTERS * CONVERTER_REALS;
inline constexpr int EVENT_REALS = 3 + 2 * MAX_POINTS + 2 * MAX_HARMONICS;
inline constexpr int R_EVENT_TIME = 0, R_EVENT_VALUE = 1, R_EVENT_TARGET = 2;
constexpr int realEvent(int n, int field) { // n from 1
    return R_EVENT_FIRST + (n - 1) * EVENT_REALS + field;
}
constexpr int realPointTime(int n, int k) { // k from 1
    return realEvent(n, 3 + 2 * (k - 1));
}
constexpr int realPointDepth(int n, int k) {
    return realEvent(n, 4 + 2 * (k - 1));
}
constexpr int realHarmonicMagnitude(int n, int k) {
    return realEvent(n, 3 + 2 * MAX_POINTS + 2 * (k - 1));
}
constexpr int realHarmonicPhase(int n, int k) {
    return realEvent(n, 4 + 2 * MAX_POINTS + 2 * (k - 1));
}
inline constexpr int R_PARAMETER_END = R_EVENT_FIRST + MAX_EVENTS * EVENT_REALS;
// Inputs: each converter's twelve gates.
inline constexpr int R_GATE_FIRST = R_PARAMETER_END;
constexpr int realGate(int j, int g) {
    return R_GATE_FIRST + j * GATES + g;
}
// Outputs per converter: the seven measurements, activePower, reactivePower,
// upperLinkVoltage, lowerLinkVoltage.
inline constexpr int R_CONVERTER_OUTPUT_FIRST = R_GATE_FIRST + MAX_CONVERTERS * GATES;
inline constexpr int CONVERTER_REAL_OUTPUTS = MEASUREMENTS + 4;
inline constexpr int R_ACTIVE_POWER = MEASUREMENTS, R_REACTIVE_POWER = MEASUREMENTS + 1,
                     R_UPPER = MEASUREMENTS + 2, R_LOWER = MEASUREMENTS + 3;
constexpr int realConverterOutput(int j, int field) {
    return R_CONVERTER_OUTPUT_FIRST + j * CONVERTER_REAL_OUTPUTS + field;
}
// Grid outputs: sourceVoltageA/B/C, pccVoltageA/B/C, sourceFrequency.
inline constexpr int R_GRID_OUTPUT_FIRST = R_CONVERTER_OUTPUT_FIRST + MAX_CONVERTERS * CONVERTER_REAL_OUTPUTS;
inline constexpr int R_SOURCE_VOLTAGE = R_GRID_OUTPUT_FIRST;
inline constexpr int R_PCC_VOLTAGE = R_GRID_OUTPUT_FIRST + 3;
inline constexpr int R_SOURCE_FREQUENCY = R_GRID_OUTPUT_FIRST + 6;
inline constexpr int REAL_COUNT = R_GRID_OUTPUT_FIRST + 7;
// The outputs form one block at the end of the reals.
inline constexpr int R_OUTPUT_FIRST = R_CONVERTER_OUTPUT_FIRST;

// ---- Integers ----
inline constexpr int I_CONVERTERS = 0;
inline constexpr int I_EVENTS = 1;
// Per event: kind, converter, dipType, specialPhase, points, harmonics, the
// harmonics' orders.
inline constexpr int I_EVENT_FIRST = 2;
inline constexpr int EVENT_INTEGERS = 6 + MAX_HARMONICS;
inline constexpr int I_KIND = 0, I_CONVERTER = 1, I_DIP_TYPE = 2, I_SPECIAL_PHASE = 3, I_POINTS = 4,
                     I_HARMONICS = 5;
constexpr int integerEvent(int n, int field) {
    return I_EVENT_FIRST + (n - 1) * EVENT_INTEGERS + field;
}
constexpr int integerHarmonicOrder(int n, int k) {
    return integerEvent(n, 6 + (k - 1));
}
inline constexpr int I_PARAMETER_END = I_EVENT_FIRST + MAX_EVENTS * EVENT_INTEGERS;
// Outputs per converter: levelA/B/C, illegalPatterns, directChanges.
inline constexpr int I_OUTPUT_FIRST = I_PARAMETER_END;
inline constexpr int CONVERTER_INTEGER_OUTPUTS = 5;
inline constexpr int I_LEVEL = 0, I_ILLEGAL_PATTERNS = 3, I_DIRECT_CHANGES = 4;
constexpr int integerConverterOutput(int j, int field) {
    return I_OUTPUT_FIRST + j * CONVERTER_INTEGER_OUTPUTS + field;
}
inline constexpr int INTEGER_COUNT = I_OUTPUT_FIRST + MAX_CONVERTERS * CONVERTER_INTEGER_OUTPUTS;

// ---- Booleans ----: each converter's splitLink.
inline constexpr int BOOLEAN_COUNT = MAX_CONVERTERS;

// Value references: the reals', then the integers', then the booleans'.
inline constexpr std::uint32_t VR_INTEGER_FIRST = REAL_COUNT;
inline constexpr std::uint32_t VR_BOOLEAN_FIRST = REAL_COUNT + INTEGER_COUNT;
inline constexpr std::uint32_t VARIABLE_COUNT = REAL_COUNT + INTEGER_COUNT + BOOLEAN_COUNT;
constexpr std::uint32_t realReference(int slot) {
    return static_cast<std::uint32_t>(slot);
}
constexpr std::uint32_t integerReference(int slot) {
    return VR_INTEGER_FIRST + static_cast<std::uint32_t>(slot);
}
constexpr std::uint32_t booleanReference(int slot) {
    return VR_BOOLEAN_FIRST + static_cast<std::uint32_t>(slot);
}

} // namespace kestrune::plantfmu
