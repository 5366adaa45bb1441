// The standard co-simulation call sequence against one loaded library, of
// either edition.
#include "session.h"

#include <cmath>
#include <limits>
#include <utility>

namespace kestrune::master {

Session::Session(const FmuLibrary &library, RecordingLogger &logger, VariableBindings bindings)
    : library_(library), logger_(logger), bindings_(std::move(bindings)) {}

Session::~Session() {
    freeInstance();
}

bool Session::instantiate(const std::string &instanceName, const char *resourceLocation, bool loggingOn) {
    freeInstance();
    if (!library_.loaded())
        return false;
    component_ =
        fmi().instantiate(instanceName.c_str(), fmi2CoSimulation, bindings_.guid.c_str(), resourceLocation,
                          logger_.callbacks(), fmi2False, loggingOn ? fmi2True : fmi2False);
    return component_ != nullptr;
}

fmi2Status Session::initialize(double startTime, const Inputs *inputs) {
    if (component_ == nullptr)
        return fmi2Error;
    fmi2Status status = fmi().setupExperiment(component_, fmi2False, 0.0, startTime, fmi2False, 0.0);
    if (status != fmi2OK)
        return status;
    status = fmi().enterInitializationMode(component_);
    if (status != fmi2OK)
        return status;
    if (inputs != nullptr) {
        status = setInputs(*inputs);
        if (status != fmi2OK)
            return status;
    }
    return fmi().exitInitializationMode(component_);
}

fmi2Status Session::setInputs(const Inputs &inputs) {
    if (component_ == nullptr)
        return fmi2Error;
    return fmi().setReal(component_, bindings_.inputs.data(), bindings_.inputs.size(), inputs.data());
}

fmi2Status Session::doStep(double currentTime, double stepSize) {
    if (component_ == nullptr)
        return fmi2Error;
    return fmi().doStep(component_, currentTime, stepSize, fmi2True);
}

fmi2Status Session::readGates(Gates &gates) {
    if (component_ == nullptr)
        return fmi2Error;
    return fmi().getReal(component_, bindings_.gates.data(), bindings_.gates.size(), gates.data());
}

fmi2Status Session::readReals(const fmi2ValueReference *vr, std::size_t count, double *values) {
    if (component_ == nullptr)
        return fmi2Error;
    return fmi().getReal(component_, vr, count, values);
}

double Session::readTime() {
    double time = std::numeric_limits<double>::quiet_NaN();
    if (component_ == nullptr)
        return time;
    const fmi2ValueReference vr = bindings_.time;
    if (fmi().getReal(component_, &vr, 1, &time) != fmi2OK)
        return std::numeric_limits<double>::quiet_NaN();
    return time;
}

fmi2Status Session::terminate() {
    if (component_ == nullptr)
        return fmi2Error;
    return fmi().terminate(component_);
}

void Session::freeInstance() {
    if (component_ == nullptr)
        return;
    if (library_.loaded())
        fmi().freeInstance(component_);
    component_ = nullptr;
}

fmi2Status Session::reset() {
    if (component_ == nullptr)
        return fmi2Error;
    return fmi().reset(component_);
}

Session3::Session3(const FmuLibrary &library, RecordingLogger &logger, VariableBindings bindings)
    : library_(library), logger_(logger), bindings_(std::move(bindings)) {}

Session3::~Session3() {
    freeInstance();
}

VariableBindings Session3::fmi3Bindings() {
    VariableBindings bindings;
    bindings.guid = INSTANTIATION_TOKEN;
    return bindings;
}

bool Session3::instantiate(const std::string &instanceName, const char *resourceLocation, bool loggingOn) {
    freeInstance();
    if (!library_.loaded() || library_.edition() != FmiEdition::Fmi3)
        return false;
    instance_ = fmi().fmi3InstantiateCoSimulation(
        instanceName.c_str(), bindings_.guid.c_str(), resourceLocation, fmi3False, loggingOn, fmi3False,
        fmi3False, nullptr, 0, &logger_, RecordingLogger::fmi3Callback(), nullptr);
    return instance_ != nullptr;
}

fmi2Status Session3::initialize(double startTime, const Inputs *inputs) {
    if (instance_ == nullptr)
        return fmi2Error;
    fmi3Status status =
        fmi().fmi3EnterInitializationMode(instance_, fmi3False, 0.0, startTime, fmi3False, 0.0);
    if (status != fmi3OK)
        return static_cast<fmi2Status>(status);
    if (inputs != nullptr) {
        const fmi2Status written = setInputs(*inputs);
        if (written != fmi2OK)
            return written;
    }
    return static_cast<fmi2Status>(fmi().fmi3ExitInitializationMode(instance_));
}

fmi2Status Session3::setInputs(const Inputs &inputs) {
    if (instance_ == nullptr)
        return fmi2Error;
    return static_cast<fmi2Status>(fmi().fmi3SetFloat64(
        instance_, bindings_.inputs.data(), bindings_.inputs.size(), inputs.data(), inputs.size()));
}

fmi2Status Session3::doStep(double currentTime, double stepSize) {
    if (instance_ == nullptr)
        return fmi2Error;
    fmi3Boolean eventHandlingNeeded = fmi3False;
    fmi3Boolean terminate = fmi3False;
    fmi3Boolean earlyReturn = fmi3False;
    const fmi3Status status =
        fmi().fmi3DoStep(instance_, currentTime, stepSize, fmi3True, &eventHandlingNeeded, &terminate,
                         &earlyReturn, &lastSuccessfulTime_);
    terminateRequested_ = terminate;
    return static_cast<fmi2Status>(status);
}

fmi2Status Session3::readGates(Gates &gates) {
    return readReals(bindings_.gates.data(), bindings_.gates.size(), gates.data());
}

fmi2Status Session3::readReals(const fmi2ValueReference *vr, std::size_t count, double *values) {
    if (instance_ == nullptr)
        return fmi2Error;
    return static_cast<fmi2Status>(fmi().fmi3GetFloat64(instance_, vr, count, values, count));
}

double Session3::readTime() {
    double time = std::numeric_limits<double>::quiet_NaN();
    const fmi2ValueReference vr = bindings_.time;
    if (readReals(&vr, 1, &time) != fmi2OK)
        return std::numeric_limits<double>::quiet_NaN();
    return time;
}

fmi2Status Session3::terminate() {
    if (instance_ == nullptr)
        return fmi2Error;
    return static_cast<fmi2Status>(fmi().fmi3Terminate(instance_));
}

void Session3::freeInstance() {
    if (instance_ == nullptr)
        return;
    if (library_.loaded())
        fmi().fmi3FreeInstance(instance_);
    instance_ = nullptr;
    kept_ = nullptr;
}

fmi2Status Session3::reset() {
    if (instance_ == nullptr)
        return fmi2Error;
    return static_cast<fmi2Status>(fmi().fmi3Reset(instance_));
}

fmi2Status Session3::keepState() {
    if (instance_ == nullptr)
        return fmi2Error;
    return static_cast<fmi2Status>(fmi().fmi3GetFMUState(instance_, &kept_));
}

fmi2Status Session3::restoreState() {
    if (instance_ == nullptr || kept_ == nullptr)
        return fmi2Error;
    return static_cast<fmi2Status>(fmi().fmi3SetFMUState(instance_, kept_));
}

namespace {

// One thread activates everything: nothing to lock against.
void noPreemptionLock() {}

} // namespace

ScheduledSession::ScheduledSession(const FmuLibrary &library, RecordingLogger &logger,
                                   VariableBindings bindings)
    : Session3(library, logger, std::move(bindings)) {}

ScheduledSession::~ScheduledSession() {
    freeInstance();
}

bool ScheduledSession::instantiate(const std::string &instanceName, const char *resourceLocation,
                                   bool loggingOn) {
    freeInstance();
    if (!library_.loaded() || library_.edition() != FmiEdition::Fmi3 || !bindings_.baseRateClock ||
        !bindings_.slowRateClock)
        return false;
    const double ratio = std::nearbyint(bindings_.slowRateClock->period / bindings_.baseRateClock->period);
    if (!(bindings_.baseRateClock->period > 0.0 && ratio >= 1.0 && ratio < 2147483648.0))
        return false;
    slowRatio_ = static_cast<long long>(ratio);
    instance_ = fmi().fmi3InstantiateScheduledExecution(
        instanceName.c_str(), bindings_.guid.c_str(), resourceLocation, fmi3False, loggingOn, &logger_,
        RecordingLogger::fmi3Callback(), nullptr, noPreemptionLock, noPreemptionLock);
    lastTick_ = -1;
    return instance_ != nullptr;
}

fmi2Status ScheduledSession::initialize(double startTime, const Inputs *inputs) {
    const fmi2Status status = Session3::initialize(startTime, inputs);
    if (status != fmi2OK)
        return status;
    return activateTick(0);
}

fmi2Status ScheduledSession::activateTick(long long k) {
    const double t = static_cast<double>(k) * bindings_.baseRateClock->period;
    fmi3Status status = fmi().fmi3ActivateModelPartition(instance_, bindings_.baseRateClock->vr, t);
    if (status == fmi3OK && k % slowRatio_ == 0)
        status = fmi().fmi3ActivateModelPartition(instance_, bindings_.slowRateClock->vr, t);
    if (status == fmi3OK)
        lastTick_ = k;
    return static_cast<fmi2Status>(status);
}

fmi2Status ScheduledSession::doStep(double currentTime, double stepSize) {
    if (instance_ == nullptr || lastTick_ < 0)
        return fmi2Error;
    // Whole base-rate periods from the last tick, within a millionth of one.
    const double period = bindings_.baseRateClock->period;
    const double steps = std::nearbyint(stepSize / period);
    const double start = static_cast<double>(lastTick_) * period;
    const double tolerance = period * 1e-6;
    if (!(steps >= 0.0 && steps < 2147483648.0) || !(std::fabs(stepSize - steps * period) <= tolerance) ||
        !(std::fabs(currentTime - start) <= tolerance + std::fabs(start) * 1e-15))
        return fmi2Error;
    const long long last = lastTick_ + static_cast<long long>(steps);
    for (long long k = lastTick_ + 1; k <= last; ++k) {
        const fmi2Status status = activateTick(k);
        if (status != fmi2OK)
            return status;
    }
    return fmi2OK;
}

fmi2Status ScheduledSession::reset() {
    lastTick_ = -1;
    return Session3::reset();
}

void ScheduledSession::freeInstance() {
    Session3::freeInstance();
    lastTick_ = -1;
}

std::unique_ptr<UnitSession> makeSession(const FmuLibrary &library, RecordingLogger &logger,
                                         VariableBindings bindings) {
    if (library.edition() == FmiEdition::Fmi3)
        return std::make_unique<Session3>(library, logger, std::move(bindings));
    return std::make_unique<Session>(library, logger, std::move(bindings));
}

} // namespace kestrune::master
