// The plant FMU through its fmi2 functions only, as any master drives it:
// what it refuses (steps, communication points, parameters), how it stops
// when the plant diverges, long runs whose points the master accumulates,
// and instances that keep to their own plant.
#include "identity.h"
#include "master/fmu_library.h"
#include "master/recording_logger.h"
#include "plant_fmu/plant_layout.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>
#include <vector>

#ifndef KESTRUNE_PLANT_LIBRARY_PATH
#error "KESTRUNE_PLANT_LIBRARY_PATH must name the built plant library"
#endif

namespace kestrune::plantfmu {
namespace {

class PlantFmiTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(library.load(KESTRUNE_PLANT_LIBRARY_PATH)) << library.error(); }
    void TearDown() override {
        for (fmi2Component c : live)
            fmi().freeInstance(c);
    }
    const master::Fmi2Functions &fmi() const { return library.fmi(); }

    fmi2Component instantiate(const char *name = "plant") {
        fmi2Component c = fmi().instantiate(name, fmi2CoSimulation, PLANT_GUID, nullptr, logger.callbacks(),
                                            fmi2False, fmi2False);
        if (c != nullptr)
            live.push_back(c);
        return c;
    }
    fmi2Status setReal(fmi2Component c, int slot, double value) {
        const fmi2ValueReference vr = realReference(slot);
        return fmi().setReal(c, &vr, 1, &value);
    }
    fmi2Status setInteger(fmi2Component c, int slot, int value) {
        const fmi2ValueReference vr = integerReference(slot);
        return fmi().setInteger(c, &vr, 1, &value);
    }
    double getReal(fmi2Component c, int slot) {
        const fmi2ValueReference vr = realReference(slot);
        double value = -1.0;
        EXPECT_EQ(fmi().getReal(c, &vr, 1, &value), fmi2OK);
        return value;
    }
    fmi2Status initialize(fmi2Component c) {
        const fmi2Status setup = fmi().setupExperiment(c, fmi2False, 0.0, 0.0, fmi2False, 0.0);
        if (setup != fmi2OK || fmi().enterInitializationMode(c) != fmi2OK)
            return fmi2Error;
        return fmi().exitInitializationMode(c);
    }
    std::string lastMessage() const { return logger.messages.empty() ? "" : logger.messages.back().message; }
    struct ParameterCase {
        const char *label;
        std::vector<std::pair<int, double>> reals;
        std::vector<std::pair<int, int>> integers;
        const char *message; // what fmi2ExitInitializationMode logs
    };
    // Each case's values refused when initialization ends, with its message.
    void expectRefused(const std::vector<ParameterCase> &cases) {
        for (const ParameterCase &k : cases) {
            SCOPED_TRACE(k.label);
            fmi2Component c = instantiate();
            ASSERT_NE(c, nullptr);
            for (const auto &[slot, value] : k.reals)
                ASSERT_EQ(setReal(c, slot, value), fmi2OK);
            for (const auto &[slot, value] : k.integers)
                ASSERT_EQ(setInteger(c, slot, value), fmi2OK);
            logger.clear();
            EXPECT_EQ(initialize(c), fmi2Error);
            EXPECT_NE(lastMessage().find(k.message), std::string::npos) << lastMessage();
            // The same instance initializes once the parameters are mended.
            ASSERT_EQ(fmi().reset(c), fmi2OK);
            EXPECT_EQ(initialize(c), fmi2OK) << lastMessage();
        }
    }

    master::FmuLibrary library;
    master::RecordingLogger logger;
    std::vector<fmi2Component> live;
};

// ---- parameters -------------------------------------------------------------

