// Base steps, variable addresses and the initialization that keeps written
// inputs, shared by both FMI editions.
#include "fmu/base_steps.h"

#include "fmu/variables.h"
#include "model/initialize.h"
#include "model/numeric.h"
#include "model/records.h"
#include "model/step.h"

#include <cmath>

namespace kestrune {

void stepAndPublish(Model &model) {
    modelStep(model);
    restoreOutputs(model);
}

int runBaseSteps(Model &model, int count, double &time) {
    int i = 0;
    for (; i < count && model.record.stopRequested == 0U; ++i) {
        stepAndPublish(model);
        time = time + BASE_STEP;
    }
    return i;
}

double *realVariable(Model &model, double &time, unsigned vr) {
    if (vr < VR_CONVERTER_CURRENT_A) {
        return &model.inputs.gridVoltage[vr - VR_GRID_VOLTAGE_A];
    }
    if (vr < VR_DC_VOLTAGE) {
        return &model.inputs.converterCurrent[vr - VR_CONVERTER_CURRENT_A];
    }
    if (vr == VR_DC_VOLTAGE) {
        return &model.inputs.dcVoltage;
    }
    if (vr < VR_TIME) {
        return &model.outputs.gates[vr - VR_FIRST_GATE];
    }
    return vr == VR_TIME ? &time : &model.parameters.meanSampleTime;
}

void initializeKeepingInputs(Model &model, std::uint32_t writtenInputs) {
    double unused = 0.0;
    double written[INPUT_COUNT];
    for (unsigned k = 0; k < INPUT_COUNT; ++k) {
        written[k] = *realVariable(model, unused, k);
    }
    modelInitialize(model);
    for (unsigned k = 0; k < INPUT_COUNT; ++k) {
        if ((writtenInputs & (1U << k)) != 0U) {
            *realVariable(model, unused, k) = written[k];
        }
    }
}

} // namespace kestrune
