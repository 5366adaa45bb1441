// Reading SystemStructure.ssd and .ssv parameter sets with pugixml, from the
// .ssp or from a folder it was unpacked into. The
// standard's namespaces may come under any prefix, so elements are matched
// by their local names.
#include "ssp_reader.h"

#include "common/archive_limits.h"
#include "fmu_variables.h"
#include "master/zip_reader.h"
#include "zip_files.h"

#include <pugixml.hpp>

#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

namespace kestrune::ssp {

namespace fs = std::filesystem;

namespace {

std::string localName(const pugi::xml_node node) {
    const char *name = node.name();
    const char *colon = std::strrchr(name, ':');
    return colon != nullptr ? colon + 1 : name;
}

pugi::xml_node child(const pugi::xml_node node, const char *name) {
    for (const pugi::xml_node candidate : node.children()) {
        if (candidate.type() == pugi::node_element && localName(candidate) == name)
            return candidate;
    }
    return {};
}

bool parseNumber(const std::string &text, double &value) {
    const char *end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

// A relative source inside the .ssp that it holds.
std::string resolve(const std::string &source, SspFiles &files, const std::string &what) {
    if (source.empty() || source.find("://") != std::string::npos || source.front() == '/' ||
        source.find("..") != std::string::npos || source.find('\\') != std::string::npos)
        return what + ": the source \"" + source + "\" is no file inside the .ssp";
    if (!files.holds(source))
        return what + ": the .ssp holds no " + source;
    return "";
}

// The files of an .ssp unpacked into a folder.
class FolderFiles : public SspFiles {
  public:
    explicit FolderFiles(std::string folder) : folder_(std::move(folder)) {}
    bool holds(const std::string &source) override {
        std::error_code ec;
        return fs::is_regular_file(fs::path(folder_) / source, ec);
    }
    std::string read(const std::string &source, std::string &text) override {
        const fs::path path = fs::path(folder_) / source;
        std::ifstream in(path, std::ios::binary);
        if (!in)
            return "cannot read " + path.string();
        text.clear();
        char buffer[1 << 16];
        while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
            text.append(buffer, static_cast<std::size_t>(in.gcount()));
            if (text.size() > MAX_DESCRIPTION_TEXT) {
                std::string().swap(text);
                return path.string() + " is larger than the limit of " +
                       master::byteCount(MAX_DESCRIPTION_TEXT);
            }
        }
        return in.bad() ? "cannot read " + path.string() : "";
    }
    std::string file(const std::string &source, std::string &path) override {
        path = (fs::path(folder_) / source).string();
        return "";
    }

  private:
    std::string folder_;
};

// The files of an .ssp read from the archive: parameter files into memory,
// and each .fmu a component names unpacked once into folder. Messages leave
// out the .ssp's path, which readSsp puts before every one.
class ArchiveFiles : public SspFiles {
  public:
    ArchiveFiles(master::ZipReader &archive, std::string path, std::string folder)
        : archive_(archive), path_(std::move(path)), folder_(std::move(folder)) {}
    bool holds(const std::string &source) override { return archive_.find(source) != nullptr; }
    std::string read(const std::string &source, std::string &text) override {
        return withoutPath(archive_.read(source, MAX_DESCRIPTION_TEXT, text));
    }
    std::string file(const std::string &source, std::string &path) override {
        const fs::path target = fs::path(folder_) / source;
        path = target.string();
        if (!unpacked_.insert(source).second)
            return "";
        std::error_code ec;
        fs::create_directories(target.parent_path(), ec);
        if (ec)
            return "cannot create a folder for " + path + ": " + ec.message();
        return withoutPath(archive_.unpack(source, path, MAX_UNPACKED_FILE));
    }

  private:
    std::string withoutPath(std::string problem) const {
        if (problem.rfind(path_ + ": ", 0) == 0)
            problem.erase(0, path_.size() + 2);
        return problem;
    }

