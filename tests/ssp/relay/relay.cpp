// A unit for testing runs of systems: each step its output y becomes its
// input u plus 1, and it counts its steps; a step that would pass stopAt is
// discarded and ends the run, as a unit that stops on its own does.
#include "fmu/fmi2.h"

#include <cstdio>

namespace {

struct Relay {
    fmi2CallbackFunctions callbacks;
    double u = 0.0, y = -1.0, stopAt = 1e9, time = 0.0;
    int steps = 0;
    bool terminated = false;
};

Relay *relay(fmi2Component c) {
    return static_cast<Relay *>(c);
}

} // namespace

extern "C" {

const char *fmi2GetTypesPlatform() {
    return fmi2TypesPlatform;
}
const char *fmi2GetVersion() {
    return fmi2Version;
}
fmi2Component fmi2Instantiate(fmi2String, fmi2Type, fmi2String, fmi2String,
                              const fmi2CallbackFunctions *callbacks, fmi2Boolean, fmi2Boolean) {
    return new Relay{*callbacks};
}
void fmi2FreeInstance(fmi2Component c) {
    delete relay(c);
}
fmi2Status fmi2SetupExperiment(fmi2Component c, fmi2Boolean, fmi2Real, fmi2Real start, fmi2Boolean,
                               fmi2Real) {
    relay(c)->time = start;
    return fmi2OK;
}
fmi2Status fmi2EnterInitializationMode(fmi2Component) {
    return fmi2OK;
}
fmi2Status fmi2ExitInitializationMode(fmi2Component) {
    return fmi2OK;
}
fmi2Status fmi2Terminate(fmi2Component) {
    return fmi2OK;
}
fmi2Status fmi2GetReal(fmi2Component c, const fmi2ValueReference vr[], size_t n, fmi2Real value[]) {
    const Relay &r = *relay(c);
    for (size_t i = 0; i < n; ++i)
        value[i] = vr[i] == 0 ? r.u : vr[i] == 1 ? r.y : r.stopAt;
    return fmi2OK;
}
fmi2Status fmi2SetReal(fmi2Component c, const fmi2ValueReference vr[], size_t n, const fmi2Real value[]) {
    for (size_t i = 0; i < n; ++i)
        (vr[i] == 0 ? relay(c)->u : relay(c)->stopAt) = value[i];
    return fmi2OK;
}
fmi2Status fmi2GetInteger(fmi2Component c, const fmi2ValueReference[], size_t n, fmi2Integer value[]) {
    for (size_t i = 0; i < n; ++i)
        value[i] = relay(c)->steps;
    return fmi2OK;
}
fmi2Status fmi2DoStep(fmi2Component c, fmi2Real t, fmi2Real h, fmi2Boolean) {
    Relay &r = *relay(c);
    if (t + h > r.stopAt) {
        r.terminated = true;
        r.callbacks.logger(r.callbacks.componentEnvironment, "relay", fmi2Discard, "logStatusDiscard",
                           "stopped at t = %g", t);
        return fmi2Discard;
    }
    r.y = r.u + 1.0;
    r.time = t + h;
    ++r.steps;
    return fmi2OK;
}
fmi2Status fmi2GetRealStatus(fmi2Component c, const fmi2StatusKind, fmi2Real *value) {
    *value = relay(c)->time;
    return fmi2OK;
}
fmi2Status fmi2GetBooleanStatus(fmi2Component c, const fmi2StatusKind, fmi2Boolean *value) {
    *value = relay(c)->terminated ? fmi2True : fmi2False;
    return fmi2OK;
}

// The rest: not used by a fixed-step master.
fmi2Status fmi2SetDebugLogging(fmi2Component, fmi2Boolean, size_t, const fmi2String[]) {
    return fmi2OK;
}
fmi2Status fmi2Reset(fmi2Component) {
    return fmi2Error;
}
fmi2Status fmi2GetBoolean(fmi2Component, const fmi2ValueReference[], size_t, fmi2Boolean[]) {
    return fmi2Error;
}
fmi2Status fmi2GetString(fmi2Component, const fmi2ValueReference[], size_t, fmi2String[]) {
    return fmi2Error;
}
fmi2Status fmi2SetInteger(fmi2Component, const fmi2ValueReference[], size_t, const fmi2Integer[]) {
    return fmi2Error;
}
fmi2Status fmi2SetBoolean(fmi2Component, const fmi2ValueReference[], size_t, const fmi2Boolean[]) {
    return fmi2Error;
}
fmi2Status fmi2SetString(fmi2Component, const fmi2ValueReference[], size_t, const fmi2String[]) {
    return fmi2Error;
}
fmi2Status fmi2GetFMUstate(fmi2Component, fmi2FMUstate *) {
    return fmi2Error;
}
fmi2Status fmi2SetFMUstate(fmi2Component, fmi2FMUstate) {
    return fmi2Error;
}
fmi2Status fmi2FreeFMUstate(fmi2Component, fmi2FMUstate *) {
    return fmi2Error;
}
fmi2Status fmi2SerializedFMUstateSize(fmi2Component, fmi2FMUstate, size_t *) {
    return fmi2Error;
}
fmi2Status fmi2SerializeFMUstate(fmi2Component, fmi2FMUstate, fmi2Byte[], size_t) {
    return fmi2Error;
}
fmi2Status fmi2DeSerializeFMUstate(fmi2Component, const fmi2Byte[], size_t, fmi2FMUstate *) {
    return fmi2Error;
}
fmi2Status fmi2GetDirectionalDerivative(fmi2Component, const fmi2ValueReference[], size_t,
                                        const fmi2ValueReference[], size_t, const fmi2Real[], fmi2Real[]) {
    return fmi2Error;
}
fmi2Status fmi2EnterEventMode(fmi2Component) {
    return fmi2Error;
}
fmi2Status fmi2NewDiscreteStates(fmi2Component, fmi2EventInfo *) {
    return fmi2Error;
}
fmi2Status fmi2EnterContinuousTimeMode(fmi2Component) {
    return fmi2Error;
}
fmi2Status fmi2CompletedIntegratorStep(fmi2Component, fmi2Boolean, fmi2Boolean *, fmi2Boolean *) {
    return fmi2Error;
}
fmi2Status fmi2SetTime(fmi2Component, fmi2Real) {
    return fmi2Error;
}
fmi2Status fmi2SetContinuousStates(fmi2Component, const fmi2Real[], size_t) {
    return fmi2Error;
}
fmi2Status fmi2GetDerivatives(fmi2Component, fmi2Real[], size_t) {
    return fmi2Error;
}
fmi2Status fmi2GetEventIndicators(fmi2Component, fmi2Real[], size_t) {
    return fmi2Error;
}
fmi2Status fmi2GetContinuousStates(fmi2Component, fmi2Real[], size_t) {
    return fmi2Error;
}
fmi2Status fmi2GetNominalsOfContinuousStates(fmi2Component, fmi2Real[], size_t) {
    return fmi2Error;
}
fmi2Status fmi2SetRealInputDerivatives(fmi2Component, const fmi2ValueReference[], size_t, const fmi2Integer[],
                                       const fmi2Real[]) {
    return fmi2Error;
}
fmi2Status fmi2GetRealOutputDerivatives(fmi2Component, const fmi2ValueReference[], size_t,
                                        const fmi2Integer[], fmi2Real[]) {
    return fmi2Error;
}
fmi2Status fmi2CancelStep(fmi2Component) {
    return fmi2Error;
}
fmi2Status fmi2GetStatus(fmi2Component, const fmi2StatusKind, fmi2Status *) {
    return fmi2Error;
}
fmi2Status fmi2GetIntegerStatus(fmi2Component, const fmi2StatusKind, fmi2Integer *) {
    return fmi2Error;
}
fmi2Status fmi2GetStringStatus(fmi2Component, const fmi2StatusKind, fmi2String *) {
    return fmi2Error;
}

} // extern "C"
