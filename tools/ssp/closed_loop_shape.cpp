// Matching a system's components and connections against the closed loop.
#include "closed_loop_shape.h"

#include "closed_loop_system.h"

#include <set>
#include <tuple>

namespace kestrune::ssp {

namespace {

bool has(const SspComponent &component, const std::string &name, ConnectorKind kind) {
    const SspConnector *connector = component.find(name);
    return connector != nullptr && connector->kind == kind && connector->type == SspType::Real;
}

// Whether component carries the plant's connectors for converter j.
bool plantConverter(const SspComponent &component, int j) {
    for (const char *name : MEASUREMENT_NAMES) {
        if (!has(component, plantConnectorName(j, name), ConnectorKind::Output))
            return false;
    }
    for (const char *name : GATE_NAMES) {
        if (!has(component, plantConnectorName(j, name), ConnectorKind::Input))
            return false;
    }
    return true;
}

bool unitLike(const SspComponent &component) {
    for (const char *name : MEASUREMENT_NAMES) {
        if (!has(component, name, ConnectorKind::Input))
            return false;
    }
    for (const char *name : GATE_NAMES) {
        if (!has(component, name, ConnectorKind::Output))
            return false;
    }
    return true;
}

using Link = std::tuple<std::string, std::string, std::string, std::string>;

} // namespace

std::string recogniseClosedLoop(const SspSystem &system, ClosedLoopShape &shape) {
    shape = ClosedLoopShape{};
    const SspComponent *plant = nullptr;
    for (const SspComponent &component : system.components) {
        if (plantConverter(component, 0)) {
            if (plant != nullptr)
                return "two components (" + plant->name + ", " + component.name +
                       ") carry the plant's connectors";
            plant = &component;
        }
    }
    if (plant == nullptr)
        return "no component carries the plant's connectors (converter0.gridVoltageA ... converter0.gateC4)";

    std::set<Link> links;
    for (const SspConnection &connection : system.connections)
        links.insert({connection.startElement, connection.startConnector, connection.endElement,
                      connection.endConnector});

    // Converter j's unit: the component whose gridVoltageA the plant's
    // converterJ.gridVoltageA feeds.
    std::set<std::string> units;
    for (int j = 0; plantConverter(*plant, j); ++j) {
        const SspComponent *unit = nullptr;
        for (const SspConnection &connection : system.connections) {
            if (connection.startElement == plant->name &&
                connection.startConnector == plantConnectorName(j, MEASUREMENT_NAMES[0]))
                unit = system.find(connection.endElement);
        }
        if (unit == nullptr)
            break;
        const std::string what = "converter " + std::to_string(j) + "'s unit " + unit->name;
        if (!unitLike(*unit))
            return what +
                   " lacks the unit's connectors (gridVoltageA ... dcVoltage in, gateA1 ... gateC4 out)";
        if (!units.insert(unit->name).second)
            return what + " serves two converters";
        for (const char *name : MEASUREMENT_NAMES) {
            if (links.count({plant->name, plantConnectorName(j, name), unit->name, name}) == 0)
                return what + " is not fed " + plant->name + "." + plantConnectorName(j, name);
        }
        for (const char *name : GATE_NAMES) {
            if (links.count({unit->name, name, plant->name, plantConnectorName(j, name)}) == 0)
                return what + "'s " + name + " does not drive " + plant->name + "." +
                       plantConnectorName(j, name);
        }
        shape.unitComponents.push_back(unit->name);
        shape.unitArchives.push_back(unit->archive);
    }
    shape.converters = static_cast<int>(shape.unitComponents.size());
    if (shape.converters == 0)
        return "no unit is connected to the plant's converter0";
    if (system.components.size() != units.size() + 1)
        return "the system holds components beyond the plant and its " + std::to_string(shape.converters) +
               " unit(s)";
    if (links.size() !=
        static_cast<std::size_t>(shape.converters) * (MEASUREMENT_NAMES.size() + GATE_NAMES.size()))
        return "the system holds connections beyond the closed loop's";

    shape.plantComponent = plant->name;
    shape.plantArchive = plant->archive;
    shape.plantParameters = boundParameters(system, *plant);
    for (const std::string &unit : shape.unitComponents)
        shape.unitParameters.push_back(boundParameters(system, *system.find(unit)));
    // The last value bound to the plant's converter count is the one it
    // takes; with none bound the plant archive's start value decides, which
    // the run checks against the units once it has read the archive.
    double bound = shape.converters;
    for (const SspParameter &parameter : shape.plantParameters) {
        if (parameter.name == "converters")
            bound = parameter.value;
    }
    if (bound != shape.converters)
        return "the plant is bound to " + std::to_string(static_cast<long long>(bound)) + " converters but " +
               std::to_string(shape.converters) + " units are connected to it";
    shape.startTime = system.startTime;
    shape.stopTime = system.stopTime;
    shape.step = system.step;
    return "";
}

} // namespace kestrune::ssp
