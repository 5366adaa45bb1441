// Functions of the standard the plant does not offer: FMU states,
// directional derivatives, model exchange and input derivatives. Each
// refuses with fmi2Error and says so; the output derivatives of its
// piecewise-constant view are none either.
#include "plant_instance.h"

namespace {

fmi2Status notOffered(fmi2Component c, const char *what) {
    kestrune::plantfmu::PlantInstance *instance = kestrune::plantfmu::liveInstance(c);
    if (instance == nullptr)
        return fmi2Error;
    kestrune::plantfmu::logError(instance, what);
    return fmi2Error;
}

constexpr const char *NO_STATE = "the plant FMU does not save its state (canGetAndSetFMUstate is false)";
constexpr const char *NO_DERIVATIVES = "the plant FMU provides no directional derivatives";
constexpr const char *NO_MODEL_EXCHANGE = "the plant is a co-simulation FMU only";
constexpr const char *NO_INPUT_DERIVATIVES = "the plant FMU does not interpolate its inputs";
constexpr const char *NO_OUTPUT_DERIVATIVES = "the plant FMU provides no output derivatives";

} // namespace

extern "C" {

fmi2Status fmi2GetFMUstate(fmi2Component c, fmi2FMUstate *) {
    return notOffered(c, NO_STATE);
}
fmi2Status fmi2SetFMUstate(fmi2Component c, fmi2FMUstate) {
    return notOffered(c, NO_STATE);
}
fmi2Status fmi2FreeFMUstate(fmi2Component c, fmi2FMUstate *) {
    return notOffered(c, NO_STATE);
}
fmi2Status fmi2SerializedFMUstateSize(fmi2Component c, fmi2FMUstate, size_t *) {
    return notOffered(c, NO_STATE);
}
fmi2Status fmi2SerializeFMUstate(fmi2Component c, fmi2FMUstate, fmi2Byte[], size_t) {
    return notOffered(c, NO_STATE);
}
fmi2Status fmi2DeSerializeFMUstate(fmi2Component c, const fmi2Byte[], size_t, fmi2FMUstate *) {
    return notOffered(c, NO_STATE);
}
fmi2Status fmi2GetDirectionalDerivative(fmi2Component c, const fmi2ValueReference[], size_t,
                                        const fmi2ValueReference[], size_t, const fmi2Real[], fmi2Real[]) {
    return notOffered(c, NO_DERIVATIVES);
}
fmi2Status fmi2EnterEventMode(fmi2Component c) {
    return notOffered(c, NO_MODEL_EXCHANGE);
}
fmi2Status fmi2NewDiscreteStates(fmi2Component c, fmi2EventInfo *) {
    return notOffered(c, NO_MODEL_EXCHANGE);
}
fmi2Status fmi2EnterContinuousTimeMode(fmi2Component c) {
    return notOffered(c, NO_MODEL_EXCHANGE);
}
fmi2Status fmi2CompletedIntegratorStep(fmi2Component c, fmi2Boolean, fmi2Boolean *, fmi2Boolean *) {
    return notOffered(c, NO_MODEL_EXCHANGE);
}
fmi2Status fmi2SetTime(fmi2Component c, fmi2Real) {
    return notOffered(c, NO_MODEL_EXCHANGE);
}
fmi2Status fmi2SetContinuousStates(fmi2Component c, const fmi2Real[], size_t) {
    return notOffered(c, NO_MODEL_EXCHANGE);
}
fmi2Status fmi2GetDerivatives(fmi2Component c, fmi2Real[], size_t) {
    return notOffered(c, NO_MODEL_EXCHANGE);
}
fmi2Status fmi2GetEventIndicators(fmi2Component c, fmi2Real[], size_t) {
    return notOffered(c, NO_MODEL_EXCHANGE);
}
fmi2Status fmi2GetContinuousStates(fmi2Component c, fmi2Real[], size_t) {
    return notOffered(c, NO_MODEL_EXCHANGE);
}
fmi2Status fmi2GetNominalsOfContinuousStates(fmi2Component c, fmi2Real[], size_t) {
    return notOffered(c, NO_MODEL_EXCHANGE);
}
fmi2Status fmi2SetRealInputDerivatives(fmi2Component c, const fmi2ValueReference[], size_t,
                                       const fmi2Integer[], const fmi2Real[]) {
    return notOffered(c, NO_INPUT_DERIVATIVES);
}
fmi2Status fmi2GetRealOutputDerivatives(fmi2Component c, const fmi2ValueReference[], size_t,
                                        const fmi2Integer[], fmi2Real[]) {
    return notOffered(c, NO_OUTPUT_DERIVATIVES);
}

} // extern "C"
