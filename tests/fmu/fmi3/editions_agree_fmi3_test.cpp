// Both editions are built from the same model code: for the same inputs,
// written before the same base steps, the FMI 3.0 library's gates equal the
// FMI 2.0 library's bit for bit after every base step.
#include "fmi3_fixture.h"

#ifndef KESTRUNE_LIBRARY_PATH
#error "KESTRUNE_LIBRARY_PATH must name the built FMI 2.0 library"
#endif

namespace kestrune::fmi3test {
namespace {

using EditionsAgreeFmi3Test = Fmi3Test;

std::vector<Gates> runFmi2(const master::FmuLibrary &library, master::RecordingLogger &logger, int count,
                           InputSource source) {
    master::Session session(library, logger);
    std::vector<Gates> result;
    if (!session.instantiate() || session.initialize() != fmi2OK) {
        return result;
    }
    result.reserve(static_cast<std::size_t>(count));
    for (int k = 0; k < count; ++k) {
        const double t = static_cast<double>(k) * BASE_STEP;
        Gates gates{};
        if (session.setInputs(source(t)) != fmi2OK || session.doStep(t, BASE_STEP) != fmi2OK ||
            session.readGates(gates) != fmi2OK) {
            break;
        }
        result.push_back(gates);
    }
    return result;
}

TEST_F(EditionsAgreeFmi3Test, GatesEqualTheFmi2EditionsAfterEveryBaseStepForOneSecond) {
    master::FmuLibrary fmi2Library;
    ASSERT_TRUE(fmi2Library.loadFreshCopy(KESTRUNE_LIBRARY_PATH)) << fmi2Library.error();
    const std::pair<const char *, InputSource> grids[] = {{"running grid", runningGrid},
                                                          {"disturbed grid", disturbedGrid}};
    for (const auto &[what, source] : grids) {
        SCOPED_TRACE(what);
        const std::vector<Gates> fmi2Gates = runFmi2(fmi2Library, logger, BASE_STEPS_PER_SECOND, source);
        fmi3Instance i = initialized(false);
        const std::vector<Gates> fmi3Gates = run(i, 0, BASE_STEPS_PER_SECOND, source);
        freeInstance(i);
        ASSERT_EQ(fmi2Gates.size(), static_cast<std::size_t>(BASE_STEPS_PER_SECOND));
        ASSERT_EQ(fmi3Gates.size(), fmi2Gates.size());
        EXPECT_EQ(firstDifference(fmi3Gates, fmi2Gates), -1) << "first differing base step";
        // Not a trivial agreement: the gates switch.
        EXPECT_NE(std::count(fmi3Gates.begin(), fmi3Gates.end(), fmi3Gates.front()), BASE_STEPS_PER_SECOND);
    }
    EXPECT_TRUE(errors().empty());
}

} // namespace
} // namespace kestrune::fmi3test
