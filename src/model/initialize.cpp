#include "model/initialize.h"

#include "model/numeric.h"
#include "model/records.h"

namespace kestrune {

void modelInitialize() {
    initNonFinite();
    modelParameters.control.agcMagnitudeMax = infValue;
    modelParameters.control.pllIntegratorMax = infValue;
    modelParameters.control.pllOmegaMax = infValue;
    registerModel();
}

} // namespace kestrune
