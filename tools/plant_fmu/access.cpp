// Reading and writing the plant's variables by value reference (plant_layout.h):
// parameters until initialization ends, gates at any time (held when the
// outputs are next read or the next step starts), outputs read only.
#include "plant_instance.h"
#include "plant_variables.h"

#include <cstdio>

using kestrune::plantfmu::Phase;
using kestrune::plantfmu::PlantInstance;

namespace {

using namespace kestrune::plantfmu;

enum class Slot { Parameter, Gate, Output, Outside };

// What the value reference names within its type's values.
Slot slotKind(VariableType type, fmi2ValueReference vr, int &slot) {
    if (type == VariableType::Real && vr < VR_INTEGER_FIRST) {
        slot = static_cast<int>(vr);
        return slot < R_PARAMETER_END ? Slot::Parameter : slot < R_OUTPUT_FIRST ? Slot::Gate : Slot::Output;
    }
    if (type == VariableType::Integer && vr >= VR_INTEGER_FIRST && vr < VR_BOOLEAN_FIRST) {
        slot = static_cast<int>(vr - VR_INTEGER_FIRST);
        return slot < I_PARAMETER_END ? Slot::Parameter : Slot::Output;
    }
    if (type == VariableType::Boolean && vr >= VR_BOOLEAN_FIRST && vr < VARIABLE_COUNT) {
        slot = static_cast<int>(vr - VR_BOOLEAN_FIRST);
        return Slot::Parameter;
    }
    return Slot::Outside;
}

const char *typeName(VariableType type) {
    return type == VariableType::Real ? "Real" : type == VariableType::Integer ? "Integer" : "Boolean";
}

template <typename T> T *slotOf(PlantInstance &instance, VariableType type, int slot) {
    if constexpr (sizeof(T) == sizeof(double))
        return &instance.values.reals[slot];
    else
        return type == VariableType::Integer ? &instance.values.integers[slot]
                                             : &instance.values.booleans[slot];
}

// The instance when the call may go ahead: arrays present, every reference
// of the type; null, after saying why, otherwise.
PlantInstance *accessTarget(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const void *value,
                            VariableType type, const char *function) {
    PlantInstance *instance = liveInstance(c);
    if (instance == nullptr)
        return nullptr;
    if (nvr != 0 && (vr == nullptr || value == nullptr)) {
        logError(instance, "invalid memory access");
        return nullptr;
    }
    for (size_t i = 0; i < nvr; ++i) {
        int slot = 0;
        if (slotKind(type, vr[i], slot) == Slot::Outside) {
            char text[160];
            std::snprintf(text, sizeof text, "%s: value reference %u is no %s variable of the plant",
                          function, vr[i], typeName(type));
            logError(instance, text);
            return nullptr;
        }
    }
    return instance;
}

template <typename T>
fmi2Status getValues(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, T value[], VariableType type,
                     const char *function) {
    PlantInstance *instance = accessTarget(c, vr, nvr, value, type, function);
    if (instance == nullptr)
        return fmi2Error;
    // In initialization mode the outputs come from the plant the present
    // parameters make.
    if (instance->phase == Phase::Initialization) {
        try {
            if (std::string problem = preparePlant(*instance); !problem.empty()) {
                logError(instance, (std::string(function) + ": " + problem).c_str());
                return fmi2Error;
            }
        } catch (...) {
            instance->plant.reset();
            logError(instance, "out of memory");
            return fmi2Error;
        }
    }
    holdAndPublish(*instance);
    for (size_t i = 0; i < nvr; ++i) {
        int slot = 0;
        slotKind(type, vr[i], slot);
        value[i] = *slotOf<T>(*instance, type, slot);
    }
    return fmi2OK;
}

template <typename T>
fmi2Status setValues(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const T value[],
                     VariableType type, const char *function) {
    PlantInstance *instance = accessTarget(c, vr, nvr, value, type, function);
    if (instance == nullptr)
        return fmi2Error;
    const bool parametersOpen =
        instance->phase == Phase::Instantiated || instance->phase == Phase::Initialization;
    for (size_t i = 0; i < nvr; ++i) {
        int slot = 0;
        const Slot kind = slotKind(type, vr[i], slot);
        if (kind == Slot::Output || (kind == Slot::Parameter && !parametersOpen)) {
            char text[200];
            std::snprintf(text, sizeof text, "%s: %s is %s", function, plantVariableName(vr[i]).c_str(),
                          kind == Slot::Output
                              ? "an output: it cannot be set"
                              : "a fixed parameter: set it before fmi2ExitInitializationMode");
            logError(instance, text);
            return fmi2Error;
        }
    }
    for (size_t i = 0; i < nvr; ++i) {
        int slot = 0;
        if (slotKind(type, vr[i], slot) == Slot::Gate) {
            instance->gatesWritten = true;
            instance->gatesPending = true;
        } else {
            instance->parametersChanged = true;
        }
        *slotOf<T>(*instance, type, slot) =
            type == VariableType::Boolean ? (value[i] != 0 ? 1 : 0) : value[i];
    }
    return fmi2OK;
}

fmi2Status noStrings(fmi2Component c, size_t nvr) {
    PlantInstance *instance = liveInstance(c);
    if (instance == nullptr)
        return fmi2Error;
    if (nvr != 0) {
        logError(instance, "the plant has no String variable");
        return fmi2Error;
    }
    return fmi2OK;
}

} // namespace

extern "C" {

fmi2Status fmi2GetReal(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2Real value[]) {
    return getValues(c, vr, nvr, value, VariableType::Real, "fmi2GetReal");
}
fmi2Status fmi2GetInteger(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2Integer value[]) {
    return getValues(c, vr, nvr, value, VariableType::Integer, "fmi2GetInteger");
}
fmi2Status fmi2GetBoolean(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2Boolean value[]) {
    return getValues(c, vr, nvr, value, VariableType::Boolean, "fmi2GetBoolean");
}
fmi2Status fmi2GetString(fmi2Component c, const fmi2ValueReference[], size_t nvr, fmi2String[]) {
    return noStrings(c, nvr);
}
fmi2Status fmi2SetReal(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2Real value[]) {
    return setValues(c, vr, nvr, value, VariableType::Real, "fmi2SetReal");
}
fmi2Status fmi2SetInteger(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                          const fmi2Integer value[]) {
    return setValues(c, vr, nvr, value, VariableType::Integer, "fmi2SetInteger");
}
fmi2Status fmi2SetBoolean(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                          const fmi2Boolean value[]) {
    return setValues(c, vr, nvr, value, VariableType::Boolean, "fmi2SetBoolean");
}
fmi2Status fmi2SetString(fmi2Component c, const fmi2ValueReference[], size_t nvr, const fmi2String[]) {
    return noStrings(c, nvr);
}

} // extern "C"
