#include "plant_fmu_parameters.h"

#include "common/number_text.h"
#include "fmu_variables.h"
#include "plant/parameter_rules.h"
#include "plant_fmu/plant_layout.h"

#include <cmath>
#include <cstdio>
#include <map>

namespace kestrune::sim {

namespace {

using Type = PlantFmuParameter::Type;

std::string tooMany(std::size_t count, const char *what, int most, const std::string &where) {
    return where + " has " + std::to_string(count) + " " + what + ", more than the plant FMU takes (" +
           std::to_string(most) + ")";
}

constexpr const char *CONVERTER_REAL_KEYS[] = {"inductance",  "resistance", "turnsRatio",
                                               "capacitance", "loadPower",  "precharge"};
constexpr const char *GRID_REAL_KEYS[] = {"gridPhasePeak", "gridFrequency", "gridAngle"};

std::string converterPrefix(int j) {
    return "converter" + std::to_string(j) + ".";
}
std::string eventPrefix(int n) {
    return "event" + std::to_string(n) + ".";
}

// Every parameter the plant FMU has, by name, with its type.
const std::map<std::string, Type> &plantParameterTypes() {
    static const std::map<std::string, Type> types = [] {
        using namespace plantfmu;
        std::map<std::string, Type> all{{"grid.scr", Type::Real},
                                        {"grid.xOverR", Type::Real},
                                        {"converters", Type::Integer},
                                        {"events", Type::Integer}};
        for (const char *key : GRID_REAL_KEYS)
            all[key] = Type::Real;
        for (int j = 0; j < MAX_CONVERTERS; ++j) {
            for (const char *key : CONVERTER_REAL_KEYS)
                all[converterPrefix(j) + key] = Type::Real;
            all[converterPrefix(j) + "splitLink"] = Type::Boolean;
        }
        for (int n = 1; n <= MAX_EVENTS; ++n) {
            const std::string prefix = eventPrefix(n);
            for (const char *field : {"time", "value", "target"})
                all[prefix + field] = Type::Real;
            for (const char *field : {"kind", "converter", "dipType", "specialPhase", "points", "harmonics"})
                all[prefix + field] = Type::Integer;
            for (int k = 1; k <= MAX_POINTS; ++k)
                for (const char *field : {".time", ".depth"})
                    all[prefix + "point" + std::to_string(k) + field] = Type::Real;
            for (int k = 1; k <= MAX_HARMONICS; ++k) {
                const std::string harmonic = prefix + "harmonic" + std::to_string(k);
                all[harmonic + ".order"] = Type::Integer;
                all[harmonic + ".magnitude"] = Type::Real;
                all[harmonic + ".phase"] = Type::Real;
            }
        }
        return all;
    }();
    return types;
}

// The bound values by name, the later of two for one name winning, read
// with their defaults and checked as whole numbers in a range.
class BoundValues {
  public:
    BoundValues(const std::vector<PlantFmuParameter> &starts,
                const std::vector<PlantFmuParameter> &parameters) {
        for (const std::vector<PlantFmuParameter> *list : {&starts, &parameters})
            for (const PlantFmuParameter &p : *list)
                values_[p.name] = p.value;
    }

    double real(const std::string &name, double fallback) {
        const auto it = values_.find(name);
        if (it == values_.end())
            return fallback;
        if (!std::isfinite(it->second))
            fail(name + " is " + numberText(it->second) + ", not a finite number");
        return it->second;
    }

    int whole(const std::string &name, int fallback, int low, int high) {
        const auto it = values_.find(name);
        if (it == values_.end())
            return fallback;
        const double value = it->second;
        if (!(value >= low && value <= high) || value != std::floor(value)) {
            char text[32];
            std::snprintf(text, sizeof text, "%.17g", value);
            fail(name + " is " + text + "; the plant takes a whole number from " + std::to_string(low) +
                 " to " + std::to_string(high));
            return fallback;
        }
        return static_cast<int>(value);
    }

    const std::string &problem() const { return problem_; }

  private:
    void fail(std::string message) {
        if (problem_.empty())
            problem_ = std::move(message);
    }