TEST_F(PlantFmiTest, RefusesParametersOutOfRangeNamingThem) {
    expectRefused({
        {"too many converters", {}, {{I_CONVERTERS, 5}}, "converters must be from 1 to 4 (got 5)"},
        {"no capacitance",
         {{realConverter(1, R_CAPACITANCE), 0.0}},
         {{I_CONVERTERS, 2}},
         "converter1.capacitance must be positive (got 0)"},
        {"negative scr", {{R_GRID_SCR, -1.0}}, {}, "grid.scr must not be negative (got -1)"},
        {"too many events", {}, {{I_EVENTS, 17}}, "events must be from 0 to 16 (got 17)"},
        {"times decrease",
         {{realEvent(1, R_EVENT_TIME), 0.2},
          {realEvent(1, R_EVENT_VALUE), 61.0},
          {realEvent(2, R_EVENT_TIME), 0.1},
          {realEvent(2, R_EVENT_VALUE), 59.0}},
         {{I_EVENTS, 2}},
         "event2.time is 0.1 s, before the event ahead of it: events go in time order"},
        {"unknown kind",
         {},
         {{I_EVENTS, 1}, {integerEvent(1, I_KIND), 9}},
         "event1.kind must be from 1 to 8"},
        {"load on a converter beyond",
         {},
         {{I_EVENTS, 1}, {integerEvent(1, I_KIND), 4}, {integerEvent(1, I_CONVERTER), 1}},
         "event1.converter must be from -1 to 0 (got 1)"},
        {"dip deeper than 2",
         {{realEvent(1, R_EVENT_VALUE), 2.5}},
         {{I_EVENTS, 1}, {integerEvent(1, I_KIND), 5}},
         "event1.value must lie within 0-2 (got 2.5)"},
        {"profile starting late",
         {{realPointTime(1, 1), 0.01}, {realPointDepth(1, 1), 0.5}},
         {{I_EVENTS, 1}, {integerEvent(1, I_KIND), 6}, {integerEvent(1, I_POINTS), 1}},
         "event1.point1.time must be 0"},
        {"ramp away from its target",
         {{realEvent(1, R_EVENT_VALUE), 5.0}, {realEvent(1, R_EVENT_TARGET), 59.0}},
         {{I_EVENTS, 1}, {integerEvent(1, I_KIND), 8}},
         "event1.value points away from the ramp's target"},
    });
}

// Finite values whose source, impedance or state would not be, and integers
// at the ends of their type, which no arithmetic may see.
TEST_F(PlantFmiTest, RefusesValuesThePlantCannotComputeNamingThem) {
    const double huge = std::numeric_limits<double>::max();
    const int low = std::numeric_limits<int>::min();
    const int high = std::numeric_limits<int>::max();
    const auto event = [](int kind, std::vector<std::pair<int, int>> more = {}) {
        more.insert(more.begin(), {{I_EVENTS, 1}, {integerEvent(1, I_KIND), kind}});
        return more;
    };
    expectRefused({
        {"peak", {{R_GRID_PHASE_PEAK, huge}}, {}, "gridPhasePeak must lie within -1e9 to 1e9"},
        {"frequency", {{R_GRID_FREQUENCY, 1e308}}, {}, "gridFrequency must lie within"},
        {"tiny scr", {{R_GRID_SCR, 5e-324}}, {}, "grid.scr must be at least 1e-18"},
        {"huge X/R", {{R_GRID_X_OVER_R, 1e200}}, {}, "grid.xOverR must lie within"},
        {"tiny inductance",
         {{realConverter(0, R_INDUCTANCE), 1e-300}},
         {},
         "converter0.inductance must be at"},
        {"huge turns ratio",
         {{realConverter(0, R_TURNS_RATIO), 1e300}},
         {},
         "converter0.turnsRatio must lie"},
        {"frequency event", {{realEvent(1, R_EVENT_VALUE), 1e308}}, event(1), "event1.value must lie within"},
        {"sag", {{realEvent(1, R_EVENT_VALUE), 1e308}}, event(3), "event1.value must lie within"},
        {"ramp target",
         {{realEvent(1, R_EVENT_VALUE), 1.0}, {realEvent(1, R_EVENT_TARGET), huge}},
         event(8),
         "event1.target must lie within"},
        {"harmonic",
         {{realHarmonicMagnitude(1, 1), 1e308}},
         event(7, {{integerEvent(1, I_HARMONICS), 1}}),
         "event1.harmonic1.magnitude must lie within"},
        {"profile point",
         {{realPointTime(1, 2), 1e300}},
         event(6, {{integerEvent(1, I_POINTS), 2}}),
         "event1.point2.time must lie within"},
        {"converters", {}, {{I_CONVERTERS, low}}, "converters must be from 1 to 4 (got -2147483648)"},
        {"events", {}, {{I_EVENTS, high}}, "events must be from 0 to 16 (got 2147483647)"},
        {"kind", {}, event(low), "event1.kind must be from 1 to 8 (got -2147483648)"},
        {"dip type",
         {},
         event(5, {{integerEvent(1, I_DIP_TYPE), low}}),
         "event1.dipType must be from 1 to 7"},
        {"profile type", {}, event(6, {{integerEvent(1, I_DIP_TYPE), high}}), "event1.dipType must be from"},
        {"special phase",
         {},
         event(5, {{integerEvent(1, I_SPECIAL_PHASE), low}}),
         "event1.specialPhase must"},
        {"load's converter", {}, event(4, {{integerEvent(1, I_CONVERTER), low}}), "event1.converter must be"},
        {"points", {}, event(6, {{integerEvent(1, I_POINTS), high}}), "event1.points must be from 1 to 8"},
        {"harmonics", {}, event(7, {{integerEvent(1, I_HARMONICS), low}}), "event1.harmonics must be from 0"},
        {"harmonic order",
         {},
         event(7, {{integerEvent(1, I_HARMONICS), 1}, {integerHarmonicOrder(1, 1), low}}),
         "event1.harmonic1.order must be from 2 to 100"},
    });
}

