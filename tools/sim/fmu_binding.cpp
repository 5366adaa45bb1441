#include "fmu_binding.h"
#include "number_text.h"

#include <cmath>

namespace kestrune::sim {

const std::array<const char *, INPUT_COUNT> INPUT_NAMES{
    "gridVoltageA",      "gridVoltageB",      "gridVoltageC", "converterCurrentA",
    "converterCurrentB", "converterCurrentC", "dcVoltage"};

const std::array<const char *, GATE_COUNT> GATE_NAMES{"gateA1", "gateA2", "gateA3", "gateA4",
                                                      "gateB1", "gateB2", "gateB3", "gateB4",
                                                      "gateC1", "gateC2", "gateC3", "gateC4"};

namespace {

std::string findReal(const master::ModelDescription &description, const char *name, const char *causality,
                     fmi2ValueReference &vr) {
    const master::DescribedVariable *variable = description.find(name);
    if (variable == nullptr)
        return std::string("modelDescription.xml has no variable \"") + name + "\"";
    if (!variable->isReal || variable->causality != causality)
        return std::string("modelDescription.xml declares \"") + name + "\" as " +
               (variable->isReal ? "a real " : "a non-real ") + variable->causality + ", expected a real " +
               causality;
    vr = variable->vr;
    return "";
}

} // namespace

std::string bindVariables(const master::ModelDescription &description, master::VariableBindings &bindings) {
    const char *expected = description.isFmi3() ? INSTANTIATION_TOKEN : MODEL_GUID;
    if (description.guid != expected)
        return std::string("modelDescription.xml has ") +
               (description.isFmi3() ? "instantiation token " : "GUID ") + description.guid +
               ", but kestrune-sim drives Kestrune " + expected;
    master::VariableBindings found;
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
    if (std::string problem = findReal(description, "time", "independent", found.time); !problem.empty())
        return problem;
    bindings = found;
    return "";
}

std::string checkAgainstUnit(const master::ModelDescription &description, master::UnitSession &session) {
    if (!session.holdsInstance())
        return "the unit was not instantiated";
    for (const master::DescribedVariable &variable : description.variables) {
        if (!variable.isReal)
            continue;
        double value = 0.0;
        if (session.readReals(&variable.vr, 1, &value) != fmi2OK)
            return "modelDescription.xml disagrees with the library: \"" + variable.name +
                   "\" has value reference " + std::to_string(variable.vr) +
                   ", which the library does not know";
        const bool startKnown = variable.causality == "input" || variable.causality == "parameter";
        if (startKnown && variable.start && !(value == *variable.start))
            return "modelDescription.xml disagrees with the library: \"" + variable.name + "\" starts at " +
                   numberText(*variable.start, 17) + " in the description but at " + numberText(value, 17) +
                   " in the library";
    }
    return "";
}

} // namespace kestrune::sim
