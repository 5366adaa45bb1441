// A .fmu as a master receives it: a zip archive holding modelDescription.xml
// and one shared library per platform. UnpackedFmu reads the description
// and unpacks what a run of it needs into a private temporary folder.
#pragma once

#include "fmu/fmi2.h"

#include <optional>
#include <string>
#include <vector>

namespace kestrune::master {

struct DescribedVariable {
    std::string name;
    fmi2ValueReference vr = 0;
    std::string causality;   // as written, "local" when absent
    std::string variability; // as written, "continuous" when absent
    std::string initial;     // as written, "" when absent
    bool isReal = false;
    std::optional<double> start;
    // The FMI 3.0 clocks= list as written, absent when the variable has none.
    std::optional<std::string> clocks;
    // An FMI 3.0 Clock, with its intervalVariability as written and its
    // period: the intervalDecimal, else intervalCounter / resolution.
    bool isClock = false;
    std::string intervalVariability;
    std::optional<double> interval;
};

struct ModelDescription {
    std::string fmiVersion; // "2.0", or "3.0" for the FMI 3.0 edition
    std::string modelName;
    std::string guid; // the FMI 2.0 guid, or the FMI 3.0 instantiationToken
    // Of the CoSimulation element, "" without one (an FMI 3.0 archive may
    // offer scheduled execution alone).
    std::string modelIdentifier;
    // Of the ScheduledExecution element (FMI 3.0), "" without one.
    std::string scheduledModelIdentifier;
    std::vector<DescribedVariable> variables;

    bool isFmi3() const { return fmiVersion.rfind("3.", 0) == 0; }
    bool offersCoSimulation() const { return !modelIdentifier.empty(); }
    bool offersScheduledExecution() const { return !scheduledModelIdentifier.empty(); }
    // The library the archive's binaries/ folder holds: co-simulation's,
    // else scheduled execution's.
    const std::string &libraryIdentifier() const {
        return offersCoSimulation() ? modelIdentifier : scheduledModelIdentifier;
    }

    // The variable called name, or null. A real variable is an FMI 2.0 Real
    // or an FMI 3.0 Float64.
    const DescribedVariable *find(const std::string &name) const;
};

// Reads a modelDescription.xml text of FMI 2.0 or 3.0. Returns "" on
// success, else what is wrong.
std::string parseModelDescription(const std::string &xml, ModelDescription &description);

// The folder below binaries/ and the library suffix of the platform this
// program was built for: "linux64" ("x86_64-linux" for FMI 3.0) and ".so",
// or "win64" ("x86_64-windows") and ".dll".
const char *platformFolder(bool fmi3 = false);
const char *librarySuffix();

// "file:///..." for an absolute local path, with every byte outside the
// unreserved set and '/' percent-encoded.
std::string fileUri(const std::string &absolutePath);

class UnpackedFmu {
  public:
    UnpackedFmu() = default;
    UnpackedFmu(const UnpackedFmu &) = delete;
    UnpackedFmu &operator=(const UnpackedFmu &) = delete;
    // Removes the unpacked folder.
    ~UnpackedFmu();

    // Reads the description of the archive at fmuPath and unpacks it,
    // binaries/<platform>/ (the library <libraryIdentifier><suffix> and its
    // neighbours) and resources/ into the folder. False with error() set,
    // and no folder left, when the file is missing, is no zip archive, holds
    // an unsafe entry name or one name twice, lacks or has a broken
    // description, lacks this platform's library, or holds an entry it uses
    // that unpacks beyond the limits of common/archive_limits.h.
    bool open(const std::string &fmuPath);

    const std::string &error() const { return error_; }
    const ModelDescription &description() const { return description_; }
    // modelDescription.xml as the archive holds it.
    const std::string &descriptionText() const { return descriptionText_; }
    const std::string &directory() const { return directory_; }
    const std::string &libraryPath() const { return libraryPath_; }
    // The URI of the resources folder, whether or not the archive has one.
    const std::string &resourceUri() const { return resourceUri_; }

  private:
    bool fail(std::string message);
    void removeDirectory();

    std::string error_;
    std::string directory_;
    std::string libraryPath_;
    std::string resourceUri_;
    ModelDescription description_;
    std::string descriptionText_;
};

} // namespace kestrune::master