TEST_F(PlantFmiTest, ParametersAreFixedOnceInitializedAndOutputsReadOnly) {
    fmi2Component c = instantiate();
    ASSERT_EQ(initialize(c), fmi2OK);
    EXPECT_EQ(setReal(c, realConverter(0, R_LOAD_POWER), 1e5), fmi2Error);
    EXPECT_NE(lastMessage().find("converter0.loadPower is a fixed parameter"), std::string::npos)
        << lastMessage();
    EXPECT_EQ(setReal(c, R_SOURCE_FREQUENCY, 50.0), fmi2Error);
    EXPECT_NE(lastMessage().find("sourceFrequency is an output"), std::string::npos) << lastMessage();
    const fmi2ValueReference beyond = VARIABLE_COUNT;
    double value = 0.0;
    EXPECT_EQ(fmi().getReal(c, &beyond, 1, &value), fmi2Error);
    // Gates may be written at any time; converters beyond the count read 0.
    EXPECT_EQ(setReal(c, realGate(0, 1), 1.0), fmi2OK);
    EXPECT_EQ(getReal(c, realConverterOutput(1, 6)), 0.0);
    EXPECT_EQ(getReal(c, realConverterOutput(0, 6)), 500.0);
}

// ---- stepping ---------------------------------------------------------------

struct StepCase {
    const char *label;
    double t;
    double h;
    const char *message;
};

TEST_F(PlantFmiTest, RefusesStepsThatAreNotWholeBaseStepsOrStartElsewhere) {
    const std::vector<StepCase> cases = {
        {"part of a base step", 0.0, 7e-6, "is not a whole number of the plant's 5e-06 s base steps"},
        {"negative", 0.0, -5e-6, "is not a whole number"},
        {"not a number", 0.0, std::numeric_limits<double>::quiet_NaN(), "is not a whole number"},
        {"point ahead", 1e-5, 5e-6, "does not match the plant's time 0 s"},
        {"point off by a hundredth of a base step", 5e-8, 5e-6, "does not match"},
        {"zero", 0.0, 0.0, "is no step: a communication step must be positive"},
        {"negative zero", 0.0, -0.0, "the step size -0 s is no step"},
        {"the smallest double", 0.0, 5e-324, "comes to no whole base step"},
        {"a millionth of a base step", 0.0, 5e-12, "comes to no whole base step"},
    };
    for (const StepCase &k : cases) {
        SCOPED_TRACE(k.label);
        fmi2Component c = instantiate();
        ASSERT_EQ(initialize(c), fmi2OK);
        EXPECT_EQ(fmi().doStep(c, k.t, k.h, fmi2True), fmi2Error);
        EXPECT_NE(lastMessage().find(k.message), std::string::npos) << lastMessage();
        // Refused steps leave the plant where it was.
        EXPECT_EQ(fmi().doStep(c, 0.0, 1e-4, fmi2True), fmi2OK) << lastMessage();
    }
}

