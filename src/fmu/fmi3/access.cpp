// Reading and writing the variables of an FMI 3.0 instance. Every variable
// is a scalar Float64 of the list in fmu/variables.h; the other types have
// no variable.
#include "fmu/fmi3/call_rules.h"
#include "fmu/fmi3/instance.h"
#include "fmu/variables.h"

#include <cstdint>

namespace kestrune::fmi3 {

namespace {

static_assert(VARIABLE_COUNT <= 32, "a call's value references are gathered as bits of 32");
constexpr std::uint32_t INPUT_BITS = (1U << INPUT_COUNT) - 1U;
static_assert(INPUT_COUNT == 7 && VARIABLES[INPUT_COUNT - 1].causality == Causality::Input &&
                  VARIABLES[INPUT_COUNT].causality != Causality::Input,
              "the inputs are the value references below INPUT_COUNT");

// Checks the arrays and every value reference before anything is read or
// written; logs and returns false on the first problem. On success, bit k
// of *named is set when value reference k is among vr.
[[gnu::always_inline]] inline bool checkReferences(const Instance *instance, const char *function,
                                                   const fmi3ValueReference vr[], size_t nvr,
                                                   const void *values, size_t nValues, std::uint32_t *named) {
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
    std::uint32_t bits = 0;
    for (size_t i = 0; i < nvr; ++i) {
        if (vr[i] >= static_cast<fmi3ValueReference>(VARIABLE_COUNT)) {
            logMessage(instance, fmi3Error, LOG_STATUS_ERROR, "%s: value reference %u is not a variable",
                       function, static_cast<unsigned>(vr[i]));
            return false;
        }
        bits |= 1U << vr[i];
    }
    *named = bits;
    return true;
}

// Whether the instance takes writes at all: not after termination or a
// failed initialization.
bool takesWrites(const Instance *instance) {
    return instance->mode != Mode::Terminated && instance->mode != Mode::Failed;
}

// Why the master may not write value vr now, or null when it may.
const char *writeRefusal(const Instance *instance, fmi3ValueReference vr, double value) {
    const VariableInfo &variable = VARIABLES[vr];
    if (variable.causality == Causality::Output || variable.causality == Causality::Independent) {
        return "is not an input or a parameter";
    }
    if (!takesWrites(instance)) {
        return "cannot be written after termination or a failed initialization";
    }
    if (vr == VR_MEAN_SAMPLE_TIME && !validMeanSampleTime(value)) {
        return "must be finite and positive";
    }
    return nullptr;
}

// Checks every element of a write in order, before any is written: the
// first that may not be written is refused. Called only when the call names
// more than inputs or the instance no longer takes writes.
bool checkWrites(const Instance *instance, const fmi3ValueReference vr[], const double values[], size_t nvr) {
    for (size_t i = 0; i < nvr; ++i) {
        if (const char *refusal = writeRefusal(instance, vr[i], values[i]); refusal != nullptr) {
            logMessage(instance, fmi3Error, LOG_STATUS_ERROR,
                       "fmi3SetFloat64: %s (value reference %u) %s; %.17g refused", VARIABLES[vr[i]].name,
                       static_cast<unsigned>(vr[i]), refusal, values[i]);
            return false;
        }
    }
    return true;
}

fmi3Status noVariablesOfType(fmi3Instance handle, Call call, size_t nvr) {
    Instance *instance = enterCall(handle, call);
    if (instance == nullptr) {
        return fmi3Error;
    }
    if (nvr == 0) {
        return fmi3OK;
    }
    return refuse(instance, ruleOf(call).function,
                  "this unit has no variable of this type; all its variables are Float64");
}

} // namespace

} // namespace kestrune::fmi3

extern "C" {

fmi3Status fmi3GetFloat64(fmi3Instance handle, const fmi3ValueReference vr[], size_t nvr,
                          fmi3Float64 values[], size_t nValues) {
    using namespace kestrune;
    using namespace kestrune::fmi3;
    Instance *instance = enterCall(handle, Call::GetFloat64);
    std::uint32_t named = 0;
    if (instance == nullptr ||
        !checkReferences(instance, "fmi3GetFloat64", vr, nvr, values, nValues, &named)) {
        return fmi3Error;
    }
    for (size_t i = 0; i < nvr; ++i) {
        values[i] = *instance->variables[vr[i]];
    }
    if (logs(instance, LOG_ACCESS)) {
        for (size_t i = 0; i < nvr; ++i) {
            sendMessage(instance, fmi3OK, LOG_ACCESS, "fmi3GetFloat64: %s = %.17g", VARIABLES[vr[i]].name,
                        values[i]);
        }
    }
    return fmi3OK;
}

fmi3Status fmi3SetFloat64(fmi3Instance handle, const fmi3ValueReference vr[], size_t nvr,
                          const fmi3Float64 values[], size_t nValues) {
    using namespace kestrune;
    using namespace kestrune::fmi3;
    Instance *instance = enterCall(handle, Call::SetFloat64);
    std::uint32_t named = 0;
    if (instance == nullptr ||
        !checkReferences(instance, "fmi3SetFloat64", vr, nvr, values, nValues, &named)) {
        return fmi3Error;
    }
    // Nothing is written unless every element may be. Inputs take any value
    // until termination: a write of inputs alone is checked once for the
    // whole call.
    if (((named & ~INPUT_BITS) != 0U || !takesWrites(instance)) && !checkWrites(instance, vr, values, nvr)) {
        return fmi3Error;
    }
    for (size_t i = 0; i < nvr; ++i) {
        *instance->variables[vr[i]] = values[i];
    }
    instance->writtenInputs |= named & INPUT_BITS;
    if (logs(instance, LOG_ACCESS)) {
        for (size_t i = 0; i < nvr; ++i) {
            sendMessage(instance, fmi3OK, LOG_ACCESS, "fmi3SetFloat64: %s = %.17g", VARIABLES[vr[i]].name,
                        values[i]);
        }
    }
    return fmi3OK;
}

#define KESTRUNE_NO_VARIABLES(Name, Type)                                                                    \
    fmi3Status fmi3Get##Name(fmi3Instance handle, const fmi3ValueReference[], size_t nvr, Type[], size_t) {  \
        return kestrune::fmi3::noVariablesOfType(handle, kestrune::fmi3::Call::Get##Name, nvr);              \
    }                                                                                                        \
    fmi3Status fmi3Set##Name(fmi3Instance handle, const fmi3ValueReference[], size_t nvr, const Type[],      \
                             size_t) {                                                                       \
        return kestrune::fmi3::noVariablesOfType(handle, kestrune::fmi3::Call::Set##Name, nvr);              \
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
    return kestrune::fmi3::noVariablesOfType(handle, kestrune::fmi3::Call::GetBinary, nvr);
}

fmi3Status fmi3SetBinary(fmi3Instance handle, const fmi3ValueReference[], size_t nvr, const size_t[],
                         const fmi3Binary[], size_t) {
    return kestrune::fmi3::noVariablesOfType(handle, kestrune::fmi3::Call::SetBinary, nvr);
}

} // extern "C"
