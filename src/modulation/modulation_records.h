// Parameters, signals and work memory of the base-rate blocks: the seven
// measurement filters, the reference transfer and sine source, and the
// three-level carrier modulator. They are members of the model's records.
#pragma once

#include <cstdint>

namespace kestrune {

// Second-order low-pass in state-space form, one set per filter bank, shared
// by all channels of the bank.
struct InputFilterParameters {
    double a11, a12;
    double a21, a22;
    double b1, b2;
    double c1, c2;
    double d;
    double initialState1, initialState2;
};

struct ReferenceParameters {
    double referenceSource; // truncated to an integer; 1 selects the transferred reference
    double initialTransferValue;
    double sineAmplitude;        // [pu]
    double sineBias;             // [pu]
    double sineAngularFrequency; // [rad/s], used only to seed the sine states
    double stepSine[3];          // sin(w * BASE_STEP), per phase
    double stepCosine[3];        // cos(w * BASE_STEP), per phase
    double phaseSine[3];         // sin(phase - w * BASE_STEP), per phase
    double phaseCosine[3];       // cos(phase - w * BASE_STEP), per phase
};

// Index of the carrier table's last breakpoint: the lookup's cached segment
// lies below it.
inline constexpr std::uint32_t CARRIER_TABLE_LAST_INDEX = 2;

struct ModulatorParameters {
    double carrierMode;      // truncated to an integer; 1 selects the constant carriers
    double carrierFrequency; // [Hz]
    double carrierPeriod;    // [s]
    double carrierTimeShift; // [s]
    double carrierBreakpoints[3];
    double carrierValues[3];
    double carrierBias;
    double armCount;
    double twoArmValue;
    double armInversionGain;
    double levelOffset;
    double gatePatternNegative[4];
    double gatePatternZero[4];
    double gatePatternPositive[4];
    double sineCarrierMultiplier;
    double sineCarrierScale;
    double sineCarrierOffset;
    double legLevelInitial;    // initial output of the three-arm comparison
    double twoArmLevelInitial; // initial output of the two-arm comparison
};

struct ModulationParameters {
    InputFilterParameters voltageFilter;
    InputFilterParameters currentFilter;
    InputFilterParameters dcFilter;
    ReferenceParameters reference;
    ModulatorParameters modulator;
};

inline constexpr int FILTER_CHANNEL_COUNT = 7; // three voltages, three currents, the DC voltage

struct ModulationSignals {
    double measuredVoltageAbc[3];
    double measuredCurrentAbc[3];
    double measuredDcVoltage;
    double heldVoltageAbc[3];
    double heldCurrentAbc[3];
    double heldDcVoltage;
    double heldReferenceAbc[3]; // modulation reference the modulator uses this slow period
    double legLevel[3];         // three-arm comparison, legs a, b, c
    double twoArmDirectLevel;   // two-arm comparison, leg a
    double twoArmInvertedLevel; // two-arm comparison, legs b and c
};

struct ModulationWork {
    double filterState[FILTER_CHANNEL_COUNT][2]; // x1, x2 per channel
    double filterNext[FILTER_CHANNEL_COUNT][2];  // next states, from the output to the update phase
    double referenceTransferBuffer[3];           // carries modulationReferenceAbc into the next slow period
    double sineLast[3];                          // sine states of the reference source, per phase
    double cosineLast[3];
    std::int32_t sineFirstStep;   // non-zero until the sine states are seeded
    std::uint32_t carrierSegment; // cached segment of the carrier table lookup
};

} // namespace kestrune
