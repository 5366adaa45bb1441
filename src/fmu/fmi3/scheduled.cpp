// Scheduled execution of the FMI 3.0 edition: the controller's two rates as
// two model partitions, each activated by its own periodic input clock. The
// base-rate clock (5 µs) runs filters, modulator and gates; the slow-rate
// clock (100 µs) runs the phase-locked loop, the means and the regulators.
//
// The partitions share two things, both at a slow-rate hit: the filtered
// measurements of that base step, which the fast partition keeps in the
// schedule's sample and the slow partition takes at its start, and the
// reference of the reference transfer, which the slow partition stores
// between its output and update phases and the fast partition takes at the
// next slow-rate hit. Those two exchanges run inside the importer's
// preemption lock; nothing else does. A slow partition that later fast
// activations preempt therefore computes from the values of its own tick,
// and its reference reaches the modulator only at the next slow-rate hit.
#include "fmu/base_steps.h"
#include "fmu/fmi3/call_rules.h"
#include "fmu/fmi3/instance.h"
#include "model/records.h"
#include "model/step.h"
#include "modulation/reference.h"

#include <cmath>

namespace {

using kestrune::fmi3::Instance;
using kestrune::fmi3::Mode;
using kestrune::fmi3::Schedule;

constexpr const char *ACTIVATE = "fmi3ActivateModelPartition";

// Holds the importer's preemption lock for its lifetime.
class PreemptionLock {
  public:
    explicit PreemptionLock(const Schedule &schedule) : schedule_(schedule) { schedule_.lockPreemption(); }
    PreemptionLock(const PreemptionLock &) = delete;
    PreemptionLock &operator=(const PreemptionLock &) = delete;
    ~PreemptionLock() { schedule_.unlockPreemption(); }

  private:
    const Schedule &schedule_;
};

// The fast partition's exchange at a slow-rate hit: the reference the last
// slow step stored becomes the modulator's, and the filtered measurements
// of this base step wait for the slow partition.
void exchangeAtSlowHit(kestrune::Model &model, void *context) {
    auto *instance = static_cast<Instance *>(context);
    Schedule &schedule = instance->schedule;
    const kestrune::ModulationSignals &s = model.signals.modulation;
    const PreemptionLock lock(schedule);
    kestrune::transferReferenceIn(model);
    for (int k = 0; k < 3; ++k) {
        schedule.sample[k] = s.measuredVoltageAbc[k];
        schedule.sample[3 + k] = s.measuredCurrentAbc[k];
    }
    schedule.sample[6] = s.measuredDcVoltage;
    schedule.sampleTime = kestrune::baseStepTime(model.record);
    schedule.samplePending = true;
}

// The slow partition's hand-over: its reference, for the next slow period.
void handOverReference(kestrune::Model &model, void *context) {
    const auto *instance = static_cast<const Instance *>(context);
    const PreemptionLock lock(instance->schedule);
    kestrune::transferReferenceOut(model);
}

// Whether t is the time expected of the clock's next tick.
bool isExpectedTick(double expected, double t) {
    return std::fabs(t - expected) <= kestrune::stepTolerance(expected, 0);
}

// Whether t is the clock's next tick; logs the refusal when not.
bool isNextTick(const Instance *instance, const char *clock, fmi3ValueReference vr, double expected,
                double t) {
    if (isExpectedTick(expected, t)) {
        return true;
    }
    kestrune::fmi3::logMessage(instance, fmi3Error, kestrune::fmi3::LOG_STATUS_ERROR,
                               "%s: the %s clock (%u) ticks next at %.17g, not at %.17g", ACTIVATE, clock, vr,
                               expected, t);
    return false;
}

fmi3Status activateBaseRate(Instance *instance, double t) {
    using namespace kestrune::fmi3;
    Schedule &schedule = instance->schedule;
    kestrune::Model &model = instance->model;
    if (!isNextTick(instance, "base-rate", VR_BASE_RATE_CLOCK, kestrune::baseStepTime(model.record), t)) {
        return fmi3Error;
    }
    kestrune::fastPartitionStep(model, exchangeAtSlowHit, instance);
    kestrune::restoreOutputs(model);
    instance->time = t;
    schedule.lastBaseActivation = t;
    schedule.baseActivated = true;
    return fmi3OK;
}

fmi3Status activateSlowRate(Instance *instance, double t) {
    using namespace kestrune::fmi3;
    Schedule &schedule = instance->schedule;
    kestrune::Model &model = instance->model;
    if (!isNextTick(instance, "slow-rate", VR_SLOW_RATE_CLOCK, kestrune::slowStepTime(model.record), t)) {
        return fmi3Error;
    }
    {
        // The measurements of this tick, as the fast partition left them.
        const PreemptionLock lock(schedule);
        if (!schedule.samplePending || !isExpectedTick(schedule.sampleTime, t)) {
            logMessage(
                instance, fmi3Error, LOG_STATUS_ERROR,
                "%s: the slow-rate clock (%u) at %.17g needs the base-rate clock (%u) activated at that "
                "time first",
                ACTIVATE, VR_SLOW_RATE_CLOCK, t, VR_BASE_RATE_CLOCK);
            return fmi3Error;
        }
        kestrune::ModulationSignals &s = model.signals.modulation;
        for (int k = 0; k < 3; ++k) {
            s.heldVoltageAbc[k] = schedule.sample[k];
            s.heldCurrentAbc[k] = schedule.sample[3 + k];
        }
        s.heldDcVoltage = schedule.sample[6];
        schedule.samplePending = false;
    }
    schedule.lastSlowActivation = t;
    schedule.slowActivated = true;
    if (!kestrune::slowPartitionStep(model, handOverReference, instance)) {
        const char *text = model.record.errorStatus;
        logMessage(instance, fmi3Error, LOG_STATUS_ERROR, "%s: the slow-rate partition failed: %s", ACTIVATE,
                   text != nullptr ? text : "a hosted block failed");
        return fmi3Error;
    }
    return fmi3OK;
}

} // namespace

