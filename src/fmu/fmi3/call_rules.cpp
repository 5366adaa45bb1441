// The refusals of the table of where each FMI 3.0 function may be called.
#include "fmu/fmi3/call_rules.h"

namespace kestrune::fmi3 {

fmi3Status refuseCall(const Instance *instance, Call call) {
    const CallRule &rule = ruleOf(call);
    const std::uint8_t madeFor = instance->schedule.active ? SCHEDULED_EXECUTION : CO_SIMULATION;
    if ((rule.interfaces & madeFor) == 0U) {
        return refuse(instance, rule.function, rule.interfaceRefusal);
    }
    if (rule.modeRefusal != nullptr) {
        return refuse(instance, rule.function, rule.modeRefusal);
    }
    logMessage(instance, fmi3Error, LOG_STATUS_ERROR, "%s: not allowed in %s%s", rule.function,
               modeName(instance->mode), rule.modeHint);
    return fmi3Error;
}

} // namespace kestrune::fmi3