// Without a source or a load the plant rests, whatever the gates.
TEST_F(PlantFmiTest, AcceptsPointsTheMasterAccumulatesOverLongRuns) {
    for (const double h : {5e-6, 3e-5, 1e-4}) {
        SCOPED_TRACE(h);
        fmi2Component c = instantiate();
        ASSERT_EQ(setReal(c, R_GRID_PHASE_PEAK, 0.0), fmi2OK);
        ASSERT_EQ(setReal(c, realConverter(0, R_LOAD_POWER), 0.0), fmi2OK);
        ASSERT_EQ(initialize(c), fmi2OK);
        double t = 0.0;
        bool ok = true;
        const int steps = static_cast<int>(10.0 / h);
        for (int k = 0; k < steps && ok; ++k) {
            ok = fmi().doStep(c, t, h, fmi2True) == fmi2OK;
            t += h;
        }
        EXPECT_TRUE(ok) << lastMessage();
        double reached = 0.0;
        EXPECT_EQ(fmi().getRealStatus(c, fmi2LastSuccessfulTime, &reached), fmi2OK);
        EXPECT_NEAR(reached, steps * h, 1e-9);
        EXPECT_NE(reached, t) << "the points drifted off the base steps: the test checks nothing";
        fmi2Boolean terminated = fmi2True;
        EXPECT_EQ(fmi().getBooleanStatus(c, fmi2Terminated, &terminated), fmi2OK);
        EXPECT_EQ(terminated, fmi2False);
    }
}

// A link of 1 uF under 200 kW (a time constant of a quarter of a base step)
// leaves 50-1500 V within a few base steps.
TEST_F(PlantFmiTest, StopsWhereThePlantDivergesAndSaysWhy) {
    fmi2Component c = instantiate();
    ASSERT_EQ(setReal(c, realConverter(0, R_CAPACITANCE), 1e-6), fmi2OK);
    ASSERT_EQ(initialize(c), fmi2OK);
    logger.clear();
    EXPECT_EQ(fmi().doStep(c, 0.0, 1e-3, fmi2True), fmi2Discard);
    ASSERT_FALSE(logger.messages.empty());
    const master::LogRecord &why = logger.messages.back();
    EXPECT_EQ(why.category, "logStatusDiscard");
    EXPECT_NE(why.message.find("the converter's DC link is at"), std::string::npos) << why.message;
    EXPECT_NE(why.message.find("outside 50-1500 V"), std::string::npos) << why.message;
    fmi2Boolean terminated = fmi2False;
    EXPECT_EQ(fmi().getBooleanStatus(c, fmi2Terminated, &terminated), fmi2OK);
    EXPECT_EQ(terminated, fmi2True);
    double stop = 0.0;
    EXPECT_EQ(fmi().getRealStatus(c, fmi2LastSuccessfulTime, &stop), fmi2OK);
    EXPECT_GT(stop, 0.0);
    EXPECT_LT(stop, 1e-4);
    // The outputs show the diverged state; the plant steps no further.
    const double vdc = getReal(c, realConverterOutput(0, 6));
    EXPECT_TRUE(vdc < 50.0 || vdc > 1500.0) << vdc;
    EXPECT_EQ(fmi().doStep(c, stop, 5e-6, fmi2True), fmi2Error);
    EXPECT_NE(lastMessage().find("stopped where it diverged"), std::string::npos) << lastMessage();
}

