#include "handoff_queue.h"

#if defined(__linux__)
#include <pthread.h>
#include <sched.h>
#endif

namespace kestrune::sim {

void yieldToTheLoop(std::thread &thread) {
#if defined(__linux__)
    // SCHED_BATCH: no wake-up preemption; unprivileged, and harmless when
    // refused (the thread then stays in the normal class).
    sched_param parameters{};
    parameters.sched_priority = 0;
    pthread_setschedparam(thread.native_handle(), SCHED_BATCH, &parameters);
#else
    (void)thread;
#endif
}

} // namespace kestrune::sim