extern "C" {

fmi3Instance fmi3InstantiateScheduledExecution(
    fmi3String instanceName, fmi3String instantiationToken, fmi3String /*resourcePath*/,
    fmi3Boolean /*visible*/, fmi3Boolean loggingOn, fmi3InstanceEnvironment instanceEnvironment,
    fmi3LogMessageCallback logMessage, fmi3ClockUpdateCallback /*clockUpdate*/,
    fmi3LockPreemptionCallback lockPreemption, fmi3UnlockPreemptionCallback unlockPreemption) {
    using namespace kestrune::fmi3;
    // Both clocks are periodic input clocks: nothing here ever asks the
    // importer for a clock update, but the partitions do lock.
    if (lockPreemption == nullptr || unlockPreemption == nullptr) {
        return refuseInstantiation(loggingOn, instanceEnvironment, logMessage,
                                   "fmi3InstantiateScheduledExecution: the partitions share values at each "
                                   "slow-rate tick and need both lockPreemption and unlockPreemption");
    }
    Instance *instance = makeInstance("fmi3InstantiateScheduledExecution", instanceName, instantiationToken,
                                      loggingOn, instanceEnvironment, logMessage);
    if (instance == nullptr) {
        return nullptr;
    }
    instance->schedule.active = true;
    instance->schedule.lockPreemption = lockPreemption;
    instance->schedule.unlockPreemption = unlockPreemption;
    return instance->handle;
}

fmi3Status fmi3ActivateModelPartition(fmi3Instance handle, fmi3ValueReference clockReference,
                                      fmi3Float64 activationTime) {
    using namespace kestrune::fmi3;
    Instance *instance = enterCall(handle, Call::ActivateModelPartition);
    if (instance == nullptr) {
        return fmi3Error;
    }
    const Schedule &schedule = instance->schedule;
    const bool base = clockReference == VR_BASE_RATE_CLOCK;
    if (!base && clockReference != VR_SLOW_RATE_CLOCK) {
        logMessage(instance, fmi3Error, LOG_STATUS_ERROR,
                   "%s: %u is not an input clock; the clocks are %u (base rate, 5e-06 s) and %u (slow rate, "
                   "0.0001 s)",
                   ACTIVATE, clockReference, VR_BASE_RATE_CLOCK, VR_SLOW_RATE_CLOCK);
        return fmi3Error;
    }
    const bool activated = base ? schedule.baseActivated : schedule.slowActivated;
    const double last = base ? schedule.lastBaseActivation : schedule.lastSlowActivation;
    // Written so that a NaN time fails the test too.
    if (activated && !(activationTime > last)) {
        logMessage(instance, fmi3Error, LOG_STATUS_ERROR,
                   "%s: activation time %.17g of clock %u does not increase on its last activation at %.17g",
                   ACTIVATE, activationTime, clockReference, last);
        return fmi3Error;
    }
    return base ? activateBaseRate(instance, activationTime) : activateSlowRate(instance, activationTime);
}

} // extern "C"