// Two instances with different loads (and no source), stepped in turn, each
// end where it ends alone.
TEST_F(PlantFmiTest, EachInstanceKeepsItsOwnPlant) {
    auto run = [this](std::vector<fmi2Component> instances) {
        for (int k = 0; k < 400; ++k)
            for (fmi2Component c : instances)
                EXPECT_EQ(fmi().doStep(c, k * 5e-5, 5e-5, fmi2True), fmi2OK);
        std::vector<double> vdc;
        for (fmi2Component c : instances)
            vdc.push_back(getReal(c, realConverterOutput(0, 6)));
        return vdc;
    };
    std::vector<fmi2Component> instances;
    for (const double load : {1e5, 3e5}) {
        fmi2Component c = instantiate();
        EXPECT_EQ(setReal(c, R_GRID_PHASE_PEAK, 0.0), fmi2OK);
        EXPECT_EQ(setReal(c, realConverter(0, R_LOAD_POWER), load), fmi2OK);
        EXPECT_EQ(initialize(c), fmi2OK);
        instances.push_back(c);
    }
    const std::vector<double> together = run(instances);
    EXPECT_NE(together[0], together[1]);
    for (std::size_t i = 0; i < 2; ++i) {
        ASSERT_EQ(fmi().reset(instances[i]), fmi2OK);
        EXPECT_EQ(setReal(instances[i], R_GRID_PHASE_PEAK, 0.0), fmi2OK);
        EXPECT_EQ(setReal(instances[i], realConverter(0, R_LOAD_POWER), i == 0 ? 1e5 : 3e5), fmi2OK);
        ASSERT_EQ(initialize(instances[i]), fmi2OK);
        EXPECT_EQ(run({instances[i]})[0], together[i]);
    }
}

TEST_F(PlantFmiTest, RefusesAWrongGuidAndFunctionsItDoesNotOffer) {
    EXPECT_EQ(fmi().instantiate("plant", fmi2CoSimulation, MODEL_GUID, nullptr, logger.callbacks(), fmi2False,
                                fmi2False),
              nullptr);
    EXPECT_NE(lastMessage().find("wrong GUID"), std::string::npos) << lastMessage();
    fmi2Component c = instantiate();
    fmi2FMUstate state = nullptr;
    EXPECT_EQ(fmi().getFMUstate(c, &state), fmi2Error);
    EXPECT_EQ(fmi().doStep(nullptr, 0.0, 5e-6, fmi2True), fmi2Error);
    EXPECT_EQ(fmi().doStep(c, 0.0, 5e-6, fmi2True), fmi2Error); // not initialized
}

