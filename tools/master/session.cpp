// The standard co-simulation call sequence against one loaded library.
#include "session.h"

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

} // namespace kestrune::master
