// Reading and writing the variables of an FMI 3.0 instance. Every variable
// is a scalar Float64 of the list in fmu/variables.h; the other types have
// no variable.
#include "fmu/base_steps.h"
#include "fmu/fmi3/instance.h"
#include "fmu/variables.h"

#include <cmath>

namespace kestrune::fmi3 {

namespace {

// Checks the arrays and every value reference before anything is read or
// written; logs and returns false on the first problem.
bool checkReferences(const Instance *instance, const char *function, const fmi3ValueReference vr[],
                     size_t nvr, const void *values, size_t nValues) {
    if (nvr != 0 && (vr == nullptr || values == nullptr)) {
        refuse(instance, function, "null value-reference or value array");
        return false;
    }
    if (nValues != nvr) {
        logMessage(instance, fmi3Error, LOG_STATUS_ERROR,
                   "%s: nValues is %zu but the %zu value references name scalar variables", function, nValues,
                   nvr);
        return false;
    }
    for (size_t i = 0; i < nvr; ++i) {
        if (vr[i] >= static_cast<fmi3ValueReference>(VARIABLE_COUNT)) {
            logMessage(instance, fmi3Error, LOG_STATUS_ERROR, "%s: value reference %u is not a variable",
                       function, static_cast<unsigned>(vr[i]));
            return false;
        }
    }
    return true;
}

// Why the master may not write value vr now, or null when it may.
const char *writeRefusal(const Instance *instance, fmi3ValueReference vr, double value) {
    const VariableInfo &variable = VARIABLES[vr];
    if (variable.causality == Causality::Output || variable.causality == Causality::Independent) {
        return "is not an input or a parameter";
    }
    if (instance->mode == Mode::Terminated || instance->mode == Mode::Failed) {
        return "cannot be written after termination or a failed initialization";
    }
    if (vr == VR_MEAN_SAMPLE_TIME && !(std::isfinite(value) && value > 0.0)) {
        return "must be finite and positive";
    }
    return nullptr;
}

fmi3Status noVariablesOfType(fmi3Instance handle, const char *function, size_t nvr) {
    Instance *instance = liveInstance(handle);
    if (instance == nullptr) {
        return fmi3Error;
    }
    if (nvr == 0) {
        return fmi3OK;
    }
    return refuse(instance, function,
                  "this unit has no variable of this type; all its variables are Float64");
}

} // namespace

} // namespace kestrune::fmi3

extern "C" {

fmi3Status fmi3GetFloat64(fmi3Instance handle, const fmi3ValueReference vr[], size_t nvr,
                          fmi3Float64 values[], size_t nValues) {
    using namespace kestrune;
    using namespace kestrune::fmi3;
    Instance *instance = liveInstance(handle);
    if (instance == nullptr) {
        return fmi3Error;
    }
    if (!checkReferences(instance, "fmi3GetFloat64", vr, nvr, values, nValues)) {
        return fmi3Error;
    }
    for (size_t i = 0; i < nvr; ++i) {
        values[i] = *realVariable(instance->model, instance->time, vr[i]);
        logMessage(instance, fmi3OK, LOG_ACCESS, "fmi3GetFloat64: %s = %.17g", VARIABLES[vr[i]].name,
                   values[i]);
    }
    return fmi3OK;
}

fmi3Status fmi3SetFloat64(fmi3Instance handle, const fmi3ValueReference vr[], size_t nvr,
                          const fmi3Float64 values[], size_t nValues) {
    using namespace kestrune;
    using namespace kestrune::fmi3;
    Instance *instance = liveInstance(handle);
    if (instance == nullptr) {
        return fmi3Error;
    }
    if (!checkReferences(instance, "fmi3SetFloat64", vr, nvr, values, nValues)) {
        return fmi3Error;
    }
    // Nothing is written unless every element may be.
    for (size_t i = 0; i < nvr; ++i) {
        if (const char *refusal = writeRefusal(instance, vr[i], values[i]); refusal != nullptr) {
            logMessage(instance, fmi3Error, LOG_STATUS_ERROR,
                       "fmi3SetFloat64: %s (value reference %u) %s; %.17g refused", VARIABLES[vr[i]].name,
                       static_cast<unsigned>(vr[i]), refusal, values[i]);
            return fmi3Error;
        }
    }
    for (size_t i = 0; i < nvr; ++i) {
        *realVariable(instance->model, instance->time, vr[i]) = values[i];
        if (vr[i] < static_cast<fmi3ValueReference>(INPUT_COUNT)) {
            instance->writtenInputs |= 1U << vr[i];
        }
        logMessage(instance, fmi3OK, LOG_ACCESS, "fmi3SetFloat64: %s = %.17g", VARIABLES[vr[i]].name,
                   values[i]);
    }
    return fmi3OK;
}

#define KESTRUNE_NO_VARIABLES(Name, Type)                                                                    \
    fmi3Status fmi3Get##Name(fmi3Instance handle, const fmi3ValueReference[], size_t nvr, Type[], size_t) {  \
        return kestrune::fmi3::noVariablesOfType(handle, "fmi3Get" #Name, nvr);                              \
    }                                                                                                        \
    fmi3Status fmi3Set##Name(fmi3Instance handle, const fmi3ValueReference[], size_t nvr, const Type[],      \
                             size_t) {                                                                       \
        return kestrune::fmi3::noVariablesOfType(handle, "fmi3Set" #Name, nvr);                              \
    }
KESTRUNE_NO_VARIABLES(Float32, fmi3Float32)
KESTRUNE_NO_VARIABLES(Int8, fmi3Int8)
KESTRUNE_NO_VARIABLES(UInt8, fmi3UInt8)
KESTRUNE_NO_VARIABLES(Int16, fmi3Int16)
KESTRUNE_NO_VARIABLES(UInt16, fmi3UInt16)
KESTRUNE_NO_VARIABLES(Int32, fmi3Int32)
KESTRUNE_NO_VARIABLES(UInt32, fmi3UInt32)
KESTRUNE_NO_VARIABLES(Int64, fmi3Int64)
KESTRUNE_NO_VARIABLES(UInt64, fmi3UInt64)
KESTRUNE_NO_VARIABLES(Boolean, fmi3Boolean)
KESTRUNE_NO_VARIABLES(String, fmi3String)
#undef KESTRUNE_NO_VARIABLES

fmi3Status fmi3GetBinary(fmi3Instance handle, const fmi3ValueReference[], size_t nvr, size_t[], fmi3Binary[],
                         size_t) {
    return kestrune::fmi3::noVariablesOfType(handle, "fmi3GetBinary", nvr);
}

fmi3Status fmi3SetBinary(fmi3Instance handle, const fmi3ValueReference[], size_t nvr, const size_t[],
                         const fmi3Binary[], size_t) {
    return kestrune::fmi3::noVariablesOfType(handle, "fmi3SetBinary", nvr);
}

} // extern "C"
