// Masters start and drive the unit in different ways: some define a stop
// time or a tolerance in fmi2SetupExperiment and some do not, some read the
// outputs after every step and some only now and then, some write the inputs
// before initialization as well. The gates must not depend on any of that.
#include "fmi_fixture.h"
#include "master/grid.h"

#include <string>
#include <vector>

namespace kestrune::fmitest {
namespace {

constexpr double STEP = 1e-4;
constexpr int STEPS = 400;
constexpr int COMPARE_EVERY = 8; // the sparsest reader's interval

struct Variant {
    const char *name;
    fmi2Boolean toleranceDefined;
    fmi2Boolean stopTimeDefined;
    double stopTime;
    int readEvery; // read the gates after every n-th step
    bool inputsBeforeInitialization;
};

// The gates after every COMPARE_EVERY-th step, as this master sees them.
std::vector<master::Gates> run(const Variant &variant) {
    master::FmuLibrary library;
    EXPECT_TRUE(library.loadFreshCopy(KESTRUNE_LIBRARY_PATH)) << library.error();
    master::RecordingLogger logger;
    master::Session session(library, logger);
    std::vector<master::Gates> trace;
    if (!session.instantiate()) {
        ADD_FAILURE() << variant.name << ": fmi2Instantiate failed";
        return trace;
    }
    const master::Fmi2Functions &fmi = session.fmi();
    fmi2Component c = session.component();
    if (variant.inputsBeforeInitialization) {
        EXPECT_EQ(session.setInputs(master::gridInputs({}, 0.0)), fmi2OK);
    }
    EXPECT_EQ(fmi.setupExperiment(c, variant.toleranceDefined, 1e-6, 0.0, variant.stopTimeDefined,
                                  variant.stopTime),
              fmi2OK);
    EXPECT_EQ(fmi.enterInitializationMode(c), fmi2OK);
    EXPECT_EQ(session.setInputs(master::gridInputs({}, 0.0)), fmi2OK);
    EXPECT_EQ(fmi.exitInitializationMode(c), fmi2OK);
    for (int k = 0; k < STEPS; ++k) {
        const double t = k * STEP;
        EXPECT_EQ(session.setInputs(master::gridInputs({}, t)), fmi2OK);
        EXPECT_EQ(session.doStep(t, STEP), fmi2OK) << variant.name << " at t = " << t;
        logger.clear();
        const int done = k + 1;
        if (done % variant.readEvery == 0) {
            master::Gates gates{};
            EXPECT_EQ(session.readGates(gates), fmi2OK);
            if (done % COMPARE_EVERY == 0)
                trace.push_back(gates);
        }
    }
    return trace;
}

TEST(MasterVariantsFmiTest, GatesDoNotDependOnHowTheMasterStartsOrReads) {
    const Variant reference{"no stop time, read every step", fmi2False, fmi2False, 0.0, 1, false};
    const std::vector<Variant> others{
        {"stop time at the end of the run", fmi2False, fmi2True, STEPS * STEP, 1, false},
        {"stop time far beyond the run", fmi2False, fmi2True, 1e6, 1, false},
        {"tolerance defined", fmi2True, fmi2False, 0.0, 1, false},
        {"gates read only every 8th step", fmi2False, fmi2True, STEPS * STEP, COMPARE_EVERY, false},
        {"inputs also written before initialization", fmi2False, fmi2False, 0.0, 1, true},
    };
    const std::vector<master::Gates> expected = run(reference);
    ASSERT_EQ(expected.size(), static_cast<std::size_t>(STEPS / COMPARE_EVERY));
    for (const Variant &variant : others) {
        const std::vector<master::Gates> trace = run(variant);
        ASSERT_EQ(trace.size(), expected.size()) << variant.name;
        for (std::size_t i = 0; i < trace.size(); ++i) {
            ASSERT_EQ(trace[i], expected[i])
                << variant.name << ": gates differ after step " << (i + 1) * COMPARE_EVERY;
        }
    }
}

} // namespace
} // namespace kestrune::fmitest
