#include "model/initialize.h"

#include "model/numeric.h"
#include "model/records.h"

namespace kestrune {

void modelInitialize() {
    initNonFinite();
    modelParameters.agcMagnitudeMax = infValue;
    modelParameters.pllIntegratorMax = infValue;
    modelParameters.pllOmegaMax = infValue;
    registerModel();
}

} // namespace kestrune
