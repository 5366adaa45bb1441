// The standard co-simulation call sequence against one loaded library.
#include "session.h"

#include <limits>

namespace kestrune::master {

namespace {

constexpr std::array<fmi2ValueReference, INPUT_COUNT> INPUT_VRS{0, 1, 2, 3, 4, 5, 6};

constexpr std::array<fmi2ValueReference, GATE_COUNT> gateVrs() {
    std::array<fmi2ValueReference, GATE_COUNT> vrs{};
    for (std::size_t i = 0; i < vrs.size(); ++i)
        vrs[i] = FIRST_GATE_VR + static_cast<fmi2ValueReference>(i);
    return vrs;
}

constexpr std::array<fmi2ValueReference, GATE_COUNT> GATE_VRS = gateVrs();

} // namespace

Session::Session(const FmuLibrary &library, RecordingLogger &logger) : library_(library), logger_(logger) {}

Session::~Session() {
    freeInstance();
}

bool Session::instantiate(const std::string &instanceName, const char *resourceLocation, bool loggingOn) {
    freeInstance();
    if (!library_.loaded())
        return false;
    component_ = fmi().instantiate(instanceName.c_str(), fmi2CoSimulation, KESTRUNE_GUID, resourceLocation,
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
    return fmi().setReal(component_, INPUT_VRS.data(), INPUT_VRS.size(), inputs.data());
}

fmi2Status Session::doStep(double currentTime, double stepSize) {
    if (component_ == nullptr)
        return fmi2Error;
    return fmi().doStep(component_, currentTime, stepSize, fmi2True);
}

fmi2Status Session::readGates(Gates &gates) {
    if (component_ == nullptr)
        return fmi2Error;
    return fmi().getReal(component_, GATE_VRS.data(), GATE_VRS.size(), gates.data());
}

double Session::readTime() {
    double time = std::numeric_limits<double>::quiet_NaN();
    if (component_ == nullptr)
        return time;
    const fmi2ValueReference vr = TIME_VR;
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