// A component that names no live instance (freed, foreign or null) is
// refused by every function without a read of what it points to (the
// address-sanitizer build would flag one) and without a message, for there
// is no instance to log for; freeing it again does nothing.
TEST_F(PlantFmiTest, EveryFunctionRefusesAComponentThatNamesNoLiveInstance) {
    const master::Fmi2Functions &f = fmi();
    const fmi2ValueReference vr = 0;
    double r = 0.0;
    int i = 0;
    fmi2String text = nullptr;
    fmi2FMUstate state = nullptr;
    fmi2Byte byte = 0;
    size_t size = 0;
    fmi2Boolean b = fmi2False;
    fmi2EventInfo info{};
    fmi2Status status = fmi2OK;
    const std::vector<std::function<fmi2Status(fmi2Component)>> calls = {
        [&](fmi2Component c) { return f.setDebugLogging(c, fmi2True, 0, nullptr); },
        [&](fmi2Component c) { return f.setupExperiment(c, fmi2False, 0.0, 0.0, fmi2False, 0.0); },
        [&](fmi2Component c) { return f.enterInitializationMode(c); },
        [&](fmi2Component c) { return f.exitInitializationMode(c); },
        [&](fmi2Component c) { return f.terminate(c); },
        [&](fmi2Component c) { return f.reset(c); },
        [&](fmi2Component c) { return f.getReal(c, &vr, 1, &r); },
        [&](fmi2Component c) { return f.getInteger(c, &vr, 1, &i); },
        [&](fmi2Component c) { return f.getBoolean(c, &vr, 1, &i); },
        [&](fmi2Component c) { return f.getString(c, &vr, 1, &text); },
        [&](fmi2Component c) { return f.setReal(c, &vr, 1, &r); },
        [&](fmi2Component c) { return f.setInteger(c, &vr, 1, &i); },
        [&](fmi2Component c) { return f.setBoolean(c, &vr, 1, &i); },
        [&](fmi2Component c) { return f.setString(c, &vr, 1, &text); },
        [&](fmi2Component c) { return f.getFMUstate(c, &state); },
        [&](fmi2Component c) { return f.setFMUstate(c, state); },
        [&](fmi2Component c) { return f.freeFMUstate(c, &state); },
        [&](fmi2Component c) { return f.serializedFMUstateSize(c, state, &size); },
        [&](fmi2Component c) { return f.serializeFMUstate(c, state, &byte, 1); },
        [&](fmi2Component c) { return f.deSerializeFMUstate(c, &byte, 1, &state); },
        [&](fmi2Component c) { return f.getDirectionalDerivative(c, &vr, 1, &vr, 1, &r, &r); },
        [&](fmi2Component c) { return f.enterEventMode(c); },
        [&](fmi2Component c) { return f.newDiscreteStates(c, &info); },
        [&](fmi2Component c) { return f.enterContinuousTimeMode(c); },
        [&](fmi2Component c) { return f.completedIntegratorStep(c, fmi2True, &b, &b); },
        [&](fmi2Component c) { return f.setTime(c, 0.0); },
        [&](fmi2Component c) { return f.setContinuousStates(c, &r, 1); },
        [&](fmi2Component c) { return f.getDerivatives(c, &r, 1); },
        [&](fmi2Component c) { return f.getEventIndicators(c, &r, 1); },
        [&](fmi2Component c) { return f.getContinuousStates(c, &r, 1); },
        [&](fmi2Component c) { return f.getNominalsOfContinuousStates(c, &r, 1); },
        [&](fmi2Component c) { return f.setRealInputDerivatives(c, &vr, 1, &i, &r); },
        [&](fmi2Component c) { return f.getRealOutputDerivatives(c, &vr, 1, &i, &r); },
        [&](fmi2Component c) { return f.doStep(c, 0.0, 5e-6, fmi2True); },
        [&](fmi2Component c) { return f.cancelStep(c); },
        [&](fmi2Component c) { return f.getStatus(c, fmi2DoStepStatus, &status); },
        [&](fmi2Component c) { return f.getRealStatus(c, fmi2LastSuccessfulTime, &r); },
        [&](fmi2Component c) { return f.getIntegerStatus(c, fmi2DoStepStatus, &i); },
        [&](fmi2Component c) { return f.getBooleanStatus(c, fmi2Terminated, &b); },
        [&](fmi2Component c) { return f.getStringStatus(c, fmi2PendingStatus, &text); },
    };
    fmi2Component freed = instantiate();
    ASSERT_NE(freed, nullptr);
    ASSERT_EQ(initialize(freed), fmi2OK);
    f.freeInstance(freed);
    struct {
        char bytes[4096];
    } foreign{};
    for (fmi2Component c : {freed, static_cast<fmi2Component>(&foreign), fmi2Component{}}) {
        logger.clear();
        for (std::size_t k = 0; k < calls.size(); ++k)
            EXPECT_EQ(calls[k](c), fmi2Error) << "function " << k;
        f.freeInstance(c);
        EXPECT_TRUE(logger.messages.empty()) << lastMessage();
    }
    // A live instance beside them is untouched.
    fmi2Component c = instantiate();
    EXPECT_EQ(initialize(c), fmi2OK);
    EXPECT_EQ(f.doStep(c, 0.0, 5e-6, fmi2True), fmi2OK) << lastMessage();
}

} // namespace
} // namespace kestrune::plantfmu
