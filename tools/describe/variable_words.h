// The words a model description writes for the attributes of the unit's
// variables: kestrune-describe writes them, and a master compares an
// archive's description with them.
#pragma once

#include "fmu/variables.h"

namespace kestrune::describe {

inline const char *causalityName(Causality c) {
    switch (c) {
    case Causality::Input:
        return "input";
    case Causality::Output:
        return "output";
    case Causality::Parameter:
        return "parameter";
    case Causality::Independent:
        return "independent";
    }
    return "local";
}

inline const char *variabilityName(Variability v) {
    switch (v) {
    case Variability::Continuous:
        return "continuous";
    case Variability::Discrete:
        return "discrete";
    case Variability::Tunable:
        return "tunable";
    }
    return "continuous";
}

inline const char *initialName(Initial i) {
    switch (i) {
    case Initial::Exact:
        return "exact";
    case Initial::Calculated:
        return "calculated";
    case Initial::None:
        break;
    }
    return nullptr;
}

} // namespace kestrune::describe
