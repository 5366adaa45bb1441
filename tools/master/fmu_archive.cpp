// Unpacking what a run needs of a .fmu and reading its description with
// pugixml.
#include "fmu_archive.h"

#include "common/archive_limits.h"
#include "common/interruption.h"
#include "common/temporary_paths.h"
#include "description_trust.h"
#include "zip_reader.h"

#include <pugixml.hpp>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <system_error>

namespace kestrune::master {

namespace fs = std::filesystem;

namespace {

std::optional<double> parseDouble(const char *text) {
    double value = 0.0;
    const char *end = text + std::strlen(text);
    const auto result = std::from_chars(text, end, value);
    if (result.ec != std::errc() || result.ptr != end)
        return std::nullopt;
    return value;
}

std::optional<fmi2ValueReference> parseValueReference(const char *text) {
    unsigned long long value = 0;
    const char *end = text + std::strlen(text);
    const auto result = std::from_chars(text, end, value);
    if (*text == '\0' || result.ec != std::errc() || result.ptr != end || value > 0xFFFFFFFFull)
        return std::nullopt;
    return static_cast<fmi2ValueReference>(value);
}

} // namespace

const DescribedVariable *ModelDescription::find(const std::string &name) const {
    for (const DescribedVariable &variable : variables) {
        if (variable.name == name)
            return &variable;
    }
    return nullptr;
}

std::string parseModelDescription(const std::string &xml, ModelDescription &description) {
    description = ModelDescription{};
    pugi::xml_document document;
    const pugi::xml_parse_result parsed = document.load_buffer(xml.data(), xml.size());
    if (!parsed)
        return std::string("not well-formed XML: ") + parsed.description() + " at byte " +
               std::to_string(parsed.offset);
    const pugi::xml_node root = document.child("fmiModelDescription");
    if (!root)
        return "no fmiModelDescription element";
    description.fmiVersion = root.attribute("fmiVersion").value();
    description.modelName = root.attribute("modelName").value();
    const bool fmi3 = description.fmiVersion.rfind("3.", 0) == 0;
    if (description.fmiVersion != "2.0" && !fmi3)
        return "fmiVersion is \"" + description.fmiVersion + "\", neither \"2.0\" nor \"3.0\"";
    description.guid = root.attribute(fmi3 ? "instantiationToken" : "guid").value();
    if (description.guid.empty())
        return fmi3 ? "no instantiationToken" : "no guid";
    // The interfaces this master drives, each named by the library's file
    // name: co-simulation, and in FMI 3.0 scheduled execution.
    const pugi::xml_node coSimulation = root.child("CoSimulation");
    const pugi::xml_node scheduled = fmi3 ? root.child("ScheduledExecution") : pugi::xml_node();
    if (!coSimulation && !scheduled)
        return fmi3 ? "no CoSimulation or ScheduledExecution element: the unit offers neither interface"
                    : "no CoSimulation element: the unit does not offer co-simulation";
    for (const pugi::xml_node element : {coSimulation, scheduled}) {
        if (!element)
            continue;
        const std::string identifier = element.attribute("modelIdentifier").value();
        if (identifier.empty() || identifier.find_first_of("/\\:.") != std::string::npos)
            return std::string(element.name()) + " has no usable modelIdentifier (\"" + identifier + "\")";
        (element == coSimulation ? description.modelIdentifier : description.scheduledModelIdentifier) =
            identifier;
    }

    // FMI 2.0 wraps each variable in a ScalarVariable with a typed child;
    // FMI 3.0 names the type in the variable's own element.
    std::set<std::string> names;
    for (const pugi::xml_node node : root.child("ModelVariables").children()) {
        if (node.type() != pugi::node_element || (!fmi3 && std::string(node.name()) != "ScalarVariable"))
            continue;
        DescribedVariable variable;
        variable.name = node.attribute("name").value();
        const std::optional<fmi2ValueReference> vr =
            parseValueReference(node.attribute("valueReference").value());
        if (variable.name.empty() || !vr)
            return std::string("a ") + node.name() + " without a name or a valid valueReference";
        if (!names.insert(variable.name).second)
            return "variable \"" + variable.name + "\" is declared twice";
        variable.vr = *vr;
        variable.causality = node.attribute("causality").as_string("local");
        variable.variability = node.attribute("variability").as_string("continuous");
        variable.initial = node.attribute("initial").value();
        if (const pugi::xml_attribute clocks = node.attribute("clocks"))
            variable.clocks = clocks.value();
        const pugi::xml_node typed =
            fmi3 ? (std::string(node.name()) == "Float64" ? node : pugi::xml_node()) : node.child("Real");
        if (typed) {
            variable.isReal = true;
            if (const pugi::xml_attribute start = typed.attribute("start")) {
                variable.start = parseDouble(start.value());
                if (!variable.start)
                    return "variable \"" + variable.name + "\" has a start value that is no number";
            }
        }
        if (fmi3 && std::string(node.name()) == "Clock") {
            variable.isClock = true;
            variable.intervalVariability = node.attribute("intervalVariability").value();
            const pugi::xml_attribute decimal = node.attribute("intervalDecimal");
            const pugi::xml_attribute counter = node.attribute("intervalCounter");
            const pugi::xml_attribute resolution = node.attribute("resolution");
            if (decimal) {
                variable.interval = parseDouble(decimal.value());
                if (!variable.interval)
                    return "clock \"" + variable.name + "\" has an intervalDecimal that is no number";
            } else if (counter && resolution) {
                const std::optional<double> count = parseDouble(counter.value());
                const std::optional<double> perSecond = parseDouble(resolution.value());
                if (!count || !perSecond)
                    return "clock \"" + variable.name +
                           "\" has an intervalCounter or resolution that is no number";
                variable.interval = *count / *perSecond;
            }
        }
        description.variables.push_back(std::move(variable));
    }
    return "";
}

const char *platformFolder(bool fmi3) {
#ifdef _WIN32
    return fmi3 ? "x86_64-windows" : "win64";
#else
    return fmi3 ? "x86_64-linux" : "linux64";
#endif
}

const char *librarySuffix() {
#ifdef _WIN32
    return ".dll";
#else
    return ".so";
#endif
}

std::string fileUri(const std::string &absolutePath) {
    static const char *hex = "0123456789ABCDEF";
    std::string uri = "file://";
    for (unsigned char ch : absolutePath) {
        const bool plain = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') ||
                           ch == '-' || ch == '.' || ch == '_' || ch == '~' || ch == '/';
        if (plain) {
            uri += static_cast<char>(ch);
        } else {
            uri += '%';
            uri += hex[ch >> 4];
            uri += hex[ch & 15];
        }
    }
    return uri;
}

UnpackedFmu::~UnpackedFmu() {
    removeDirectory();
}

bool UnpackedFmu::fail(std::string message) {
    error_ = std::move(message);
    removeDirectory();
    return false;
}

void UnpackedFmu::removeDirectory() {
    if (!directory_.empty()) {
        std::error_code ignored;
        fs::remove_all(directory_, ignored);
        forgetTemporary(directory_);
        directory_.clear();
    }
    libraryPath_.clear();
    resourceUri_.clear();
}

bool UnpackedFmu::open(const std::string &fmuPath) {
    removeDirectory();
    error_.clear();
    description_ = ModelDescription{};
    descriptionText_.clear();

    // Every entry's name is checked, but only what a run uses is read: the
    // description into memory, this platform's binaries and the resources
    // onto disk. Documentation, sources and other platforms stay packed.
    ZipReader archive;
    if (std::string problem = archive.open(fmuPath, ".fmu (zip archive)"); !problem.empty())
        return fail(problem);
    if (archive.find("modelDescription.xml") == nullptr)
        return fail(fmuPath + ": the archive holds no modelDescription.xml");
    if (std::string problem = archive.read("modelDescription.xml", MAX_DESCRIPTION_TEXT, descriptionText_);
        !problem.empty())
        return fail(problem);
    if (std::string problem = parseModelDescription(descriptionText_, description_); !problem.empty())
        return fail(fmuPath + ": modelDescription.xml: " + problem);
    if (std::string problem = distrustDescription(descriptionText_, description_); !problem.empty())
        return fail(fmuPath + ": modelDescription.xml: " + problem);

    const std::string platform = std::string("binaries/") + platformFolder(description_.isFmi3()) + "/";
    const std::string relative = platform + description_.libraryIdentifier() + librarySuffix();
    if (archive.find(relative) == nullptr) {
        std::set<std::string> platforms;
        for (const ZipReader::Entry &entry : archive.entries()) {
            if (entry.name.rfind("binaries/", 0) == 0 && entry.name.size() > 9)
                platforms.insert(entry.name.substr(9, entry.name.find('/', 9) - 9));
        }
        std::string present;
        for (const std::string &name : platforms)
            present += (present.empty() ? "" : ", ") + name;
        return fail(fmuPath + ": no library for this platform (" + relative +
                    "); platforms in the archive: " + (present.empty() ? "none" : present));
    }

    // A private folder for this copy of the unit.
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec)
        base = "/tmp";
    std::string pattern = (base / "kestrune-fmu-XXXXXX").string();
    {
        // Made and remembered as one, so that an interruption cannot come
        // between them and miss the folder.
        const InterruptionHold hold = holdOffInterruption();
        if (mkdtemp(pattern.data()) == nullptr)
            return fail("cannot create a folder to unpack " + fmuPath + " into: " + std::strerror(errno));
        directory_ = pattern;
        rememberTemporary(directory_);
    }

    const fs::path description = fs::path(directory_) / "modelDescription.xml";
    std::ofstream out(description, std::ios::binary | std::ios::trunc);
    out.write(descriptionText_.data(), static_cast<std::streamsize>(descriptionText_.size()));
    out.close();
    if (!out)
        return fail("cannot write " + description.string());
    for (const std::string &prefix : {platform, std::string("resources/")}) {
        if (std::string problem = archive.unpackUnder(prefix, directory_, MAX_UNPACKED_FILE);
            !problem.empty())
            return fail(problem);
    }
    libraryPath_ = (fs::path(directory_) / relative).string();
    resourceUri_ = fileUri((fs::path(directory_) / "resources").string());
    return true;
}

} // namespace kestrune::master
