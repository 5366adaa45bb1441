#include "ssp_loop_plan.h"

#include "common/number_text.h"
#include "plant/plant.h"
#include "plant_fmu_parameters.h"

#include <cmath>
#include <fstream>
#include <iterator>

namespace kestrune::sim {

namespace {

std::string fileBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

PlantFmuParameter::Type plantType(ssp::SspType type) {
    switch (type) {
    case ssp::SspType::Integer:
        return PlantFmuParameter::Type::Integer;
    case ssp::SspType::Boolean:
        return PlantFmuParameter::Type::Boolean;
    case ssp::SspType::Real:
    case ssp::SspType::Other:
        break;
    }
    return PlantFmuParameter::Type::Real;
}

const std::string &sourceOf(const ssp::SspSystem &system, const std::string &component) {
    static const std::string none;
    const ssp::SspComponent *found = system.find(component);
    return found != nullptr ? found->source : none;
}

} // namespace

std::string outputName(const std::string &systemName, const std::string &fallback) {
    std::string name = systemName.empty() ? fallback : systemName;
    for (char &c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '_' || c == '-';
        if (!plain)
            c = '_';
    }
    return name.empty() ? "system" : name;
}

std::string sspLoopPlan(const ssp::SspSystem &system, const ssp::ClosedLoopShape &shape,
                        const Options &options, SspLoop &loop) {
    if (shape.startTime != 0.0)
        return "the closed loop starts at 0 s; this system starts at " + numberText(shape.startTime) + " s";

    // Every converter runs the same unit archive: compare what the unit
    // components embed, byte for byte.
    const std::string unitBytes = fileBytes(shape.unitArchives.front());
    for (std::size_t j = 1; j < shape.unitArchives.size(); ++j)
        if (fileBytes(shape.unitArchives[j]) != unitBytes)
            return "the units " + shape.unitComponents.front() + " (" +
                   sourceOf(system, shape.unitComponents.front()) + ") and " + shape.unitComponents[j] +
                   " (" + sourceOf(system, shape.unitComponents[j]) +
                   ") embed different archives; the closed loop runs one unit archive for every converter";

    // A value the system leaves unbound is the plant archive's start value,
    // as it is for any runner of the system.
    std::vector<PlantFmuParameter> starts;
    if (std::string problem = plantFmuStarts(shape.plantArchive, starts); !problem.empty())
        return "the plant " + shape.plantComponent + " (" + sourceOf(system, shape.plantComponent) +
               "): " + problem;
    std::vector<PlantFmuParameter> parameters;
    for (const ssp::SspParameter &p : shape.plantParameters)
        parameters.push_back({p.name, plantType(p.type), p.value});
    Scenario scenario;
    if (const std::string problem = scenarioFromPlantFmuParameters(
            outputName(system.name, "system"), system.description, shape.stopTime - shape.startTime,
            parameters, scenario, &loop.ignored, starts);
        !problem.empty())
        return "the values bound to " + shape.plantComponent + " describe no plant: " + problem;
    if (converterCount(scenario) != static_cast<std::size_t>(shape.converters))
        return "the plant is bound to " + std::to_string(converterCount(scenario)) + " converters (" +
               shape.plantComponent + ".converters) but the system wires " + std::to_string(shape.converters);
    scenario.source = shape.plantComponent;

    // The step: --step when given, else the system's, else the base step.
    Options run = options;
    if (!options.stepGiven)
        run.step = shape.step > 0.0 ? shape.step : BASE_STEP;
    const double baseSteps = std::round(run.step / BASE_STEP);
    if (baseSteps < 1.0 || baseSteps > 2.0e9 ||
        std::fabs(run.step - baseSteps * BASE_STEP) > BASE_STEP * 1e-6)
        return "the step " + numberText(run.step) +
               " s is no whole number of the unit's base steps of 5e-06 s; give one with --step";
    run.baseStepsPerStep = static_cast<std::int32_t>(baseSteps);
    run.plant = PlantChoice{.fmu = true, .plantFmu = shape.plantArchive, .plantName = {}};

    if (std::string problem = planRun(run, std::move(scenario), loop.plan); !problem.empty())
        return problem;
    loop.unitArchive = shape.unitArchives.front();
    loop.unitSource = sourceOf(system, shape.unitComponents.front());
    loop.plantSource = sourceOf(system, shape.plantComponent);
    return "";
}

} // namespace kestrune::sim
