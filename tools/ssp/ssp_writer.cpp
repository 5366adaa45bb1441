// The .ssd and .ssv texts of a system, written with pugixml, and the .ssp
// archive holding them and the components' archives.
#include "ssp_writer.h"

#include "fmu_variables.h"
#include "zip_files.h"

#include <pugixml.hpp>

#include <charconv>
#include <map>
#include <sstream>

namespace kestrune::ssp {

namespace {

constexpr const char *SSD_NAMESPACE = "http://ssp-standard.org/SSP1/SystemStructureDescription";
constexpr const char *SSC_NAMESPACE = "http://ssp-standard.org/SSP1/SystemStructureCommon";
constexpr const char *SSV_NAMESPACE = "http://ssp-standard.org/SSP1/SystemStructureParameterValues";

// The shortest text that reads back as the same double.
std::string number(double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string valueText(const SspParameter &parameter) {
    switch (parameter.type) {
    case SspType::Integer:
        return std::to_string(static_cast<long long>(parameter.value));
    case SspType::Boolean:
        return parameter.value != 0.0 ? "true" : "false";
    default:
        return number(parameter.value);
    }
}

std::string text(const pugi::xml_document &document) {
    std::ostringstream out;
    document.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
    return out.str();
}

} // namespace

std::string parameterSetSource(const SspSystem &system) {
    return "resources/" + (system.parameterSetName.empty() ? system.name : system.parameterSetName) + ".ssv";
}

std::string parameterSetText(const std::string &name, const std::vector<SspParameter> &parameters) {
    pugi::xml_document document;
    pugi::xml_node set = document.append_child("ssv:ParameterSet");
    set.append_attribute("xmlns:ssv") = SSV_NAMESPACE;
    set.append_attribute("version") = "1.0";
    set.append_attribute("name") = name.c_str();
    pugi::xml_node list = set.append_child("ssv:Parameters");
    for (const SspParameter &parameter : parameters) {
        pugi::xml_node node = list.append_child("ssv:Parameter");
        node.append_attribute("name") = parameter.name.c_str();
        pugi::xml_node value = node.append_child((std::string("ssv:") + typeName(parameter.type)).c_str());
        value.append_attribute("value") = valueText(parameter).c_str();
    }
    return text(document);
}

std::string systemStructureText(const SspSystem &system) {
    pugi::xml_document document;
    pugi::xml_node root = document.append_child("ssd:SystemStructureDescription");
    root.append_attribute("xmlns:ssd") = SSD_NAMESPACE;
    root.append_attribute("xmlns:ssc") = SSC_NAMESPACE;
    root.append_attribute("xmlns:ssv") = SSV_NAMESPACE;
    root.append_attribute("version") = "1.0";
    root.append_attribute("name") = system.name.c_str();
    root.append_attribute("generationTool") = "kestrune-sim";

    pugi::xml_node node = root.append_child("ssd:System");
    node.append_attribute("name") = system.name.c_str();
    if (!system.description.empty())
        node.append_attribute("description") = system.description.c_str();
    if (!system.parameters.empty()) {
        pugi::xml_node binding =
            node.append_child("ssd:ParameterBindings").append_child("ssd:ParameterBinding");
        binding.append_attribute("type") = "application/x-ssp-parameter-set";
        binding.append_attribute("source") = parameterSetSource(system).c_str();
    }
    pugi::xml_node elements = node.append_child("ssd:Elements");
    for (const SspComponent &component : system.components) {
        pugi::xml_node element = elements.append_child("ssd:Component");
        element.append_attribute("name") = component.name.c_str();
        element.append_attribute("type") = "application/x-fmu-sharedlibrary";
        element.append_attribute("source") = component.source.c_str();
        element.append_attribute("implementation") = "CoSimulation";
        pugi::xml_node connectors = element.append_child("ssd:Connectors");
        for (const SspConnector &connector : component.connectors) {
            pugi::xml_node entry = connectors.append_child("ssd:Connector");
            entry.append_attribute("name") = connector.name.c_str();
            entry.append_attribute("kind") = kindName(connector.kind);
            entry.append_child((std::string("ssc:") + typeName(connector.type)).c_str());
        }
        if (!component.parameters.empty()) {
            pugi::xml_node binding =
                element.append_child("ssd:ParameterBindings").append_child("ssd:ParameterBinding");
            binding.append_attribute("type") = "application/x-ssp-parameter-set";
            pugi::xml_document inline_;
            inline_.load_string(parameterSetText(component.name, component.parameters).c_str());
            binding.append_child("ssd:ParameterValues").append_copy(inline_.document_element());
        }
    }
    pugi::xml_node connections = node.append_child("ssd:Connections");
    for (const SspConnection &connection : system.connections) {
        pugi::xml_node entry = connections.append_child("ssd:Connection");
        entry.append_attribute("startElement") = connection.startElement.c_str();
        entry.append_attribute("startConnector") = connection.startConnector.c_str();
        entry.append_attribute("endElement") = connection.endElement.c_str();
        entry.append_attribute("endConnector") = connection.endConnector.c_str();
    }
    if (system.connections.empty())
        node.remove_child(connections); // the schema wants at least one Connection inside

    pugi::xml_node experiment = root.append_child("ssd:DefaultExperiment");
    experiment.append_attribute("startTime") = number(system.startTime).c_str();
    experiment.append_attribute("stopTime") = number(system.stopTime).c_str();
    if (system.step > 0.0) {
        pugi::xml_node annotation = experiment.append_child("ssd:Annotations").append_child("ssc:Annotation");
        annotation.append_attribute("type") = STEP_ANNOTATION;
        pugi::xml_node step = annotation.append_child((std::string("kestrune:") + STEP_ELEMENT).c_str());
        step.append_attribute("xmlns:kestrune") = STEP_NAMESPACE;
        step.append_attribute(STEP_ATTRIBUTE) = number(system.step).c_str();
    }
    return text(document);
}

std::string writeSsp(const SspSystem &given, const std::string &path) {
    // The names become file names in the archive.
    const std::string setName = given.parameterSetName.empty() ? given.name : given.parameterSetName;
    if (given.name.empty() || setName.front() == '.' || setName.find_first_of("/\\:") != std::string::npos)
        return "the system's name \"" + setName + "\" cannot name its parameter set file";
    SspSystem system = given;
    std::map<std::string, std::string> archiveOfSource;
    std::vector<ZipEntry> entries;
    for (SspComponent &component : system.components) {
        if (component.source.rfind("resources/", 0) != 0 || component.source.size() <= 10 ||
            component.source.find("..") != std::string::npos ||
            component.source.find('\\') != std::string::npos)
            return "component " + component.name + ": its source \"" + component.source +
                   "\" is not a file under resources/";
        const auto [place, added] = archiveOfSource.emplace(component.source, component.archive);
        if (!added && place->second != component.archive)
            return "components with the source " + component.source + " come from different archives (" +
                   place->second + ", " + component.archive + ")";
        FmuVariables variables;
        if (std::string problem = readFmuVariables(component.archive, variables); !problem.empty())
            return "component " + component.name + ": " + problem;
        component.fmiVersion = variables.fmiVersion;
        component.connectors = connectorsOf(variables);
        if (added)
            entries.push_back({component.source, component.archive, ""});
    }
    std::vector<ZipEntry> texts{{"SystemStructure.ssd", "", systemStructureText(system)}};
    if (!system.parameters.empty()) {
        const std::string source = parameterSetSource(system);
        texts.push_back(
            {source, "", parameterSetText(source.substr(10, source.size() - 14), system.parameters)});
    }
    entries.insert(entries.begin(), texts.begin(), texts.end());
    return writeZip(path, entries);
}

} // namespace kestrune::ssp
