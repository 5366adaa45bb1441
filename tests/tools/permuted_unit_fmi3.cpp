// The FMI 3.0 edition with its value references permuted: the library's own
// fmi3GetFloat64, fmi3SetFloat64 and fmi3ActivateModelPartition, built under
// other names, behind these three, which map the described references (of
// variables and clocks) back to the unit's own.
#include "fmu/fmi3/fmi3.h"
#include "permuted_references.h"

#include <array>

extern "C" {
fmi3GetFloat64TYPE kestrune_own_fmi3GetFloat64;
fmi3SetFloat64TYPE kestrune_own_fmi3SetFloat64;
fmi3ActivateModelPartitionTYPE kestrune_own_fmi3ActivateModelPartition;
}

namespace {

// The own references of vr[0..nvr), or false when there are too many.
bool ownReferences(const fmi3ValueReference vr[], size_t nvr, std::array<fmi3ValueReference, 64> &own) {
    if (nvr > own.size() || (nvr > 0 && vr == nullptr))
        return false;
    for (size_t i = 0; i < nvr; ++i)
        own[i] = kestrune::permuted::ownReference(vr[i]);
    return true;
}

} // namespace

fmi3Status fmi3GetFloat64(fmi3Instance instance, const fmi3ValueReference vr[], size_t nvr,
                          fmi3Float64 values[], size_t nValues) {
    std::array<fmi3ValueReference, 64> own{};
    return ownReferences(vr, nvr, own)
               ? kestrune_own_fmi3GetFloat64(instance, own.data(), nvr, values, nValues)
               : fmi3Error;
}

fmi3Status fmi3SetFloat64(fmi3Instance instance, const fmi3ValueReference vr[], size_t nvr,
                          const fmi3Float64 values[], size_t nValues) {
    std::array<fmi3ValueReference, 64> own{};
    return ownReferences(vr, nvr, own)
               ? kestrune_own_fmi3SetFloat64(instance, own.data(), nvr, values, nValues)
               : fmi3Error;
}

fmi3Status fmi3ActivateModelPartition(fmi3Instance instance, fmi3ValueReference clockReference,
                                      fmi3Float64 activationTime) {
    return kestrune_own_fmi3ActivateModelPartition(instance, kestrune::permuted::ownReference(clockReference),
                                                   activationTime);
}
