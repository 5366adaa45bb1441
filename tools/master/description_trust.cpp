#include "description_trust.h"

#include "describe/check.h"
#include "describe/variable_words.h"
#include "fmu/variables.h"
#include "identity.h"
#include "variable_bindings.h"

#include <map>
#include <optional>
#include <sstream>
#include <vector>

namespace kestrune::master {

namespace {

using describe::causalityName;

// One variable as the unit has it in the edition a description offers.
struct UnitVariable {
    std::string name;
    fmi2ValueReference vr = 0;
    std::string causality;
    bool isClock = false;
    std::optional<fmi2ValueReference> clockedBy; // scheduled execution's clock of the variable
};

// The unit's variables as kestrune-describe writes them: the 21 real
// variables of fmu/variables.h; in scheduled execution also the two input
// clocks, with the measurements and the gates clocked by the base rate's.
std::vector<UnitVariable> unitVariables(bool scheduled) {
    std::vector<UnitVariable> unit;
    for (const VariableInfo &v : VARIABLES) {
        UnitVariable u{v.name, v.vr, causalityName(v.causality), false, std::nullopt};
        if (scheduled && (v.causality == Causality::Input || v.causality == Causality::Output))
            u.clockedBy = VR_BASE_RATE_CLOCK;
        unit.push_back(u);
    }
    if (scheduled) {
        unit.push_back({BASE_RATE_CLOCK_NAME, VR_BASE_RATE_CLOCK, "input", true, std::nullopt});
        unit.push_back({SLOW_RATE_CLOCK_NAME, VR_SLOW_RATE_CLOCK, "input", true, std::nullopt});
    }
    return unit;
}

// The value references a clocks= list names; none for a list that is no
// list of whole numbers.
std::vector<unsigned long> referencesIn(const std::string &list) {
    std::vector<unsigned long> references;
    std::istringstream in(list);
    for (unsigned long vr = 0; in >> vr;)
        references.push_back(vr);
    return in.eof() ? references : std::vector<unsigned long>{};
}

// The variables a master binds by name each need a value reference of their
// own: two that shared one would read and write one value for both, and the
// unit would run on inputs or give gates that are not what they claim.
// (FMI 2.0 lets variables of one type share one as aliases; of the bound
// ones, only reals count, as value references are per type there.)
std::string sharedBoundReference(const ModelDescription &description) {
    std::vector<const char *> bound(INPUT_NAMES.begin(), INPUT_NAMES.end());
    bound.insert(bound.end(), GATE_NAMES.begin(), GATE_NAMES.end());
    bound.insert(bound.end(), {TIME_NAME, MEAN_SAMPLE_TIME_NAME, BASE_RATE_CLOCK_NAME, SLOW_RATE_CLOCK_NAME});
    std::map<fmi2ValueReference, const char *> seen;
    for (const char *name : bound) {
        const DescribedVariable *v = description.find(name);
        if (v == nullptr || (!description.isFmi3() && !v->isReal))
            continue;
        if (const auto [at, fresh] = seen.emplace(v->vr, name); !fresh)
            return std::string("the bound variables ") + at->second + " and " + name +
                   " share value reference " + std::to_string(v->vr) +
                   "; a master reads and writes each through a value reference of its own";
    }
    return "";
}

// The first difference between a description that claims to be the unit's
// and the unit's own variables, or "".
std::string disagreement(const ModelDescription &description, const std::string &claim) {
    const bool scheduled = description.isFmi3() && description.offersScheduledExecution();
    const std::vector<UnitVariable> unit = unitVariables(scheduled);
    const std::string says = "carries " + claim + " but ";
    for (const UnitVariable &u : unit) {
        const DescribedVariable *v = description.find(u.name);
        if (v == nullptr)
            return says + "does not describe " + u.name + " (value reference " + std::to_string(u.vr) +
                   "), which the unit has";
        if (v->vr != u.vr)
            return says + "describes " + u.name + " with value reference " + std::to_string(v->vr) +
                   ", where the unit has " + std::to_string(u.vr);
        if (v->causality != u.causality)
            return says + "describes " + u.name + " as " + v->causality + ", where the unit has it as " +
                   u.causality;
        if (u.isClock ? !v->isClock : !v->isReal)
            return says + "describes " + u.name + " as no " + (u.isClock ? "clock" : "real variable") +
                   ", where the unit has one";
        const std::vector<unsigned long> by =
            v->clocks ? referencesIn(*v->clocks) : std::vector<unsigned long>{};
        const bool agrees = u.clockedBy ? by.size() == 1 && by.front() == *u.clockedBy : !v->clocks;
        if (!agrees)
            return says + "describes " + u.name + " as " +
                   (v->clocks ? "clocked by \"" + *v->clocks + "\"" : std::string("unclocked")) +
                   ", where the unit clocks it " +
                   (u.clockedBy ? "by " + std::string(BASE_RATE_CLOCK_NAME) + " (" +
                                      std::to_string(*u.clockedBy) + ")"
                                : std::string("by none"));
    }
    for (const DescribedVariable &v : description.variables) {
        bool known = false;
        for (const UnitVariable &u : unit)
            known = known || u.name == v.name;
        if (!known)
            return says + "describes a variable " + v.name + " (value reference " + std::to_string(v.vr) +
                   "), which the unit does not have";
    }
    return "";
}

} // namespace

std::string distrustDescription(const std::string &xml, const ModelDescription &description) {
    if (const std::vector<std::string> problems = describe::checkDescription(xml); !problems.empty())
        return problems.front() +
               (problems.size() > 1 ? " (and " + std::to_string(problems.size() - 1) + " more)" : "");
    if (std::string problem = sharedBoundReference(description); !problem.empty())
        return problem;
    // An archive may carry the unit's identity only with the unit's own
    // variables: the library accepts the identity and then runs whatever
    // the description's value references make of it.
    if (description.guid == MODEL_GUID)
        return disagreement(description, "Kestrune's GUID");
    if (description.guid == INSTANTIATION_TOKEN)
        return disagreement(description, "Kestrune's instantiation token");
    return "";
}

} // namespace kestrune::master
