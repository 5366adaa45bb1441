// Building the closed loop's system: components, connections, parameters.
#include "closed_loop_system.h"

#include "fmu_variables.h"

#include <filesystem>

namespace kestrune::ssp {

std::string unitComponentName(int converter, int converterCount) {
    return converterCount == 1 ? "unit" : "unit" + std::to_string(converter);
}

std::string plantConnectorName(int converter, const char *name) {
    return "converter" + std::to_string(converter) + "." + name;
}

std::string closedLoopSystem(const std::string &name, const std::string &description, double duration,
                             int converterCount, const std::string &unitArchive,
                             const std::string &plantArchive,
                             const std::vector<SspParameter> &plantParameters, double step,
                             SspSystem &system) {
    system = SspSystem{};
    if (converterCount < 1)
        return "a closed loop needs at least one converter, not " + std::to_string(converterCount);
    FmuVariables unit;
    if (std::string problem = readFmuVariables(unitArchive, unit); !problem.empty())
        return problem;
    system.name = name;
    system.description = description;
    system.stopTime = duration;
    system.step = step;

    const std::filesystem::path unitFile(unitArchive);
    const std::string stem = unitFile.stem().string();
    for (int j = 0; j < converterCount; ++j) {
        SspComponent component;
        component.name = unitComponentName(j, converterCount);
        component.archive = unitArchive;
        component.fmiVersion = unit.fmiVersion;
        component.source =
            "resources/" + (unit.isFmi3() || converterCount == 1 ? unitFile.filename().string()
                                                                 : stem + "_" + std::to_string(j) + ".fmu");
        system.components.push_back(std::move(component));
    }
    SspComponent plant;
    plant.name = PLANT_COMPONENT;
    plant.archive = plantArchive;
    plant.source = "resources/" + std::filesystem::path(plantArchive).filename().string();
    system.components.push_back(std::move(plant));

    for (int j = 0; j < converterCount; ++j) {
        const std::string unitName = unitComponentName(j, converterCount);
        for (const char *measurement : MEASUREMENT_NAMES)
            system.connections.push_back(
                {PLANT_COMPONENT, plantConnectorName(j, measurement), unitName, measurement});
        for (const char *gate : GATE_NAMES)
            system.connections.push_back({unitName, gate, PLANT_COMPONENT, plantConnectorName(j, gate)});
    }
    for (SspParameter parameter : plantParameters) {
        parameter.name = std::string(PLANT_COMPONENT) + "." + parameter.name;
        system.parameters.push_back(std::move(parameter));
    }
    system.parameterSetName = name;
    return "";
}

} // namespace kestrune::ssp
