// The step loop of the built libraries takes nothing from the heap: every
// allocation function of the process is replaced by one that counts its
// calls while counting is on, and counting is on only around the
// fmi2DoStep and fmi3DoStep calls of a long run. Linux only: the
// replacements forward to the C library's own allocator. The sanitizer build
// does not build this test, since its runtime replaces the allocator itself.
// The same replacement lets calloc fail on demand, which is how the hosted
// blocks of a model fail to start.
#include "fmi3/fmi3_fixture.h"
#include "fmi_fixture.h"
#include "master/grid.h"
#include "plant_fmu/plant_layout.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <functional>
#include <new>

extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t count, std::size_t size);
void *__libc_realloc(void *block, std::size_t size);
void *__libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void *block);
}

namespace {

std::atomic<bool> counting{false};
std::atomic<long> heapCalls{0};
std::atomic<bool> callocFails{false};

void noteHeapCall() {
    if (counting.load(std::memory_order_relaxed)) {
        heapCalls.fetch_add(1, std::memory_order_relaxed);
    }
}

void *allocateAligned(std::size_t alignment, std::size_t size) {
    noteHeapCall();
    return __libc_memalign(alignment, size);
}

// Counts the heap calls made while it lives.
class HeapCallCount {
  public:
    HeapCallCount() {
        heapCalls.store(0);
        counting.store(true);
    }
    ~HeapCallCount() { counting.store(false); }
    HeapCallCount(const HeapCallCount &) = delete;
    HeapCallCount &operator=(const HeapCallCount &) = delete;

    long stop() {
        counting.store(false);
        return heapCalls.load();
    }
};

} // namespace

// The process's allocator, exported so that the library loaded at run time
// binds to it too.
#define KESTRUNE_INTERPOSED extern "C" __attribute__((visibility("default")))

KESTRUNE_INTERPOSED void *malloc(std::size_t size) noexcept {
    noteHeapCall();
    return __libc_malloc(size);
}
KESTRUNE_INTERPOSED void *calloc(std::size_t count, std::size_t size) noexcept {
    noteHeapCall();
    return callocFails.load() ? nullptr : __libc_calloc(count, size);
}
KESTRUNE_INTERPOSED void *realloc(void *block, std::size_t size) noexcept {
    noteHeapCall();
    return __libc_realloc(block, size);
}
KESTRUNE_INTERPOSED void free(void *block) noexcept {
    noteHeapCall();
    __libc_free(block);
}
KESTRUNE_INTERPOSED void *aligned_alloc(std::size_t alignment, std::size_t size) noexcept {
    return allocateAligned(alignment, size);
}
KESTRUNE_INTERPOSED void *memalign(std::size_t alignment, std::size_t size) noexcept {
    return allocateAligned(alignment, size);
}
KESTRUNE_INTERPOSED int posix_memalign(void **block, std::size_t alignment, std::size_t size) noexcept {
    *block = allocateAligned(alignment, size);
    return *block == nullptr ? ENOMEM : 0;
}