    std::map<std::string, double> values_;
    std::string problem_;
};

// Sets one of the scenario's parameters from its value in the units the
// scenario writes it in, through the same path as the command line's --set.
void setValue(plant::PlantParameters &parameters, const char *key, double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    setParameter(parameters, key, text);
}

} // namespace

std::string plantFmuParameters(const Scenario &scenario, std::vector<PlantFmuParameter> &out) {
    using namespace plantfmu;
    out.clear();
    const std::size_t count = converterCount(scenario);
    if (count > static_cast<std::size_t>(MAX_CONVERTERS))
        return tooMany(count, "converters", MAX_CONVERTERS, "the scenario");
    if (scenario.events.size() > static_cast<std::size_t>(MAX_EVENTS))
        return tooMany(scenario.events.size(), "events", MAX_EVENTS, "the scenario");
    for (std::size_t i = 0; i < scenario.events.size(); ++i) {
        const ScenarioEvent &e = scenario.events[i];
        const std::string where = "events[" + std::to_string(i) + "]";
        if (e.profile.size() > static_cast<std::size_t>(MAX_POINTS))
            return tooMany(e.profile.size(), "profile points", MAX_POINTS, where);
        if (e.harmonics.size() > static_cast<std::size_t>(MAX_HARMONICS))
            return tooMany(e.harmonics.size(), "harmonics", MAX_HARMONICS, where);
    }

    auto add = [&out](std::string name, Type type, double value) {
        out.push_back({std::move(name), type, value});
    };
    for (const char *key : {"gridPhasePeak", "gridFrequency", "gridAngle"})
        add(key, Type::Real, parameterValue(scenario.parameters, key));
    add("grid.scr", Type::Real, scenario.grid.scr.value_or(0.0));
    add("grid.xOverR", Type::Real, scenario.grid.xOverR);
    add("converters", Type::Integer, static_cast<double>(count));
    const std::vector<plant::PlantParameters> converters = converterParameters(scenario);
    for (std::size_t j = 0; j < converters.size(); ++j) {
        const std::string prefix = "converter" + std::to_string(j) + ".";
        for (const char *key :
             {"inductance", "resistance", "turnsRatio", "capacitance", "loadPower", "precharge"})
            add(prefix + key, Type::Real, parameterValue(converters[j], key));
        add(prefix + "splitLink", Type::Boolean, converters[j].splitLink ? 1.0 : 0.0);
    }
    add("events", Type::Integer, static_cast<double>(scenario.events.size()));
    for (std::size_t i = 0; i < scenario.events.size(); ++i) {
        const ScenarioEvent &e = scenario.events[i];
        const std::string prefix = "event" + std::to_string(i + 1) + ".";
        add(prefix + "time", Type::Real, e.time);
        add(prefix + "kind", Type::Integer, static_cast<double>(e.kind) + 1.0);
        add(prefix + "value", Type::Real, e.value);
        add(prefix + "converter", Type::Integer, e.converter);
        add(prefix + "dipType", Type::Integer, static_cast<double>(e.dip) + 1.0);
        add(prefix + "specialPhase", Type::Integer, e.special);
        add(prefix + "target", Type::Real, e.target);
        add(prefix + "points", Type::Integer, static_cast<double>(e.profile.size()));
        for (std::size_t k = 0; k < e.profile.size(); ++k) {
            const std::string point = prefix + "point" + std::to_string(k + 1) + ".";
            add(point + "time", Type::Real, e.profile[k].time);
            add(point + "depth", Type::Real, e.profile[k].depth);
        }
        add(prefix + "harmonics", Type::Integer, static_cast<double>(e.harmonics.size()));
        for (std::size_t k = 0; k < e.harmonics.size(); ++k) {
            const std::string harmonic = prefix + "harmonic" + std::to_string(k + 1) + ".";
            add(harmonic + "order", Type::Integer, e.harmonics[k].order);
            add(harmonic + "magnitude", Type::Real, e.harmonics[k].magnitude);
            add(harmonic + "phase", Type::Real, e.harmonics[k].phase);
        }
    }
    return "";
}

std::string plantFmuStarts(const std::string &archive, std::vector<PlantFmuParameter> &starts) {
    starts.clear();
    ssp::FmuVariables variables;
    if (std::string problem = ssp::readFmuVariables(archive, variables); !problem.empty())
        return problem;
    for (const ssp::FmuVariable &variable : variables.variables) {
        const auto known = plantParameterTypes().find(variable.name);
        if (variable.kind != ssp::ConnectorKind::Parameter || known == plantParameterTypes().end())
            continue;
        const Type type = variable.type == ssp::SspType::Integer   ? Type::Integer
                          : variable.type == ssp::SspType::Boolean ? Type::Boolean
                                                                   : Type::Real;
        if (variable.type != ssp::SspType::Other && type == known->second)
            starts.push_back({variable.name, type, variable.start});
    }
    return "";
}

std::vector<PlantFmuParameter> differingFromStarts(const std::vector<PlantFmuParameter> &parameters,
                                                   const std::vector<PlantFmuParameter> &starts) {
    std::map<std::string, const PlantFmuParameter *> byName;
    for (const PlantFmuParameter &start : starts)
        byName[start.name] = &start;
    std::vector<PlantFmuParameter> differing;
    for (const PlantFmuParameter &p : parameters) {
        const auto it = byName.find(p.name);
        if (it == byName.end() || it->second->type != p.type || it->second->value != p.value)
            differing.push_back(p);
    }
    return differing;
}

std::string scenarioFromPlantFmuParameters(const std::string &name, const std::string &description,
                                           double duration, const std::vector<PlantFmuParameter> &parameters,
                                           Scenario &scenario, std::vector<std::string> *unknown,
                                           const std::vector<PlantFmuParameter> &starts) {
    using namespace plantfmu;
    if (unknown != nullptr) {
        unknown->clear();
        for (const PlantFmuParameter &p : parameters)
            if (plantParameterTypes().count(p.name) == 0)
                unknown->push_back(p.name);
    }
    BoundValues bound(starts, parameters);
    Scenario result;
    result.name = name;
    result.description = description;
    result.duration = duration;

    const plant::PlantParameters defaults;
    for (const char *key : GRID_REAL_KEYS)
        setValue(result.parameters, key, bound.real(key, parameterValue(defaults, key)));
    const double scr = bound.real("grid.scr", 0.0);
    if (scr != 0.0)
        result.grid.scr = scr;
    result.grid.xOverR = bound.real("grid.xOverR", result.grid.xOverR);

    const int count = bound.whole("converters", 1, 1, MAX_CONVERTERS);
    std::vector<plant::PlantParameters> converters;
    for (int j = 0; j < count; ++j) {
        plant::PlantParameters p = result.parameters;
        for (const char *key : CONVERTER_REAL_KEYS)
            setValue(p, key, bound.real(converterPrefix(j) + key, parameterValue(defaults, key)));
        p.splitLink = bound.whole(converterPrefix(j) + "splitLink", defaults.splitLink ? 1 : 0, 0, 1) == 1;
        converters.push_back(p);
    }
    // One converter is the scenario's own parameters, as a scenario file
    // without a converter list writes it.
    result.parameters = converters.front();
    if (count > 1)
        result.converters = std::move(converters);

    const int events = bound.whole("events", 0, 0, MAX_EVENTS);
    for (int n = 1; n <= events; ++n) {
        const std::string prefix = eventPrefix(n);
        ScenarioEvent e;
        e.time = bound.real(prefix + "time", 0.0);
        e.kind = static_cast<plant::EventKind>(bound.whole(prefix + "kind", 1, 1, 8) - 1);
        e.value = bound.real(prefix + "value", 0.0);
        e.converter = bound.whole(prefix + "converter", -1, -1, count - 1);
        e.dip = static_cast<plant::DipType>(bound.whole(prefix + "dipType", 1, 1, 7) - 1);
        e.special = bound.whole(prefix + "specialPhase", 0, 0, 2);
        e.target = bound.real(prefix + "target", 0.0);
        const int points = bound.whole(prefix + "points", 0, 0, MAX_POINTS);
        for (int k = 1; k <= points; ++k) {
            const std::string point = prefix + "point" + std::to_string(k) + ".";
            e.profile.push_back({bound.real(point + "time", 0.0), bound.real(point + "depth", 0.0)});
        }
        const int harmonics = bound.whole(prefix + "harmonics", 0, 0, MAX_HARMONICS);
        for (int k = 1; k <= harmonics; ++k) {
            const std::string harmonic = prefix + "harmonic" + std::to_string(k) + ".";
            e.harmonics.push_back({bound.whole(harmonic + "order", 2, 2, plant::HARMONIC_ORDER_MAX),
                                   bound.real(harmonic + "magnitude", 0.0),
                                   bound.real(harmonic + "phase", 0.0)});
        }
        if (!result.events.empty() && e.time < result.events.back().time && bound.problem().empty())
            return prefix + "time " + numberText(e.time) + " s is before the event before it (" +
                   numberText(result.events.back().time) + " s): the events must be in time order";
        result.events.push_back(std::move(e));
    }
    if (!bound.problem().empty())
        return bound.problem();
    scenario = std::move(result);
    return "";
}

} // namespace kestrune::sim
