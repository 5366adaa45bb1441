// The step loop of the built library takes nothing from the heap: every
// allocation function of the process is replaced by one that counts its
// calls while counting is on, and counting is on only around the
// fmi2DoStep calls of a long run. Linux only: the replacements forward to
// the C library's own allocator. The sanitizer build does not build this
// test, since its runtime replaces the allocator itself.
#include "fmi_fixture.h"
#include "master/grid.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
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
    return __libc_calloc(count, size);
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
