// Unpacking a .fmu with libzip and reading its description with pugixml.
#include "fmu_archive.h"

#include "description_trust.h"

#include <pugixml.hpp>
#include <zip.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
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

// An entry name that stays inside the folder it is unpacked into: relative,
// '/'-separated, without "." or ".." segments or a drive letter.
bool safeEntryName(const std::string &name) {
    if (name.empty() || name.front() == '/' || name.find('\\') != std::string::npos ||
        name.find(':') != std::string::npos || name.find('\0') != std::string::npos)
        return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t slash = std::min(name.find('/', start), name.size());
        const std::string segment = name.substr(start, slash - start);
        if (segment == "." || segment == "..")
            return false;
        if (segment.empty() && slash != name.size())
            return false; // "a//b"
        start = slash + 1;
    }
    return true;
}

struct ZipCloser {
    void operator()(zip_t *archive) const { zip_discard(archive); }
};
struct ZipFileCloser {
    void operator()(zip_file_t *file) const { zip_fclose(file); }
};

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
        directory_.clear();
    }
    libraryPath_.clear();
    resourceUri_.clear();
}

bool UnpackedFmu::open(const std::string &fmuPath) {
    removeDirectory();
    error_.clear();
    description_ = ModelDescription{};

    std::error_code ec;
    if (!fs::exists(fmuPath, ec))
        return fail(fmuPath + ": no such file");
    if (!fs::is_regular_file(fmuPath, ec))
        return fail(fmuPath + ": not a regular file");

    int zipError = 0;
    std::unique_ptr<zip_t, ZipCloser> archive(zip_open(fmuPath.c_str(), ZIP_RDONLY, &zipError));
    if (!archive) {
        zip_error_t error;
        zip_error_init_with_code(&error, zipError);
        std::string text = zip_error_strerror(&error);
        zip_error_fini(&error);
        return fail(fmuPath + ": not a readable .fmu (zip archive): " + text);
    }

    // A private folder for this copy of the unit.
    fs::path base = fs::temp_directory_path(ec);
    if (ec)
        base = "/tmp";
    std::string pattern = (base / "kestrune-fmu-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        return fail("cannot create a folder to unpack " + fmuPath + " into: " + std::strerror(errno));
    directory_ = pattern;

    const zip_int64_t entries = zip_get_num_entries(archive.get(), 0);
    std::string descriptionText;
    bool haveDescription = false;
    // A name held twice would leave open which copy is the unit: the one
    // read or the one left on disk.
    std::set<std::string> names;
    for (zip_int64_t i = 0; i < entries; ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        const char *rawName = zip_get_name(archive.get(), index, ZIP_FL_ENC_RAW);
        const std::string name = rawName != nullptr ? rawName : "";
        if (!safeEntryName(name))
            return fail(fmuPath + ": refusing the archive entry \"" + name +
                        "\" (absolute, with '..' or '\\', or otherwise outside the unit's folder)");
        if (!names.insert(name).second)
            return fail(fmuPath + ": the archive holds \"" + name + "\" twice");
        const fs::path target = fs::path(directory_) / name;
        if (name.back() == '/') {
            fs::create_directories(target, ec);
            if (ec)
                return fail("cannot create " + target.string() + ": " + ec.message());
            continue;
        }
        fs::create_directories(target.parent_path(), ec);
        if (ec)
            return fail("cannot create " + target.parent_path().string() + ": " + ec.message());
        std::unique_ptr<zip_file_t, ZipFileCloser> file(zip_fopen_index(archive.get(), index, 0));
        if (!file)
            return fail(fmuPath + ": cannot read \"" + name + "\": " + zip_strerror(archive.get()));
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        if (!out)
            return fail("cannot write " + target.string());
        const bool isDescription = name == "modelDescription.xml";
        char buffer[1 << 16];
        for (;;) {
            const zip_int64_t n = zip_fread(file.get(), buffer, sizeof buffer);
            if (n < 0)
                return fail(fmuPath + ": \"" + name + "\" is damaged: " + zip_file_strerror(file.get()));
            if (n == 0)
                break;
            out.write(buffer, static_cast<std::streamsize>(n));
            if (isDescription)
                descriptionText.append(buffer, static_cast<std::size_t>(n));
        }
        out.close();
        if (!out)
            return fail("cannot write " + target.string());
        haveDescription = haveDescription || isDescription;
    }
    if (!haveDescription)
        return fail(fmuPath + ": the archive holds no modelDescription.xml");

    if (std::string problem = parseModelDescription(descriptionText, description_); !problem.empty())
        return fail(fmuPath + ": modelDescription.xml: " + problem);
    if (std::string problem = distrustDescription(descriptionText, description_); !problem.empty())
        return fail(fmuPath + ": modelDescription.xml: " + problem);

    const std::string relative = std::string("binaries/") + platformFolder(description_.isFmi3()) + "/" +
                                 description_.libraryIdentifier() + librarySuffix();
    const fs::path library = fs::path(directory_) / relative;
    if (!fs::is_regular_file(library, ec)) {
        std::string present;
        for (const auto &entry : fs::directory_iterator(fs::path(directory_) / "binaries", ec)) {
            present += (present.empty() ? "" : ", ") + entry.path().filename().string();
        }
        return fail(fmuPath + ": no library for this platform (" + relative +
                    "); platforms in the archive: " + (present.empty() ? "none" : present));
    }
    libraryPath_ = library.string();
    resourceUri_ = fileUri((fs::path(directory_) / "resources").string());
    return true;
}

} // namespace kestrune::master
