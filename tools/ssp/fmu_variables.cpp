// Reading a unit's typed variables from its modelDescription.xml (FMI 2.0
// and 3.0) with pugixml.
#include "fmu_variables.h"

#include "zip_files.h"

#include <pugixml.hpp>

#include <charconv>
#include <cstring>

namespace kestrune::ssp {

namespace {

bool parseNumber(const char *text, double &value) {
    const char *end = text + std::strlen(text);
    const auto result = std::from_chars(text, end, value);
    return *text != '\0' && result.ec == std::errc() && result.ptr == end;
}

ConnectorKind kindOf(const std::string &causality) {
    if (causality == "input")
        return ConnectorKind::Input;
    if (causality == "output")
        return ConnectorKind::Output;
    if (causality == "parameter")
        return ConnectorKind::Parameter;
    return ConnectorKind::Other;
}

// FMI 2.0 names the type in the ScalarVariable's child, FMI 3.0 in the
// variable's own element; a 3.0 Float64 and Int32 are a 2.0 Real and Integer.
SspType typeOf(const std::string &element, bool fmi3) {
    if (element == (fmi3 ? "Float64" : "Real"))
        return SspType::Real;
    if (element == (fmi3 ? "Int32" : "Integer"))
        return SspType::Integer;
    if (element == "Boolean")
        return SspType::Boolean;
    return SspType::Other;
}

} // namespace

const FmuVariable *FmuVariables::find(const std::string &name) const {
    for (const FmuVariable &variable : variables) {
        if (variable.name == name)
            return &variable;
    }
    return nullptr;
}

std::string parseFmuVariables(const std::string &xml, FmuVariables &variables) {
    variables = FmuVariables{};
    pugi::xml_document document;
    const pugi::xml_parse_result parsed = document.load_buffer(xml.data(), xml.size());
    if (!parsed)
        return std::string("modelDescription.xml is not well-formed XML: ") + parsed.description();
    const pugi::xml_node root = document.child("fmiModelDescription");
    if (!root)
        return "modelDescription.xml has no fmiModelDescription element";
    variables.fmiVersion = root.attribute("fmiVersion").value();
    const bool fmi3 = variables.isFmi3();
    if (variables.fmiVersion != "2.0" && !fmi3)
        return "modelDescription.xml has fmiVersion \"" + variables.fmiVersion + "\", neither 2.0 nor 3.0";
    if (!root.child("CoSimulation"))
        return "the unit offers no co-simulation";
    for (const pugi::xml_node node : root.child("ModelVariables").children()) {
        if (node.type() != pugi::node_element)
            continue;
        pugi::xml_node typed = node;
        if (!fmi3) {
            if (std::strcmp(node.name(), "ScalarVariable") != 0)
                continue;
            typed = node.first_child();
            while (typed && typed.type() != pugi::node_element)
                typed = typed.next_sibling();
        }
        FmuVariable variable;
        variable.name = node.attribute("name").value();
        double vr = 0.0;
        if (variable.name.empty() || !parseNumber(node.attribute("valueReference").value(), vr) || vr < 0 ||
            vr > 4294967295.0 || vr != static_cast<double>(static_cast<std::uint32_t>(vr)))
            return std::string("modelDescription.xml has a ") + node.name() +
                   " without a name or a valid valueReference";
        variable.vr = static_cast<std::uint32_t>(vr);
        variable.kind = kindOf(node.attribute("causality").as_string("local"));
        variable.tunable = std::strcmp(node.attribute("variability").value(), "tunable") == 0;
        // An FMI 3.0 array is no scalar connector.
        variable.type =
            typed && !(fmi3 && node.child("Dimension")) ? typeOf(typed.name(), fmi3) : SspType::Other;
        if (const pugi::xml_attribute start = typed.attribute("start");
            start && variable.type != SspType::Other) {
            const std::string text = start.value();
            if (variable.type == SspType::Boolean)
                variable.start = text == "true" || text == "1" ? 1.0 : 0.0;
            else if (!parseNumber(text.c_str(), variable.start))
                return "variable \"" + variable.name + "\" has a start value that is no number";
        }
        variables.variables.push_back(std::move(variable));
    }
    return "";
}

std::string readFmuVariables(const std::string &path, FmuVariables &variables) {
    std::string xml;
    if (std::string problem = readZipEntry(path, "modelDescription.xml", xml); !problem.empty())
        return problem;
    if (std::string problem = parseFmuVariables(xml, variables); !problem.empty())
        return path + ": " + problem;
    return "";
}

std::vector<SspConnector> connectorsOf(const FmuVariables &variables) {
    std::vector<SspConnector> connectors;
    for (const FmuVariable &variable : variables.variables) {
        if (variable.kind != ConnectorKind::Other && variable.type != SspType::Other)
            connectors.push_back({variable.name, variable.kind, variable.type});
    }
    return connectors;
}

} // namespace kestrune::ssp
