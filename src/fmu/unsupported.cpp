// Functions of the standard that this unit answers without effect: it keeps
// no FMU state, offers no derivatives, and is not a model-exchange unit. Each
// returns fmi2OK and leaves its output arguments alone; only the output
// derivatives are written, as zeros.
#include "fmu/instance.h"

namespace {

fmi2Status withoutEffect(fmi2Component c) {
    return kestrune::liveInstance(c) == nullptr ? fmi2Error : fmi2OK;
}

} // namespace

extern "C" {

fmi2Status fmi2GetFMUstate(fmi2Component c, fmi2FMUstate *) {
    return withoutEffect(c);
}
fmi2Status fmi2SetFMUstate(fmi2Component c, fmi2FMUstate) {
    return withoutEffect(c);
}
fmi2Status fmi2FreeFMUstate(fmi2Component c, fmi2FMUstate *) {
    return withoutEffect(c);
}
fmi2Status fmi2SerializedFMUstateSize(fmi2Component c, fmi2FMUstate, size_t *) {
    return withoutEffect(c);
}
fmi2Status fmi2SerializeFMUstate(fmi2Component c, fmi2FMUstate, fmi2Byte[], size_t) {
    return withoutEffect(c);
}
fmi2Status fmi2DeSerializeFMUstate(fmi2Component c, const fmi2Byte[], size_t, fmi2FMUstate *) {
    return withoutEffect(c);
}
fmi2Status fmi2GetDirectionalDerivative(fmi2Component c, const fmi2ValueReference[], size_t,
                                        const fmi2ValueReference[], size_t, const fmi2Real[], fmi2Real[]) {
    return withoutEffect(c);
}

fmi2Status fmi2EnterEventMode(fmi2Component c) {
    return withoutEffect(c);
}
fmi2Status fmi2NewDiscreteStates(fmi2Component c, fmi2EventInfo *) {
    return withoutEffect(c);
}
fmi2Status fmi2EnterContinuousTimeMode(fmi2Component c) {
    return withoutEffect(c);
}
fmi2Status fmi2CompletedIntegratorStep(fmi2Component c, fmi2Boolean, fmi2Boolean *, fmi2Boolean *) {
    return withoutEffect(c);
}
fmi2Status fmi2SetTime(fmi2Component c, fmi2Real) {
    return withoutEffect(c);
}
fmi2Status fmi2SetContinuousStates(fmi2Component c, const fmi2Real[], size_t) {
    return withoutEffect(c);
}
fmi2Status fmi2GetDerivatives(fmi2Component c, fmi2Real[], size_t) {
    return withoutEffect(c);
}
fmi2Status fmi2GetEventIndicators(fmi2Component c, fmi2Real[], size_t) {
    return withoutEffect(c);
}
fmi2Status fmi2GetContinuousStates(fmi2Component c, fmi2Real[], size_t) {
    return withoutEffect(c);
}
fmi2Status fmi2GetNominalsOfContinuousStates(fmi2Component c, fmi2Real[], size_t) {
    return withoutEffect(c);
}

fmi2Status fmi2SetRealInputDerivatives(fmi2Component c, const fmi2ValueReference[], size_t,
                                       const fmi2Integer[], const fmi2Real[]) {
    return withoutEffect(c);
}

// The outputs are piecewise constant: every derivative asked for is zero.
fmi2Status fmi2GetRealOutputDerivatives(fmi2Component c, const fmi2ValueReference[], size_t nvr,
                                        const fmi2Integer[], fmi2Real value[]) {
    const kestrune::Fmu2Instance *instance = kestrune::liveInstance(c);
    if (instance == nullptr) {
        return fmi2Error;
    }
    if (nvr != 0 && value == nullptr) {
        kestrune::logError(instance, "invalid memory access");
        return fmi2Error;
    }
    for (size_t i = 0; i < nvr; ++i) {
        value[i] = 0.0;
    }
    return fmi2OK;
}

fmi2Status fmi2CancelStep(fmi2Component c) {
    return withoutEffect(c);
}
fmi2Status fmi2GetStatus(fmi2Component c, const fmi2StatusKind, fmi2Status *) {
    return withoutEffect(c);
}
fmi2Status fmi2GetRealStatus(fmi2Component c, const fmi2StatusKind, fmi2Real *) {
    return withoutEffect(c);
}
fmi2Status fmi2GetIntegerStatus(fmi2Component c, const fmi2StatusKind, fmi2Integer *) {
    return withoutEffect(c);
}
fmi2Status fmi2GetBooleanStatus(fmi2Component c, const fmi2StatusKind, fmi2Boolean *) {
    return withoutEffect(c);
}
fmi2Status fmi2GetStringStatus(fmi2Component c, const fmi2StatusKind, fmi2String *) {
    return withoutEffect(c);
}

} // extern "C"
