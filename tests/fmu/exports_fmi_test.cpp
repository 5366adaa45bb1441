// The library as a master finds it: it loads, every fmi2 function resolves,
// and each loaded copy carries model data of its own.
#include "fmi_fixture.h"

#include <cstring>
#include <vector>

namespace kestrune::fmitest {
namespace {

std::vector<const void *> resolvedAddresses(const master::Fmi2Functions &f) {
    auto address = [](auto *function) {
        const void *object = nullptr;
        static_assert(sizeof function == sizeof object);
        std::memcpy(&object, &function, sizeof object);
        return object;
    };
    return {
        address(f.getTypesPlatform),
        address(f.getVersion),
        address(f.setDebugLogging),
        address(f.instantiate),
        address(f.freeInstance),
        address(f.setupExperiment),
        address(f.enterInitializationMode),
        address(f.exitInitializationMode),
        address(f.terminate),
        address(f.reset),
        address(f.getReal),
        address(f.getInteger),
        address(f.getBoolean),
        address(f.getString),
        address(f.setReal),
        address(f.setInteger),
        address(f.setBoolean),
        address(f.setString),
        address(f.getFMUstate),
        address(f.setFMUstate),
        address(f.freeFMUstate),
        address(f.serializedFMUstateSize),
        address(f.serializeFMUstate),
        address(f.deSerializeFMUstate),
        address(f.getDirectionalDerivative),
        address(f.enterEventMode),
        address(f.newDiscreteStates),
        address(f.enterContinuousTimeMode),
        address(f.completedIntegratorStep),
        address(f.setTime),
        address(f.setContinuousStates),
        address(f.getDerivatives),
        address(f.getEventIndicators),
        address(f.getContinuousStates),
        address(f.getNominalsOfContinuousStates),
        address(f.setRealInputDerivatives),
        address(f.getRealOutputDerivatives),
        address(f.doStep),
        address(f.cancelStep),
        address(f.getStatus),
        address(f.getRealStatus),
        address(f.getIntegerStatus),
        address(f.getBooleanStatus),
        address(f.getStringStatus),
    };
}

TEST(ExportsFmiTest, LibraryLoadsAndAllFmi2FunctionsResolve) {
    master::FmuLibrary library;
    ASSERT_TRUE(library.load(KESTRUNE_LIBRARY_PATH)) << library.error();
    const std::vector<const void *> addresses = resolvedAddresses(library.fmi());
    ASSERT_EQ(addresses.size(), static_cast<std::size_t>(master::FMI2_FUNCTION_COUNT));
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        EXPECT_NE(addresses[i], nullptr) << "function " << i;
    }
    EXPECT_STREQ(library.fmi().getVersion(), "2.0");
}

TEST(ExportsFmiTest, EachLoadedCopyHasModelDataOfItsOwn) {
    master::FmuLibrary first;
    master::FmuLibrary second;
    ASSERT_TRUE(first.loadFreshCopy(KESTRUNE_LIBRARY_PATH)) << first.error();
    ASSERT_TRUE(second.loadFreshCopy(KESTRUNE_LIBRARY_PATH)) << second.error();
    EXPECT_NE(first.fmi().instantiate, second.fmi().instantiate);

    master::RecordingLogger logger;
    fmi2Component a = first.fmi().instantiate("a", fmi2CoSimulation, GUID, nullptr, logger.callbacks(),
                                              fmi2False, fmi2False);
    fmi2Component b = second.fmi().instantiate("b", fmi2CoSimulation, GUID, nullptr, logger.callbacks(),
                                               fmi2False, fmi2False);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);

    const fmi2ValueReference vr[2] = {0, MEAN_SAMPLE_TIME_VR};
    const double written[2] = {230.0, 3e-4};
    ASSERT_EQ(first.fmi().setReal(a, vr, 2, written), fmi2OK);
    double read[2] = {};
    ASSERT_EQ(second.fmi().getReal(b, vr, 2, read), fmi2OK);
    EXPECT_EQ(read[0], 0.0);
    EXPECT_EQ(read[1], 1e-4);
    ASSERT_EQ(first.fmi().getReal(a, vr, 2, read), fmi2OK);
    EXPECT_EQ(read[0], 230.0);
    EXPECT_EQ(read[1], 3e-4);

    first.fmi().freeInstance(a);
    second.fmi().freeInstance(b);
    EXPECT_TRUE(logger.messages.empty());
}

} // namespace
} // namespace kestrune::fmitest
