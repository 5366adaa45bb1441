// The fixture of the tests that drive the built unit only through its fmi2
// functions, as a master does: each test gets its own freshly loaded copy of
// the library (so model data starts in its first-load state whatever ran
// before in this process) and a logger that records every message.
#pragma once

#include "fmu/fmi2.h"
#include "fmu/variables.h"
#include "identity.h"
#include "master/fmu_library.h"
#include "master/recording_logger.h"
#include "master/session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#ifndef KESTRUNE_LIBRARY_PATH
#error "KESTRUNE_LIBRARY_PATH must name the built unit library"
#endif

namespace kestrune::fmitest {

inline constexpr fmi2ValueReference MEAN_SAMPLE_TIME_VR = VR_MEAN_SAMPLE_TIME;
inline constexpr fmi2ValueReference TIME_VR = VR_TIME;
inline constexpr const char *GUID = MODEL_GUID;
inline constexpr const char *INSTANCE_NAME = "kestrune";
inline constexpr fmi2ValueReference FIRST_INPUT_VR = VR_GRID_VOLTAGE_A;
inline constexpr fmi2ValueReference INPUT_COUNT = kestrune::INPUT_COUNT;
inline constexpr fmi2ValueReference FIRST_GATE_VR = VR_FIRST_GATE;
inline constexpr fmi2ValueReference GATE_COUNT = kestrune::GATE_COUNT;
inline constexpr fmi2ValueReference REAL_COUNT = VARIABLE_COUNT;

inline const double NaN = std::numeric_limits<double>::quiet_NaN();
inline const double INF = std::numeric_limits<double>::infinity();

// The time a master expects after n base steps from start: n additions, in
// the order the unit makes them.
inline double afterBaseSteps(double start, int n) {
    double time = start;
    for (int i = 0; i < n; ++i) {
        time = time + BASE_STEP;
    }
    return time;
}

// True when every leg shows one of its three patterns, switches 1 to 4:
// +1 (1, 1, 0, 0), 0 (0, 1, 1, 0) or -1 (0, 0, 1, 1).
inline bool legalGatePatterns(const master::Gates &gates) {
    for (std::size_t leg = 0; leg < 3; ++leg) {
        const double *g = gates.data() + 4 * leg;
        const bool positive = g[0] == 1.0 && g[1] == 1.0 && g[2] == 0.0 && g[3] == 0.0;
        const bool zero = g[0] == 0.0 && g[1] == 1.0 && g[2] == 1.0 && g[3] == 0.0;
        const bool negative = g[0] == 0.0 && g[1] == 0.0 && g[2] == 1.0 && g[3] == 1.0;
        if (!positive && !zero && !negative) {
            return false;
        }
    }
    return true;
}

// A message as the master's logger saw it, without the instance name.
using Message = std::tuple<fmi2Status, std::string, std::string>;

inline Message info(const std::string &text) {
    return {fmi2OK, "info", text};
}
inline Message error(const std::string &text) {
    return {fmi2Error, "error", text};
}

class FmiTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(library.loadFreshCopy(KESTRUNE_LIBRARY_PATH)) << library.error(); }

    void TearDown() override {
        if (library.loaded()) {
            for (fmi2Component c : live) {
                fmi().freeInstance(c);
            }
        }
        live.clear();
        // A rule of the unit: only (fmi2OK, "info") and (fmi2Error, "error").
        for (const master::LogRecord &record : logger.messages) {
            const bool infoPair = record.status == fmi2OK && record.category == "info";
            const bool errorPair = record.status == fmi2Error && record.category == "error";
            EXPECT_TRUE(infoPair || errorPair)
                << "message \"" << record.message << "\" came with status "
                << master::statusName(record.status) << " and category \"" << record.category << "\"";
        }
        library.unload();
    }

    const master::Fmi2Functions &fmi() const { return library.fmi(); }

    // fmi2Instantiate with every argument given; a non-null result is freed
    // by TearDown unless the test frees it first with freeInstance.
    fmi2Component instantiateWith(fmi2String name, fmi2String guid, fmi2String resourceLocation,
                                  const fmi2CallbackFunctions *functions, fmi2Boolean loggingOn = fmi2False,
                                  fmi2Type type = fmi2CoSimulation, fmi2Boolean visible = fmi2False) {
        fmi2Component c =
            fmi().instantiate(name, type, guid, resourceLocation, functions, visible, loggingOn);
        if (c != nullptr) {
            live.push_back(c);
        }
        return c;
    }

    // A co-simulation instance with the right GUID and the recording logger.
    fmi2Component instantiate(const char *name = INSTANCE_NAME, const char *resourceLocation = nullptr,
                              bool loggingOn = false) {
        return instantiateWith(name, GUID, resourceLocation, logger.callbacks(),
                               loggingOn ? fmi2True : fmi2False);
    }

    // instantiate() that must succeed.
    fmi2Component instance(const char *name = INSTANCE_NAME, bool loggingOn = false) {
        fmi2Component c = instantiate(name, nullptr, loggingOn);
        EXPECT_NE(c, nullptr) << "fmi2Instantiate failed for " << name;
        return c;
    }

    void freeInstance(fmi2Component c) {
        live.erase(std::remove(live.begin(), live.end(), c), live.end());
        fmi().freeInstance(c);
    }

    fmi2Status setup(fmi2Component c, double startTime) {
        return fmi().setupExperiment(c, fmi2False, 0.0, startTime, fmi2False, 0.0);
    }

    // Set up at startTime, enter and leave initialization mode; true when
    // every call returned fmi2OK.
    bool initialize(fmi2Component c, double startTime = 0.0) {
        return setup(c, startTime) == fmi2OK && fmi().enterInitializationMode(c) == fmi2OK &&
               fmi().exitInitializationMode(c) == fmi2OK;
    }

    // An instantiated and initialized instance at time 0.
    fmi2Component initialized(const char *name = INSTANCE_NAME, bool loggingOn = false) {
        fmi2Component c = instance(name, loggingOn);
        if (c != nullptr) {
            EXPECT_TRUE(initialize(c));
        }
        return c;
    }

    fmi2Status doStep(fmi2Component c, double t, double h) { return fmi().doStep(c, t, h, fmi2True); }

    // The value at vr; NaN, with a failure recorded, when fmi2GetReal fails.
    double readReal(fmi2Component c, fmi2ValueReference vr) {
        double value = NaN;
        const fmi2Status status = fmi().getReal(c, &vr, 1, &value);
        EXPECT_EQ(status, fmi2OK) << "fmi2GetReal of vr " << vr;
        return status == fmi2OK ? value : NaN;
    }

    fmi2Status writeReal(fmi2Component c, fmi2ValueReference vr, double value) {
        return fmi().setReal(c, &vr, 1, &value);
    }

    double readTime(fmi2Component c) { return readReal(c, TIME_VR); }

    // The twelve gates in one fmi2GetReal call.
    master::Gates readGates(fmi2Component c) {
        master::Gates gates{};
        fmi2ValueReference vr[GATE_COUNT];
        for (fmi2ValueReference k = 0; k < GATE_COUNT; ++k) {
            vr[k] = FIRST_GATE_VR + k;
        }
        EXPECT_EQ(fmi().getReal(c, vr, GATE_COUNT, gates.data()), fmi2OK);
        return gates;
    }

    // Writes the seven measurements in one fmi2SetReal call.
    fmi2Status writeInputs(fmi2Component c, const master::Inputs &inputs) {
        const fmi2ValueReference vr[INPUT_COUNT] = {0, 1, 2, 3, 4, 5, 6};
        return fmi().setReal(c, vr, INPUT_COUNT, inputs.data());
    }

    // Every recorded message as (status, category, text), in order.
    std::vector<Message> messages() const {
        std::vector<Message> all;
        for (const master::LogRecord &record : logger.messages) {
            all.emplace_back(record.status, record.category, record.message);
        }
        return all;
    }

    // The recorded messages whose text is text.
    std::vector<master::LogRecord> messagesWith(const std::string &text) const {
        std::vector<master::LogRecord> found;
        for (const master::LogRecord &record : logger.messages) {
            if (record.message == text) {
                found.push_back(record);
            }
        }
        return found;
    }

    std::size_t count(const std::string &text) const { return logger.count(text); }

    master::FmuLibrary library;
    master::RecordingLogger logger;
    std::vector<fmi2Component> live;
};

} // namespace kestrune::fmitest
