// The fixture of the tests that drive the built FMI 3.0 library only through
// its fmi3 functions, as a master does: each test loads its own fresh copy of
// Kestrune_fmi3 and gets a logger, passed as the instance environment, that
// records every message.
#pragma once

#include "fmu/fmi3/fmi3.h"
#include "fmu/variables.h"
#include "identity.h"
#include "master/fmu_library.h"
#include "master/grid.h"
#include "master/recording_logger.h"
#include "master/session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#ifndef KESTRUNE_FMI3_LIBRARY_PATH
#error "KESTRUNE_FMI3_LIBRARY_PATH must name the built FMI 3.0 library"
#endif

namespace kestrune::fmi3test {

using master::Gates;
using master::Inputs;
inline constexpr const char *TOKEN = INSTANTIATION_TOKEN;
inline constexpr fmi3ValueReference FIRST_GATE_VR = VR_FIRST_GATE;
inline constexpr fmi3ValueReference TIME_VR = VR_TIME;
inline constexpr fmi3ValueReference MEAN_SAMPLE_TIME_VR = VR_MEAN_SAMPLE_TIME;
inline constexpr double DEFAULT_MEAN_SAMPLE_TIME = 1e-4;
inline constexpr int BASE_STEPS_PER_SECOND = 200000;

// The time after n base steps from start, added in the order the unit adds.
inline double afterBaseSteps(double start, int n) {
    double time = start;
    for (int i = 0; i < n; ++i) {
        time = time + BASE_STEP;
    }
    return time;
}

using InputSource = Inputs (*)(double t);

inline Inputs runningGrid(double t) {
    return master::gridInputs({}, t);
}

// One second of a grid that is disturbed: a sag to half voltage, a phase
// jump, a load step and a drop of the DC link.
inline Inputs disturbedGrid(double t) {
    master::BalancedGrid grid;
    if (t >= 0.2 && t < 0.35) {
        grid.lineToLineRms = 300.0;
    }
    if (t >= 0.5) {
        grid.angle = 0.6;
    }
    if (t >= 0.7) {
        grid.currentPeak = 40.0;
    }
    if (t >= 0.85) {
        grid.dcVoltage = 450.0;
    }
    return master::gridInputs(grid, t);
}

// Index of the first differing gate vector, bytewise, or -1 when all agree.
inline long firstDifference(const std::vector<Gates> &a, const std::vector<Gates> &b) {
    if (a.size() != b.size()) {
        return static_cast<long>(std::min(a.size(), b.size()));
    }
    for (std::size_t k = 0; k < a.size(); ++k) {
        if (std::memcmp(a[k].data(), b[k].data(), sizeof(Gates)) != 0) {
            return static_cast<long>(k);
        }
    }
    return -1;
}

// What fmi3DoStep returned, through its result and its arguments.
struct StepResult {
    fmi3Status status;
    fmi3Boolean eventHandlingNeeded;
    fmi3Boolean terminateSimulation;
    fmi3Boolean earlyReturn;
    double lastSuccessfulTime;
};

// Drives the instances of a loaded FMI 3.0 library; makes no gtest
// assertion, so threads may use it.
class Fmi3Driver {
  public:
    const master::Fmi3Functions &fmi() const { return library.fmi3(); }

