// Reading and writing the unit's variables by value reference. Every variable
// is a real; nothing is computed on access.
#include "fmu/base_steps.h"
#include "fmu/instance.h"
#include "fmu/variables.h"
#include "model/records.h"

namespace kestrune {

// The table follows the variable list that modelDescription.xml is generated
// from (fmu/variables.h).
static_assert(REAL_VARIABLE_COUNT == VARIABLE_COUNT);
static_assert(FIRST_OUTPUT_VR == static_cast<int>(VR_FIRST_GATE) && OUTPUT_COUNT == GATE_COUNT);
static_assert(VR_GRID_VOLTAGE_A == 0 && VR_DC_VOLTAGE == INPUT_COUNT - 1);

void fillRealVariableTable(Fmu2Instance *instance) {
    for (unsigned vr = 0; vr < static_cast<unsigned>(REAL_VARIABLE_COUNT); ++vr) {
        instance->realVariables[vr] = realVariable(*instance->model, instance->time, vr);
    }
}

namespace {

// The instance behind c when the arrays can hold nvr elements; null, after
// reporting what is wrong, otherwise.
Fmu2Instance *accessTarget(fmi2Component c, const void *vr, std::size_t nvr, const void *value) {
    Fmu2Instance *instance = liveInstance(c);
    if (instance == nullptr) {
        return nullptr;
    }
    if (nvr != 0 && (vr == nullptr || value == nullptr)) {
        logError(instance, "invalid memory access");
        return nullptr;
    }
    return instance;
}

// This unit publishes no integer, boolean or string variable: every value
// reference of those types is out of range.
fmi2Status noVariablesOfType(fmi2Component c, const void *vr, std::size_t nvr, const void *value) {
    Fmu2Instance *instance = accessTarget(c, vr, nvr, value);
    if (instance == nullptr) {
        return fmi2Error;
    }
    if (nvr != 0) {
        logError(instance, "valueReference out of range");
        return fmi2Error;
    }
    return fmi2OK;
}

} // namespace

} // namespace kestrune

using kestrune::Fmu2Instance;

extern "C" {

fmi2Status fmi2GetReal(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2Real value[]) {
    using namespace kestrune;
    Fmu2Instance *instance = accessTarget(c, vr, nvr, value);
    if (instance == nullptr) {
        return fmi2Error;
    }
    // All references are checked before anything is read.
    for (std::size_t i = 0; i < nvr; ++i) {
        if (vr[i] >= REAL_VARIABLE_COUNT) {
            logError(instance, "valueReference out of range");
            return fmi2Error;
        }
    }
    for (std::size_t i = 0; i < nvr; ++i) {
        value[i] = *instance->realVariables[vr[i]];
        if (instance->loggingOn) {
            logInfo(instance, "getReal vr:%d, value:%lf", static_cast<int>(vr[i]), value[i]);
        }
    }
    return fmi2OK;
}

fmi2Status fmi2SetReal(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2Real value[]) {
    using namespace kestrune;
    Fmu2Instance *instance = accessTarget(c, vr, nvr, value);
    if (instance == nullptr) {
        return fmi2Error;
    }
    // Elements before a bad reference stay written.
    for (std::size_t i = 0; i < nvr; ++i) {
        if (vr[i] >= REAL_VARIABLE_COUNT) {
            logError(instance, "valueReference out of range");
            return fmi2Error;
        }
        double *slot = instance->realVariables[vr[i]];
        if (!(value[i] == *slot)) {
            *slot = value[i];
        }
        if (vr[i] < static_cast<fmi2ValueReference>(INPUT_COUNT)) {
            instance->writtenInputs |= 1U << vr[i];
        }
        if (instance->loggingOn) {
            logInfo(instance, "setReal vr:%d, value:%lf", static_cast<int>(vr[i]), value[i]);
        }
    }
    return fmi2OK;
}

fmi2Status fmi2GetInteger(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2Integer value[]) {
    return kestrune::noVariablesOfType(c, vr, nvr, value);
}

fmi2Status fmi2SetInteger(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                          const fmi2Integer value[]) {
    return kestrune::noVariablesOfType(c, vr, nvr, value);
}

fmi2Status fmi2GetBoolean(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2Boolean value[]) {
    return kestrune::noVariablesOfType(c, vr, nvr, value);
}

fmi2Status fmi2SetBoolean(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                          const fmi2Boolean value[]) {
    return kestrune::noVariablesOfType(c, vr, nvr, value);
}

fmi2Status fmi2GetString(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2String value[]) {
    return kestrune::noVariablesOfType(c, vr, nvr, value);
}

fmi2Status fmi2SetString(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                         const fmi2String value[]) {
    return kestrune::noVariablesOfType(c, vr, nvr, value);
}

} // extern "C"
