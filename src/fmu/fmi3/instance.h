// One instance of the FMI 3.0 edition: its own model, the master's side of
// it, and logging by category. The registry of live instances is
// fmu/fmi3/registry.h.
#pragma once

#include "fmu/fmi3/fmi3.h"
#include "fmu/fmi3/registry.h"
#include "fmu/variables.h"
#include "identity.h"
#include "model/records.h"

#include <atomic>
#include <cstdint>

namespace kestrune::fmi3 {

// Where an instance stands in its life cycle. Failed is the state after an
// initialization that did not start the model: only a reset or freeing the
// instance helps. A scheduled-execution instance leaves initialization for
// ClockActivationMode where a co-simulation one enters StepMode.
enum class Mode : std::uint8_t {
    Instantiated,
    InitializationMode,
    StepMode,
    Terminated,
    Failed,
    ClockActivationMode
};

// Log categories of the description, as bits of Instance::enabledCategories.
enum LogCategory : unsigned {
    LOG_STATUS_ERROR = 1U, // "logStatusError": why a function returned fmi3Error
    LOG_STEP = 2U,         // "logStep": two messages per communication step
    LOG_ACCESS = 4U,       // "logAccess": every variable read or written
};
inline constexpr unsigned ALL_LOG_CATEGORIES = LOG_STATUS_ERROR | LOG_STEP | LOG_ACCESS;

struct SavedState;

// The edition's identity (identity.h) under this namespace too: the layer's
// functions outside namespace kestrune reach it through
// `using namespace kestrune::fmi3`.
using kestrune::INSTANTIATION_TOKEN;
using kestrune::VR_BASE_RATE_CLOCK;
using kestrune::VR_SLOW_RATE_CLOCK;

// What the two partitions of a scheduled-execution instance hand each other,
// and the importer's side of them. The fast partition writes the sample and
// the slow partition takes it; each clock's last activation belongs to the
// partition it activates. Only the sample and the reference transfer
// buffer are touched by both, always inside the importer's preemption lock.
struct Schedule {
    bool active = false; // made by fmi3InstantiateScheduledExecution
    fmi3LockPreemptionCallback lockPreemption = nullptr;
    fmi3UnlockPreemptionCallback unlockPreemption = nullptr;
    // The filtered measurements of the last slow-rate hit, in the order of
    // the inputs, and the slow step they belong to while not yet taken.
    double sample[INPUT_COUNT] = {};
    double sampleTime = 0.0;
    bool samplePending = false;
    // Time of each clock's last activation, once it has one.
    double lastBaseActivation = 0.0;
    double lastSlowActivation = 0.0;
    bool baseActivated = false;
    bool slowActivated = false;
};

struct Instance {
    // Made by fmi3InstantiateCoSimulation in memory from malloc; the model
    // stays where it was made.
    Instance() = default;
    Instance(const Instance &) = delete;
    Instance &operator=(const Instance &) = delete;

    Model model;
    double outputSnapshot[GATE_COUNT] = {}; // the model publishes each step's outputs here
    char *name = nullptr;
    fmi3InstanceEnvironment environment = nullptr;
    fmi3LogMessageCallback logMessage = nullptr;
    unsigned enabledCategories = 0; // no bit while logging is off
    Mode mode = Mode::Instantiated;
    double time = 0.0;
    // Base steps whose additions built time since it last took the master's
    // communication point.
    int lastStepCount = 0;
    // Bit k: the master wrote input k since instantiation or the last reset.
    std::uint32_t writtenInputs = 0;
    // The address of each variable, by value reference; the model and the
    // time stay where they are for the instance's life. Beside the fields
    // above, which every communication step reads too.
    double *variables[VARIABLE_COUNT] = {};
    // Scheduled execution: the partitions' exchange; inactive for
    // co-simulation.
    Schedule schedule;
    // The FMU states taken of this instance and not yet freed.
    SavedState *states = nullptr;
    // What the master holds (fmu/fmi3/registry.h).
    fmi3Instance handle = nullptr;
};

// Whether a message of the category reaches the master: logging is on for
// it and the master gave a callback. fmi3Error messages count as
// "logStatusError".
inline bool logs(const Instance *instance, LogCategory category) {
    return instance->logMessage != nullptr && (instance->enabledCategories & category) != 0U;
}

// Formats a message and sends it through the instance's callback, in the
// category's name ("logStatusError" for fmi3Error).
void sendMessage(const Instance *instance, fmi3Status status, LogCategory category, const char *format, ...)
#if defined(__MINGW32__)
    __attribute__((format(gnu_printf, 4, 5)))
#elif defined(__GNUC__)
    __attribute__((format(printf, 4, 5)))
#endif
    ;

// Sends a message when its category is enabled; a disabled one costs one
// test, not a formatting call.
template <typename... Args>
void logMessage(const Instance *instance, fmi3Status status, LogCategory category, const char *format,
                Args... args) {
    if (logs(instance, status == fmi3Error ? LOG_STATUS_ERROR : category)) {
        sendMessage(instance, status, category, format, args...);
    }
}

// The common refusal: logs "<function>: <reason>" as an error and returns
// fmi3Error.
fmi3Status refuse(const Instance *instance, const char *function, const char *reason);

// Releases every FMU state of the instance (when it is freed).
void freeAllStates(Instance *instance);

// A lock for the few short sections that instances on different threads
// share (the registry). It
// spins: the sections are a handful of instructions, and it needs nothing
// from the C++ runtime library, which the unit does not link.
class SpinLock {
  public:
    void lock() {
        while (flag_.test_and_set(std::memory_order_acquire)) {
        }
    }
    void unlock() { flag_.clear(std::memory_order_release); }

  private:
    std::atomic_flag flag_ = ATOMIC_FLAG_INIT;
};

class SpinGuard {
  public:
    explicit SpinGuard(SpinLock &lock) : lock_(lock) { lock_.lock(); }
    SpinGuard(const SpinGuard &) = delete;
    SpinGuard &operator=(const SpinGuard &) = delete;
    ~SpinGuard() { lock_.unlock(); }

  private:
    SpinLock &lock_;
};

// The name of a mode in messages.
const char *modeName(Mode mode);

// Before an instance exists, the refusal of an instantiation goes straight
// to the master's callback when logging is on; returns null.
fmi3Instance refuseInstantiation(fmi3Boolean loggingOn, fmi3InstanceEnvironment environment,
                                 fmi3LogMessageCallback log, const char *message);

// Points the model's publication at the instance's snapshot.
void bindSnapshot(Instance *instance);

// A new registered instance for the named instantiation function after the
// checks both instantiations share (name, token), or null after a refusal
// sent to log.
Instance *makeInstance(const char *function, fmi3String instanceName, fmi3String instantiationToken,
                       fmi3Boolean loggingOn, fmi3InstanceEnvironment environment,
                       fmi3LogMessageCallback log);

} // namespace kestrune::fmi3