    fmi3Instance instantiate(const char *token = TOKEN, bool loggingOn = true, bool eventModeUsed = false) {
        return fmi().fmi3InstantiateCoSimulation("kestrune", token, nullptr, fmi3False, loggingOn,
                                                 eventModeUsed, fmi3False, nullptr, 0, &logger,
                                                 master::RecordingLogger::fmi3Callback(), nullptr);
    }
    fmi3Status enterInitialization(fmi3Instance i, double startTime = 0.0) {
        return fmi().fmi3EnterInitializationMode(i, fmi3False, 0.0, startTime, fmi3False, 0.0);
    }
    bool initialize(fmi3Instance i) {
        return enterInitialization(i) == fmi3OK && fmi().fmi3ExitInitializationMode(i) == fmi3OK;
    }
    StepResult step(fmi3Instance i, double t, double h) {
        // Filled with what the unit must overwrite.
        StepResult r{fmi3OK, fmi3True, fmi3True, fmi3True, -1.0};
        r.status = fmi().fmi3DoStep(i, t, h, fmi3False, &r.eventHandlingNeeded, &r.terminateSimulation,
                                    &r.earlyReturn, &r.lastSuccessfulTime);
        return r;
    }
    fmi3Status write(fmi3Instance i, fmi3ValueReference vr, double value) {
        return fmi().fmi3SetFloat64(i, &vr, 1, &value, 1);
    }
    double read(fmi3Instance i, fmi3ValueReference vr) {
        double value = -1.0;
        fmi().fmi3GetFloat64(i, &vr, 1, &value, 1);
        return value;
    }
    fmi3Status writeInputs(fmi3Instance i, const Inputs &inputs) {
        const fmi3ValueReference vr[] = {0, 1, 2, 3, 4, 5, 6};
        return fmi().fmi3SetFloat64(i, vr, inputs.size(), inputs.data(), inputs.size());
    }
    Gates gates(fmi3Instance i) {
        Gates g{};
        fmi3ValueReference vr[GATE_COUNT];
        for (fmi3ValueReference k = 0; k < GATE_COUNT; ++k) {
            vr[k] = FIRST_GATE_VR + k;
        }
        fmi().fmi3GetFloat64(i, vr, g.size(), g.data(), g.size());
        return g;
    }
    // Base steps first to first + count - 1, each after writing source's
    // inputs at its start time; the gates after each, or fewer on a refused
    // call.
    std::vector<Gates> run(fmi3Instance i, int first, int count, InputSource source) {
        std::vector<Gates> result;
        result.reserve(static_cast<std::size_t>(count));
        for (int k = first; k < first + count; ++k) {
            const double t = static_cast<double>(k) * BASE_STEP;
            if (writeInputs(i, source(t)) != fmi3OK || step(i, t, BASE_STEP).status != fmi3OK) {
                break;
            }
            result.push_back(gates(i));
        }
        return result;
    }

    master::FmuLibrary library;
    master::RecordingLogger logger;
};

class Fmi3Test : public ::testing::Test, public Fmi3Driver {
  protected:
    void SetUp() override {
        ASSERT_TRUE(library.loadFreshCopy(KESTRUNE_FMI3_LIBRARY_PATH, master::FmiEdition::Fmi3))
            << library.error();
    }
    void TearDown() override {
        for (fmi3Instance i : live) {
            fmi().fmi3FreeInstance(i);
        }
        library.unload();
    }

    // An instance freed at the end of the test; null when refused.
    fmi3Instance instance(const char *token = TOKEN, bool loggingOn = true, bool eventModeUsed = false) {
        fmi3Instance i = Fmi3Driver::instantiate(token, loggingOn, eventModeUsed);
        if (i != nullptr) {
            live.push_back(i);
        }
        return i;
    }
    fmi3Instance initialized(bool loggingOn = true) {
        fmi3Instance i = instance(TOKEN, loggingOn);
        EXPECT_TRUE(i != nullptr && initialize(i));
        return i;
    }
    void freeInstance(fmi3Instance i) {
        live.erase(std::remove(live.begin(), live.end(), i), live.end());
        fmi().fmi3FreeInstance(i);
    }

    // The error messages recorded since the last clear.
    std::vector<std::string> errors() const {
        std::vector<std::string> found;
        for (const master::LogRecord &record : logger.messages) {
            if (record.status == static_cast<fmi2Status>(fmi3Error)) {
                found.push_back(record.message);
            }
        }
        return found;
    }
    // True when exactly one error was recorded since the last clear, it
    // starts with prefix and contains part.
    ::testing::AssertionResult oneError(const std::string &prefix, const std::string &part = "") const {
        const std::vector<std::string> found = errors();
        if (found.size() == 1 && found[0].rfind(prefix, 0) == 0 && found[0].find(part) != std::string::npos) {
            return ::testing::AssertionSuccess();
        }
        auto failure = ::testing::AssertionFailure()
                       << "wanted one error starting \"" << prefix << "\" with \"" << part << "\"; got";
        for (const std::string &text : found) {
            failure << " \"" << text << "\"";
        }
        return failure;
    }

    std::vector<fmi3Instance> live;
};

} // namespace kestrune::fmi3test