void *operator new(std::size_t size) {
    void *block = malloc(size == 0 ? 1 : size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}
void *operator new[](std::size_t size) {
    return operator new(size);
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    return malloc(size == 0 ? 1 : size);
}
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept {
    return malloc(size == 0 ? 1 : size);
}
void operator delete(void *block) noexcept {
    free(block);
}
void operator delete[](void *block) noexcept {
    free(block);
}
void operator delete(void *block, std::size_t) noexcept {
    free(block);
}
void operator delete[](void *block, std::size_t) noexcept {
    free(block);
}

namespace kestrune::fmitest {
namespace {

void ignoreMessage(fmi2ComponentEnvironment, fmi2String, fmi2Status, fmi2String, fmi2String, ...) {}

const fmi2CallbackFunctions QUIET_CALLBACKS = {ignoreMessage, nullptr, nullptr, nullptr, nullptr};

class NoAllocationTest : public FmiTest {
  protected:
    fmi2Component quietInstance() { return instantiateWith(INSTANCE_NAME, GUID, nullptr, &QUIET_CALLBACKS); }
};

// Without this the test below could pass because the library's heap calls
// never reach the counter.
TEST_F(NoAllocationTest, CountsTheLibrarysOwnHeapCalls) {
    HeapCallCount count;
    fmi2Component c = fmi().instantiate(INSTANCE_NAME, fmi2CoSimulation, GUID, nullptr, &QUIET_CALLBACKS,
                                        fmi2False, fmi2False);
    const long calls = count.stop();
    ASSERT_NE(c, nullptr);
    live.push_back(c);
    EXPECT_GT(calls, 0) << "fmi2Instantiate allocates its instance; the counter did not see it";
}

// One second of a running grid at each communication step size a master
// uses; inputs are written before every step, outside the counted calls.
TEST_F(NoAllocationTest, StepsMakeNoHeapCallsAfterInitialization) {
    for (const double stepSize : {5e-6, 1e-4}) {
        SCOPED_TRACE(stepSize);
        fmi2Component c = quietInstance();
        ASSERT_NE(c, nullptr);
        ASSERT_TRUE(initialize(c));
        const int baseStepsPerStep = static_cast<int>(stepSize / BASE_STEP + 0.5);
        const int steps = 200000 / baseStepsPerStep;
        long calls = 0;
        bool allOk = true;
        for (int k = 0; k < steps; ++k) {
            const double t = static_cast<double>(k) * stepSize;
            allOk = writeInputs(c, master::gridInputs({}, t)) == fmi2OK && allOk;
            HeapCallCount count;
            allOk = doStep(c, t, stepSize) == fmi2OK && allOk;
            calls += count.stop();
        }
        EXPECT_TRUE(allOk);
        EXPECT_EQ(calls, 0) << "heap calls in " << steps << " calls of fmi2DoStep(t, " << stepSize << ")";
        freeInstance(c);
    }
}

} // namespace
} // namespace kestrune::fmitest

namespace kestrune::fmi3test {
namespace {

using NoAllocationFmi3Test = Fmi3Test;

TEST_F(NoAllocationFmi3Test, StepsMakeNoHeapCallsAfterInitialization) {
    for (const double stepSize : {5e-6, 1e-4}) {
        SCOPED_TRACE(stepSize);
        fmi3Instance i = instance(TOKEN, false);
        ASSERT_TRUE(initialize(i));
        const int steps = BASE_STEPS_PER_SECOND / static_cast<int>(stepSize / BASE_STEP + 0.5);
        long calls = 0;
        bool allOk = true;
        for (int k = 0; k < steps; ++k) {
            const double t = static_cast<double>(k) * stepSize;
            allOk = writeInputs(i, runningGrid(t)) == fmi3OK && allOk;
            HeapCallCount count;
            allOk = step(i, t, stepSize).status == fmi3OK && allOk;
            calls += count.stop();
        }
        EXPECT_TRUE(allOk);
        EXPECT_EQ(calls, 0) << "heap calls in " << steps << " calls of fmi3DoStep(t, " << stepSize << ")";
        freeInstance(i);
    }
}

void noPreemptionLock() {}

// The same for the two partitions of scheduled execution: one second of
// base-rate activations and the slow-rate ones between them.
TEST_F(NoAllocationFmi3Test, ActivationsMakeNoHeapCallsAfterInitialization) {
    fmi3Instance i =
        fmi().fmi3InstantiateScheduledExecution("scheduled", TOKEN, nullptr, fmi3False, fmi3False, nullptr,
                                                nullptr, nullptr, noPreemptionLock, noPreemptionLock);
    ASSERT_NE(i, nullptr);
    live.push_back(i);
    ASSERT_TRUE(initialize(i));
    long calls = 0;
    bool allOk = true;
    for (int k = 0; k < BASE_STEPS_PER_SECOND; ++k) {
        const double t = static_cast<double>(k) * BASE_STEP;
        allOk = writeInputs(i, runningGrid(t)) == fmi3OK && allOk;
        HeapCallCount count;
        allOk = fmi().fmi3ActivateModelPartition(i, VR_BASE_RATE_CLOCK, t) == fmi3OK && allOk;
        if (k % SLOW_RATE_RATIO == 0) {
            allOk = fmi().fmi3ActivateModelPartition(i, VR_SLOW_RATE_CLOCK, t) == fmi3OK && allOk;
        }
        calls += count.stop();
    }
    EXPECT_TRUE(allOk);
    EXPECT_EQ(calls, 0) << "heap calls in one second of activations";
}

// An initialization whose hosted blocks get no memory fails; the instance
// then refuses every call that would reach the unstarted model until a
// reset, after which it runs.
TEST_F(NoAllocationFmi3Test, AfterAFailedInitializationOnlyAResetHelps) {
    fmi3Instance i = instance();
    callocFails.store(true);
    const fmi3Status status = enterInitialization(i);
    callocFails.store(false);
    EXPECT_EQ(status, fmi3Error);
    EXPECT_TRUE(oneError("fmi3EnterInitializationMode: "));
    fmi3FMUState state = nullptr;
    const std::pair<const char *, std::function<fmi3Status()>> refused[] = {
        {"fmi3DoStep: not allowed in the failed state", [&] { return step(i, 0.0, 1e-4).status; }},
        {"fmi3ExitInitializationMode: not allowed in the failed state",
         [&] { return fmi().fmi3ExitInitializationMode(i); }},
        {"fmi3EnterInitializationMode: not allowed in the failed state",
         [&] { return enterInitialization(i); }},
        {"fmi3Terminate: not allowed in the failed state", [&] { return fmi().fmi3Terminate(i); }},
        {"fmi3GetFMUState: the instance failed", [&] { return fmi().fmi3GetFMUState(i, &state); }},
        {"fmi3SetFloat64: gridVoltageA", [&] { return write(i, 0, 1.0); }},
    };
    for (const auto &[message, call] : refused) {
        SCOPED_TRACE(message);
        logger.clear();
        EXPECT_EQ(call(), fmi3Error);
        EXPECT_TRUE(oneError(message));
    }
    EXPECT_EQ(state, nullptr);
    ASSERT_EQ(fmi().fmi3Reset(i), fmi3OK);
    ASSERT_TRUE(initialize(i));
    EXPECT_EQ(run(i, 0, 100, runningGrid).size(), 100U);
}

} // namespace
} // namespace kestrune::fmi3test

namespace kestrune::plantfmu {
namespace {

// The plant FMU's step loop (gates written, the step, every output read)
// takes nothing from the heap either: one converter on the stiff grid and
// two behind an impedance, each through profile, harmonics and load events.
// Without a source or load the plant rests, whatever the gates.
TEST(NoAllocationPlantTest, StepsReadsAndWritesMakeNoHeapCalls) {
    master::FmuLibrary library;
    ASSERT_TRUE(library.load(KESTRUNE_PLANT_LIBRARY_PATH)) << library.error();
    const master::Fmi2Functions &fmi = library.fmi();
    for (const int converters : {1, 2}) {
        SCOPED_TRACE(converters);
        HeapCallCount instantiation;
        fmi2Component c = fmi.instantiate("plant", fmi2CoSimulation, PLANT_GUID, nullptr,
                                          &kestrune::fmitest::QUIET_CALLBACKS, fmi2False, fmi2False);
        ASSERT_NE(c, nullptr);
        EXPECT_GT(instantiation.stop(), 0) << "the counter does not see the plant library's heap calls";
        const std::vector<std::pair<int, double>> reals = {
            {R_GRID_PHASE_PEAK, 0.0},
            {R_GRID_SCR, converters == 1 ? 0.0 : 3.0},
            {realConverter(0, R_LOAD_POWER), 0.0},
            {realConverter(1, R_LOAD_POWER), 0.0},
            {realEvent(1, R_EVENT_TIME), 0.01},
            {realPointDepth(1, 1), 0.5},
            {realEvent(2, R_EVENT_TIME), 0.02},
            {realHarmonicMagnitude(2, 1), 0.05},
            {realEvent(3, R_EVENT_TIME), 0.03},
        };
        const std::vector<std::pair<int, int>> integers = {
            {I_CONVERTERS, converters},      {I_EVENTS, 3},
            {integerEvent(1, I_KIND), 6},    {integerEvent(1, I_POINTS), 1},
            {integerEvent(2, I_KIND), 7},    {integerEvent(2, I_HARMONICS), 1},
            {integerHarmonicOrder(2, 1), 5}, {integerEvent(3, I_KIND), 4},
        };
        for (const auto &[slot, value] : reals) {
            const fmi2ValueReference vr = realReference(slot);
            ASSERT_EQ(fmi.setReal(c, &vr, 1, &value), fmi2OK);
        }
        for (const auto &[slot, value] : integers) {
            const fmi2ValueReference vr = integerReference(slot);
            ASSERT_EQ(fmi.setInteger(c, &vr, 1, &value), fmi2OK);
        }
        ASSERT_EQ(fmi.enterInitializationMode(c), fmi2OK);
        ASSERT_EQ(fmi.exitInitializationMode(c), fmi2OK);
        std::vector<fmi2ValueReference> gates, realOutputs, integerOutputs;
        for (int g = 0; g < converters * GATES; ++g)
            gates.push_back(realReference(R_GATE_FIRST + g));
        for (int r = R_OUTPUT_FIRST; r < REAL_COUNT; ++r)
            realOutputs.push_back(realReference(r));
        for (int i = I_OUTPUT_FIRST; i < INTEGER_COUNT; ++i)
            integerOutputs.push_back(integerReference(i));
        std::vector<double> gateValues(gates.size()), realValues(realOutputs.size());
        std::vector<fmi2Integer> integerValues(integerOutputs.size());
        long calls = 0;
        bool allOk = true;
        for (int k = 0; k < 8000; ++k) {
            gateValues[static_cast<std::size_t>(k) % gateValues.size()] = k % 3 == 0 ? 1.0 : 0.0;
            HeapCallCount count;
            allOk = fmi.setReal(c, gates.data(), gates.size(), gateValues.data()) == fmi2OK && allOk;
            allOk = fmi.doStep(c, k * BASE_STEP, BASE_STEP, fmi2True) == fmi2OK && allOk;
            allOk =
                fmi.getReal(c, realOutputs.data(), realOutputs.size(), realValues.data()) == fmi2OK && allOk;
            allOk = fmi.getInteger(c, integerOutputs.data(), integerOutputs.size(), integerValues.data()) ==
                        fmi2OK &&
                    allOk;
            calls += count.stop();
        }
        EXPECT_TRUE(allOk);
        EXPECT_EQ(calls, 0) << "heap calls in 0.04 s of the plant FMU's steps";
        fmi.freeInstance(c);
    }
}

} // namespace
} // namespace kestrune::plantfmu
