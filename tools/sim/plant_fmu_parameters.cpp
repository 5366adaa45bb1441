#include "plant_fmu_parameters.h"

#include "plant_fmu/plant_layout.h"

namespace kestrune::sim {

namespace {

using Type = PlantFmuParameter::Type;

std::string tooMany(std::size_t count, const char *what, int most, const std::string &where) {
    return where + " has " + std::to_string(count) + " " + what + ", more than the plant FMU takes (" +
           std::to_string(most) + ")";
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

} // namespace kestrune::sim
