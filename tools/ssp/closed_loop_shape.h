// Recognising our closed loop in any system: a plant component carrying the
// plant's connector names for converters 0..N-1, each wired both ways to a
// unit component of its own under the unit's names.
#pragma once

#include "ssp_system.h"

#include <string>
#include <vector>

namespace kestrune::ssp {

struct ClosedLoopShape {
    int converters = 0;
    // Per converter: the unit component and its archive.
    std::vector<std::string> unitComponents;
    std::vector<std::string> unitArchives;
    // Per converter: the values bound to its unit, under the unit's variable
    // names (the unit component's bindings, then the system's).
    std::vector<std::vector<SspParameter>> unitParameters;
    std::string plantComponent;
    std::string plantArchive;
    // The values bound to the plant, under the plant's variable names: the
    // plant component's own bindings, then the system's
    // "<plant component>.<variable>" ones, which take precedence.
    std::vector<SspParameter> plantParameters;
    double startTime = 0.0;
    double stopTime = 0.0;
    double step = 0.0; // 0 when the system carries no step annotation
};

// "" with shape filled when system is our closed loop, else why it is not.
// The system must hold exactly the plant and one unit per converter, and
// exactly the connections of the loop; the plant's archive may be any whose
// connectors carry the plant's names.
std::string recogniseClosedLoop(const SspSystem &system, ClosedLoopShape &shape);

} // namespace kestrune::ssp
