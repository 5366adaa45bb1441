// The FMI 3.0 edition with its value references permuted: the library's own
// instantiation functions, fmi3GetFloat64, fmi3SetFloat64 and
// fmi3ActivateModelPartition, built under other names, behind these, which
// map the permuted unit's instantiation token and the described references
// (of variables and clocks) back to the unit's own.
#include "fmu/fmi3/fmi3.h"
#include "permuted_references.h"

#include <array>

extern "C" {
fmi3InstantiateCoSimulationTYPE kestrune_own_fmi3InstantiateCoSimulation;
fmi3InstantiateScheduledExecutionTYPE kestrune_own_fmi3InstantiateScheduledExecution;
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

const char *ownToken(fmi3String token) {
    return kestrune::permuted::ownIdentity(token, kestrune::permuted::PERMUTED_TOKEN,
                                           kestrune::INSTANTIATION_TOKEN);
}

} // namespace

fmi3Instance fmi3InstantiateCoSimulation(fmi3String instanceName, fmi3String instantiationToken,
                                         fmi3String resourcePath, fmi3Boolean visible, fmi3Boolean loggingOn,
                                         fmi3Boolean eventModeUsed, fmi3Boolean earlyReturnAllowed,
                                         const fmi3ValueReference requiredIntermediateVariables[],
                                         size_t nRequiredIntermediateVariables,
                                         fmi3InstanceEnvironment instanceEnvironment,
                                         fmi3LogMessageCallback logMessage,
                                         fmi3IntermediateUpdateCallback intermediateUpdate) {
    return kestrune_own_fmi3InstantiateCoSimulation(
        instanceName, ownToken(instantiationToken), resourcePath, visible, loggingOn, eventModeUsed,
        earlyReturnAllowed, requiredIntermediateVariables, nRequiredIntermediateVariables,
        instanceEnvironment, logMessage, intermediateUpdate);
}

fmi3Instance fmi3InstantiateScheduledExecution(
    fmi3String instanceName, fmi3String instantiationToken, fmi3String resourcePath, fmi3Boolean visible,
    fmi3Boolean loggingOn, fmi3InstanceEnvironment instanceEnvironment, fmi3LogMessageCallback logMessage,
    fmi3ClockUpdateCallback clockUpdate, fmi3LockPreemptionCallback lockPreemption,
    fmi3UnlockPreemptionCallback unlockPreemption) {
    return kestrune_own_fmi3InstantiateScheduledExecution(
        instanceName, ownToken(instantiationToken), resourcePath, visible, loggingOn, instanceEnvironment,
        logMessage, clockUpdate, lockPreemption, unlockPreemption);
}

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