    master::ZipReader &archive_;
    std::string path_;
    std::string folder_;
    std::set<std::string> unpacked_;
};

// The parameters of an ssv:ParameterSet element.
std::string readParameterSet(const pugi::xml_node set, const std::string &prefix, const std::string &what,
                             std::vector<SspParameter> &parameters) {
    if (localName(set) != "ParameterSet")
        return what + ": no ParameterSet element";
    for (const pugi::xml_node node : child(set, "Parameters").children()) {
        if (node.type() != pugi::node_element || localName(node) != "Parameter")
            continue;
        SspParameter parameter;
        parameter.name = prefix + node.attribute("name").value();
        pugi::xml_node value;
        for (value = node.first_child(); value && value.type() != pugi::node_element;
             value = value.next_sibling()) {
        }
        const std::string type = value ? localName(value) : "";
        const std::string text = value.attribute("value").value();
        bool ok = true;
        if (type == "Real") {
            parameter.type = SspType::Real;
            ok = parseNumber(text, parameter.value);
        } else if (type == "Integer") {
            parameter.type = SspType::Integer;
            ok = parseNumber(text, parameter.value) &&
                 parameter.value == static_cast<double>(static_cast<long long>(parameter.value));
        } else if (type == "Boolean") {
            parameter.type = SspType::Boolean;
            ok = text == "true" || text == "false" || text == "1" || text == "0";
            parameter.value = text == "true" || text == "1" ? 1.0 : 0.0;
        } else {
            return what + ": parameter " + parameter.name + " is " +
                   (type.empty() ? "untyped" : "a " + type) +
                   "; only Real, Integer and Boolean parameters are supported";
        }
        if (!ok)
            return what + ": parameter " + parameter.name + " has the value \"" + text + "\", no " + type;
        parameters.push_back(std::move(parameter));
    }
    return "";
}

// Every ParameterBinding of an element, in order: from an .ssv in the .ssp
// or inline.
std::string readBindings(const pugi::xml_node element, SspFiles &files, const std::string &what,
                         std::vector<SspParameter> &parameters) {
    for (const pugi::xml_node binding : child(element, "ParameterBindings").children()) {
        if (binding.type() != pugi::node_element)
            continue;
        const std::string type = binding.attribute("type").as_string("application/x-ssp-parameter-set");
        if (type != "application/x-ssp-parameter-set")
            return what + ": a parameter binding of type " + type + " is not supported";
        if (child(binding, "ParameterMapping"))
            return what + ": parameter mappings are not supported";
        if (std::strcmp(binding.attribute("sourceBase").as_string("SSD"), "SSD") != 0)
            return what + ": a parameter binding resolved against the component is not supported";
        const std::string prefix = binding.attribute("prefix").value();
        const std::string source = binding.attribute("source").value();
        if (source.empty()) {
            pugi::xml_node set;
            for (set = child(binding, "ParameterValues").first_child();
                 set && set.type() != pugi::node_element; set = set.next_sibling()) {
            }
            if (std::string problem =
                    readParameterSet(set, prefix, what + ": inline parameter values", parameters);
                !problem.empty())
                return problem;
            continue;
        }
        if (std::string problem = resolve(source, files, what + ": parameter binding"); !problem.empty())
            return problem;
        std::string text;
        if (std::string problem = files.read(source, text); !problem.empty())
            return problem;
        pugi::xml_document document;
        if (const pugi::xml_parse_result parsed = document.load_buffer(text.data(), text.size()); !parsed)
            return source + " is not well-formed XML: " + parsed.description();
        if (std::string problem = readParameterSet(document.document_element(), prefix, source, parameters);
            !problem.empty())
            return problem;
    }
    return "";
}

std::string readConnectors(const pugi::xml_node element, const FmuVariables &variables,
                           SspComponent &component) {
    const std::string what = "component " + component.name;
    std::set<std::string> names;
    for (const pugi::xml_node node : child(element, "Connectors").children()) {
        if (node.type() != pugi::node_element)
            continue;
        SspConnector connector;
        connector.name = node.attribute("name").value();
        if (!names.insert(connector.name).second)
            return what + ": connector " + connector.name + " is declared twice";
        const FmuVariable *variable = variables.find(connector.name);
        if (variable == nullptr)
            return what + ": connector " + connector.name + " names no variable of " + component.source;
        const std::string kind = node.attribute("kind").value();
        connector.kind = kind == "input"       ? ConnectorKind::Input
                         : kind == "output"    ? ConnectorKind::Output
                         : kind == "parameter" ? ConnectorKind::Parameter
                                               : ConnectorKind::Other;
        if (connector.kind != ConnectorKind::Other && connector.kind != variable->kind)
            return what + ": connector " + connector.name + " is declared " + kind + " but its variable is " +
                   (variable->kind == ConnectorKind::Other ? "neither input, output nor parameter"
                                                           : kindName(variable->kind));
        connector.type = variable->type;
        for (const pugi::xml_node typed : node.children()) {
            const std::string type = typed.type() == pugi::node_element ? localName(typed) : "";
            if (type.empty() || type == "ConnectorGeometry" || type == "Annotations")
                continue;
            connector.type = type == "Real"      ? SspType::Real
                             : type == "Integer" ? SspType::Integer
                             : type == "Boolean" ? SspType::Boolean
                                                 : SspType::Other;
            if (connector.type != variable->type)
                return what + ": connector " + connector.name + " is declared " + type +
                       " but its variable is " + typeName(variable->type);
        }
        component.connectors.push_back(std::move(connector));
    }
    return "";
}

std::string readComponent(const pugi::xml_node element, SspFiles &files, SspComponent &component) {
    component.name = element.attribute("name").value();
    const std::string what = "component " + component.name;
    const std::string type = element.attribute("type").as_string("application/x-fmu-sharedlibrary");
    if (type != "application/x-fmu-sharedlibrary")
        return what + " is of type " + type + "; only FMUs (application/x-fmu-sharedlibrary) are supported";
    const std::string implementation = element.attribute("implementation").as_string("any");
    if (implementation != "any" && implementation != "CoSimulation")
        return what + " asks for the implementation " + implementation + "; only co-simulation is supported";
    component.source = element.attribute("source").value();
    if (std::string problem = resolve(component.source, files, what); !problem.empty())
        return problem;
    if (std::string problem = files.file(component.source, component.archive); !problem.empty())
        return what + ": " + problem;
    FmuVariables variables;
    if (std::string problem = readFmuVariables(component.archive, variables); !problem.empty())
        return what + ": " + problem;
    component.fmiVersion = variables.fmiVersion;
    if (std::string problem = readConnectors(element, variables, component); !problem.empty())
        return problem;
    return readBindings(element, files, what, component.parameters);
}

std::string readConnection(const pugi::xml_node node, const SspSystem &system, SspConnection &connection) {
    connection = {node.attribute("startElement").value(), node.attribute("startConnector").value(),
                  node.attribute("endElement").value(), node.attribute("endConnector").value()};
    const std::string what = "connection " + connection.startElement + "." + connection.startConnector +
                             " -> " + connection.endElement + "." + connection.endConnector;
    if (connection.startElement.empty() || connection.endElement.empty())
        return what + ": connections to the system's own connectors are not supported";
    for (const pugi::xml_node inner : node.children()) {
        const std::string name = inner.type() == pugi::node_element ? localName(inner) : "";
        if (!name.empty() && name != "ConnectionGeometry" && name != "Annotations")
            return what + ": a " + name + " on a connection is not supported";
    }
    const SspConnector *ends[2] = {nullptr, nullptr};
    const std::string *elements[2] = {&connection.startElement, &connection.endElement};
    const std::string *connectors[2] = {&connection.startConnector, &connection.endConnector};
    for (int i = 0; i < 2; ++i) {
        const SspComponent *component = system.find(*elements[i]);
        if (component == nullptr)
            return what + ": no component " + *elements[i];
        ends[i] = component->find(*connectors[i]);
        if (ends[i] == nullptr)
            return what + ": component " + *elements[i] + " has no connector " + *connectors[i];
    }
    if (ends[0]->kind != ConnectorKind::Output || ends[1]->kind != ConnectorKind::Input)
        return what + ": joins " + kindName(ends[0]->kind) + " to " + kindName(ends[1]->kind) +
               "; only an output to an input is supported";
    if (ends[0]->type != SspType::Real || ends[1]->type != SspType::Real)
        return what + ": joins " + typeName(ends[0]->type) + " to " + typeName(ends[1]->type) +
               "; only Real connections are supported";
    return "";
}

std::string readExperiment(const pugi::xml_node root, SspSystem &system) {
    const pugi::xml_node experiment = child(root, "DefaultExperiment");
    if (!experiment)
        return "";
    for (const char *name : {"startTime", "stopTime"}) {
        const pugi::xml_attribute attribute = experiment.attribute(name);
        double &value = name[2] == 'a' ? system.startTime : system.stopTime;
        if (attribute && !parseNumber(attribute.value(), value))
            return std::string("the default experiment's ") + name + " \"" + attribute.value() +
                   "\" is no number";
    }
    for (const pugi::xml_node annotation : child(experiment, "Annotations").children()) {
        if (annotation.type() != pugi::node_element ||
            std::strcmp(annotation.attribute("type").value(), STEP_ANNOTATION) != 0)
            continue;
        const pugi::xml_node step = annotation.find_child([](const pugi::xml_node node) {
            return node.type() == pugi::node_element && localName(node) == STEP_ELEMENT;
        });
        const std::string text = step.attribute(STEP_ATTRIBUTE).value();
        if (!parseNumber(text, system.step) || !(system.step > 0.0))
            return std::string("the ") + STEP_ANNOTATION + " annotation's step \"" + text +
                   "\" is no positive number";
    }
    return "";
}

} // namespace

std::string readSystemStructure(const std::string &ssdText, SspFiles &files, SspSystem &system) {
    pugi::xml_document document;
    if (const pugi::xml_parse_result parsed = document.load_buffer(ssdText.data(), ssdText.size()); !parsed)
        return std::string("SystemStructure.ssd is not well-formed XML: ") + parsed.description();
    const pugi::xml_node root = document.document_element();
    if (localName(root) != "SystemStructureDescription")
        return "SystemStructure.ssd holds no SystemStructureDescription";
    const std::string version = root.attribute("version").value();
    if (version.rfind("1.", 0) != 0)
        return "SystemStructure.ssd is of version \"" + version + "\"; only SSP 1.x is supported";
    const pugi::xml_node node = child(root, "System");
    if (!node)
        return "SystemStructure.ssd describes no System";
    system.name = node.attribute("name").value();
    system.description = node.attribute("description").value();
    for (const char *unsupported : {"Connectors", "SignalDictionaries"}) {
        if (child(node, unsupported))
            return std::string("the system's ") + unsupported + " are not supported";
    }
    for (const pugi::xml_node element : child(node, "Elements").children()) {
        if (element.type() != pugi::node_element)
            continue;
        const std::string kind = localName(element);
        if (kind != "Component")
            return "the system holds a " + kind + " element (" + element.attribute("name").value() +
                   "); only components are supported, no nested systems or signal dictionaries";
        SspComponent component;
        if (std::string problem = readComponent(element, files, component); !problem.empty())
            return problem;
        if (system.find(component.name) != nullptr)
            return "two components are named " + component.name;
        system.components.push_back(std::move(component));
    }
    std::set<std::string> endsTaken;
    for (const pugi::xml_node node2 : child(node, "Connections").children()) {
        if (node2.type() != pugi::node_element)
            continue;
        SspConnection connection;
        if (std::string problem = readConnection(node2, system, connection); !problem.empty())
            return problem;
        if (!endsTaken.insert(connection.endElement + "." + connection.endConnector).second)
            return "input " + connection.endElement + "." + connection.endConnector + " is connected twice";
        system.connections.push_back(std::move(connection));
    }
    if (std::string problem = readBindings(node, files, "the system", system.parameters); !problem.empty())
        return problem;
    return readExperiment(root, system);
}

std::string readSystemStructure(const std::string &ssdText, const std::string &folder, SspSystem &system) {
    FolderFiles files(folder);
    return readSystemStructure(ssdText, files, system);
}

std::string readSsp(const std::string &path, SspSystem &system) {
    system = SspSystem{};
    master::ZipReader archive;
    if (std::string problem = archive.open(path, "zip archive"); !problem.empty())
        return problem;
    if (archive.find("SystemStructure.ssd") == nullptr)
        return path + ": the archive holds no SystemStructure.ssd";
    std::string text;
    if (std::string problem = archive.read("SystemStructure.ssd", MAX_DESCRIPTION_TEXT, text);
        !problem.empty())
        return problem;
    auto folder = std::make_shared<TemporaryFolder>();
    if (std::string problem = folder->create("kestrune-ssp-"); !problem.empty())
        return problem;
    ArchiveFiles files(archive, path, folder->path());
    if (std::string problem = readSystemStructure(text, files, system); !problem.empty()) {
        system = SspSystem{};
        return path + ": " + problem;
    }
    system.unpacked = folder;
    return "";
}

} // namespace kestrune::ssp
