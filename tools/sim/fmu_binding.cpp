#include "fmu_binding.h"
#include "common/number_text.h"

#include <cmath>

namespace kestrune::sim {

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
