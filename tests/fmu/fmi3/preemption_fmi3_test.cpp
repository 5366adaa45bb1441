// Scheduled execution with real preemption: the slow-rate partition runs on
// a thread of its own and the base-rate partition keeps activating on the
// test's thread while it runs. The preemption lock is a mutex; the slow
// partition is held up on purpose right after each of its two exchanges
// until several base-rate activations have passed, so that they fall inside
// it. The gates still equal the co-simulation interface's after every base
// step.
#include "fmi3_fixture.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace kestrune::fmi3test {
namespace {

// Base-rate activations that pass inside a slow activation after each of
// its two exchanges; together well below the 19 before its next tick.
constexpr int ACTIVATIONS_INSIDE = 4;

// The scheduler's state, shared by the lock callbacks (which take no
// argument) and both threads.
std::mutex preemptionMutex;
std::mutex schedulerMutex;
std::condition_variable schedulerChanged;
int baseActivations = 0;  // completed, under schedulerMutex
int slowActivations = 0;  // completed, under schedulerMutex
int slowPosted = 0;       // slow activations posted to the slow thread, under schedulerMutex
int postedAt = 0;         // baseActivations when the last one was posted, under schedulerMutex
bool slowStarted = false; // the posted one has taken its measurements, under schedulerMutex
bool stopping = false;
int lockCalls = 0; // under preemptionMutex
thread_local bool onSlowThread = false;
thread_local int slowUnlocks = 0; // of the running slow activation

void lockPreemption() {
    preemptionMutex.lock();
    ++lockCalls;
}

// On the slow thread: after its first exchange the slow activation tells
// the scheduler it started and waits for ACTIVATIONS_INSIDE base-rate
// activations, after its second for as many more. Counted from its
// release, so the waits always end before the base-rate thread reaches the
// next slow tick.
void unlockPreemption() {
    preemptionMutex.unlock();
    if (!onSlowThread) {
        return;
    }
    std::unique_lock<std::mutex> guard(schedulerMutex);
    if (++slowUnlocks == 1) {
        slowStarted = true;
        schedulerChanged.notify_all();
    }
    const int until = postedAt + slowUnlocks * ACTIVATIONS_INSIDE;
    schedulerChanged.wait(guard, [&] { return baseActivations >= until || stopping; });
}

class PreemptionFmi3Test : public Fmi3Test {
  protected:
    // One second of source through the scheduled interface: the gates after
    // every base-rate activation, the first at the start time.
    std::vector<Gates> scheduledRun(InputSource source, int &slowFailures, int &baseInsideSlow) {
        fmi3Instance i = fmi().fmi3InstantiateScheduledExecution("preempted", TOKEN, nullptr, fmi3False,
                                                                 fmi3False, nullptr, nullptr, nullptr,
                                                                 lockPreemption, unlockPreemption);
        std::vector<Gates> result;
        if (i == nullptr || enterInitialization(i) != fmi3OK ||
            fmi().fmi3ExitInitializationMode(i) != fmi3OK) {
            return result;
        }
        baseActivations = slowActivations = 0;
        slowPosted = postedAt = lockCalls = 0;
        slowStarted = false;
        stopping = false;
        slowFailures = baseInsideSlow = 0;
        std::thread slow([&] {
            onSlowThread = true;
            int done = 0;
            for (;;) {
                {
                    std::unique_lock<std::mutex> guard(schedulerMutex);
                    schedulerChanged.wait(guard, [&] { return slowPosted > done || stopping; });
                    if (slowPosted == done) {
                        return;
                    }
                }
                const int k = done * SLOW_RATE_RATIO;
                slowUnlocks = 0;
                const int before = baseActivationsNow();
                if (fmi().fmi3ActivateModelPartition(i, VR_SLOW_RATE_CLOCK,
                                                     static_cast<double>(k) * BASE_STEP) != fmi3OK) {
                    ++slowFailures;
                }
                const int inside = baseActivationsNow() - before;
                baseInsideSlow = done == 0 ? inside : std::min(baseInsideSlow, inside);
                ++done;
                const std::lock_guard<std::mutex> guard(schedulerMutex);
                slowActivations = done;
                schedulerChanged.notify_all();
            }
        });
        result.reserve(BASE_STEPS_PER_SECOND + 1);
        for (int k = 0; k <= BASE_STEPS_PER_SECOND; ++k) {
            const bool slowTick = k % SLOW_RATE_RATIO == 0;
            if (slowTick) {
                // The slow activation of the last tick has its deadline here.
                std::unique_lock<std::mutex> guard(schedulerMutex);
                schedulerChanged.wait(guard, [&] { return slowActivations >= k / SLOW_RATE_RATIO; });
            }
            if (k > 0 && writeInputs(i, source(static_cast<double>(k - 1) * BASE_STEP)) != fmi3OK) {
                break;
            }
            if (fmi().fmi3ActivateModelPartition(i, VR_BASE_RATE_CLOCK, static_cast<double>(k) * BASE_STEP) !=
                fmi3OK) {
                break;
            }
            result.push_back(gates(i));
            std::unique_lock<std::mutex> guard(schedulerMutex);
            ++baseActivations;
            // The last tick's slow activation would be cut short by the end.
            if (slowTick && k < BASE_STEPS_PER_SECOND) {
                ++slowPosted;
                postedAt = baseActivations;
                slowStarted = false;
                schedulerChanged.notify_all();
                // Released: the base-rate activations from here on preempt it.
                schedulerChanged.wait(guard, [&] { return slowStarted; });
            } else {
                schedulerChanged.notify_all();
            }
        }
        {
            const std::lock_guard<std::mutex> guard(schedulerMutex);
            stopping = true;
            schedulerChanged.notify_all();
        }
        slow.join();
        fmi().fmi3FreeInstance(i);
        return result;
    }

    static int baseActivationsNow() {
        const std::lock_guard<std::mutex> guard(schedulerMutex);
        return baseActivations;
    }
};

TEST_F(PreemptionFmi3Test, APreemptedSlowPartitionGivesTheCoSimulationGates) {
    const std::pair<const char *, InputSource> grids[] = {{"running grid", runningGrid},
                                                          {"disturbed grid", disturbedGrid}};
    for (const auto &[what, source] : grids) {
        SCOPED_TRACE(what);
        fmi3Instance coSimulation = initialized(false);
        std::vector<Gates> expected{gates(coSimulation)};
        const std::vector<Gates> stepped = run(coSimulation, 0, BASE_STEPS_PER_SECOND, source);
        expected.insert(expected.end(), stepped.begin(), stepped.end());
        freeInstance(coSimulation);

        int slowFailures = 0;
        int baseInsideSlow = 0;
        const std::vector<Gates> found = scheduledRun(source, slowFailures, baseInsideSlow);
        EXPECT_EQ(slowFailures, 0);
        // Every slow activation was preempted, after both of its exchanges.
        EXPECT_GE(baseInsideSlow, 2 * ACTIVATIONS_INSIDE);
        ASSERT_EQ(found.size(), static_cast<std::size_t>(BASE_STEPS_PER_SECOND + 1));
        EXPECT_EQ(firstDifference(found, expected), -1) << "first differing base step";
        // The lock is taken only for the exchanges: once by each base-rate
        // activation at a slow-rate tick, twice by each slow activation.
        const int slowTicks = BASE_STEPS_PER_SECOND / SLOW_RATE_RATIO;
        EXPECT_EQ(lockCalls, (slowTicks + 1) + 2 * slowTicks);
    }
}

} // namespace
} // namespace kestrune::fmi3test
