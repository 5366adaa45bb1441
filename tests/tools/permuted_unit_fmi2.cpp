// The FMI 2.0 edition with its value references permuted: the library's own
// fmi2Instantiate, fmi2GetReal and fmi2SetReal, built under other names,
// behind these three, which map the permuted unit's GUID and the described
// references back to the unit's own.
#include "fmu/fmi2.h"
#include "permuted_references.h"

#include <array>

extern "C" {
fmi2InstantiateTYPE kestrune_own_fmi2Instantiate;
fmi2GetRealTYPE kestrune_own_fmi2GetReal;
fmi2SetRealTYPE kestrune_own_fmi2SetReal;
}

namespace {

// The own references of vr[0..nvr), or false when there are too many.
bool ownReferences(const fmi2ValueReference vr[], size_t nvr, std::array<fmi2ValueReference, 64> &own) {
    if (nvr > own.size() || (nvr > 0 && vr == nullptr))
        return false;
    for (size_t i = 0; i < nvr; ++i)
        own[i] = kestrune::permuted::ownReference(vr[i]);
    return true;
}

} // namespace

fmi2Component fmi2Instantiate(fmi2String instanceName, fmi2Type fmuType, fmi2String fmuGUID,
                              fmi2String fmuResourceLocation, const fmi2CallbackFunctions *functions,
                              fmi2Boolean visible, fmi2Boolean loggingOn) {
    using namespace kestrune::permuted;
    return kestrune_own_fmi2Instantiate(instanceName, fmuType,
                                        ownIdentity(fmuGUID, PERMUTED_GUID, kestrune::MODEL_GUID),
                                        fmuResourceLocation, functions, visible, loggingOn);
}

fmi2Status fmi2GetReal(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2Real value[]) {
    std::array<fmi2ValueReference, 64> own{};
    return ownReferences(vr, nvr, own) ? kestrune_own_fmi2GetReal(c, own.data(), nvr, value) : fmi2Error;
}

fmi2Status fmi2SetReal(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2Real value[]) {
    std::array<fmi2ValueReference, 64> own{};
    return ownReferences(vr, nvr, own) ? kestrune_own_fmi2SetReal(c, own.data(), nvr, value) : fmi2Error;
}
