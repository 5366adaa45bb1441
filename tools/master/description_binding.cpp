#include "description_binding.h"

#include <cmath>

namespace kestrune::master {

namespace {

std::string findReal(const ModelDescription &description, const char *name, const char *causality,
                     fmi2ValueReference &vr) {
    const DescribedVariable *variable = description.find(name);
    if (variable == nullptr)
        return std::string("modelDescription.xml has no variable \"") + name +
               "\"; a master drives the unit through its seven inputs, twelve gates and time, found by name";
    if (!variable->isReal || variable->causality != causality)
        return std::string("modelDescription.xml declares \"") + name + "\" as " +
               (variable->isReal ? "a real " : "a non-real ") + variable->causality + ", expected a real " +
               causality;
    vr = variable->vr;
    return "";
}

std::string findClock(const ModelDescription &description, const char *name, ClockBinding &clock) {
    const DescribedVariable *variable = description.find(name);
    if (variable == nullptr)
        return std::string("modelDescription.xml has no clock \"") + name +
               "\"; scheduled execution activates the unit's partitions through its base-rate and slow-rate "
               "clocks, found by name";
    if (!variable->isClock || variable->causality != "input" ||
        (variable->intervalVariability != "constant" && variable->intervalVariability != "fixed"))
        return std::string("modelDescription.xml declares \"") + name + "\" as " +
               (variable->isClock
                    ? "a " + variable->intervalVariability + " " + variable->causality + " clock"
                    : "no clock") +
               ", expected a periodic input clock (intervalVariability constant or fixed)";
    if (!variable->interval || !std::isfinite(*variable->interval) || !(*variable->interval > 0.0))
        return std::string("modelDescription.xml gives clock \"") + name +
               "\" no positive period (intervalDecimal, or intervalCounter and resolution)";
    clock = ClockBinding{variable->vr, *variable->interval};
    return "";
}

} // namespace

std::string bindVariables(const ModelDescription &description, VariableBindings &bindings, bool scheduled) {
    VariableBindings found;
    found.guid = description.guid;
    for (std::size_t i = 0; i < INPUT_NAMES.size(); ++i) {
        if (std::string problem = findReal(description, INPUT_NAMES[i], "input", found.inputs[i]);
            !problem.empty())
            return problem;
    }
    for (std::size_t i = 0; i < GATE_NAMES.size(); ++i) {
        if (std::string problem = findReal(description, GATE_NAMES[i], "output", found.gates[i]);
            !problem.empty())
            return problem;
    }
    if (std::string problem = findReal(description, TIME_NAME, "independent", found.time); !problem.empty())
        return problem;
    found.meanSampleTime.reset();
    if (const DescribedVariable *parameter = description.find(MEAN_SAMPLE_TIME_NAME);
        parameter != nullptr && parameter->isReal && parameter->causality == "parameter")
        found.meanSampleTime = parameter->vr;

    found.baseRateClock.reset();
    found.slowRateClock.reset();
    if (scheduled) {
        ClockBinding base;
        ClockBinding slow;
        if (std::string problem = findClock(description, BASE_RATE_CLOCK_NAME, base); !problem.empty())
            return problem;
        if (std::string problem = findClock(description, SLOW_RATE_CLOCK_NAME, slow); !problem.empty())
            return problem;
        // The scheduler counts base-rate ticks and activates the slow rate on
        // every ratio-th: the slow period must be a whole number of them.
        const double ratio = std::nearbyint(slow.period / base.period);
        if (!(ratio >= 1.0 && ratio < 2147483648.0) ||
            !(std::fabs(slow.period - ratio * base.period) <= base.period * 1e-6))
            return std::string("modelDescription.xml gives clock \"") + SLOW_RATE_CLOCK_NAME +
                   "\" a period that is no whole number of \"" + BASE_RATE_CLOCK_NAME + "\" periods";
        found.baseRateClock = base;
        found.slowRateClock = slow;
    }
    bindings = found;
    return "";
}

} // namespace kestrune::master
