// Reading an .ssp: reads SystemStructure.ssd and the parameter sets it binds
// from the archive into memory, and unpacks only the .fmu files its
// components name into a temporary folder that the system keeps
// (SspSystem::unpacked).
#pragma once

#include "ssp_system.h"

#include <string>

namespace kestrune::ssp {

// Reads the .ssp at path into system: its FMU components (archive set to
// the unpacked file), connectors (a connector without a type takes its
// variable's), connections, system- and component-level parameter
// bindings (from .ssv files or inline), default experiment and step
// annotation. Refuses, with a clear message, what this system cannot run:
// nested systems, signal dictionaries, parameter mappings, system
// connectors, components that are no co-simulation FMU or whose source is
// missing, connectors no variable of the FMU carries, and connections that
// join anything but a Real output to a Real input. "" or the message.
std::string readSsp(const std::string &path, SspSystem &system);

// Where the files an .ssd names come from: the .ssp itself or a folder it
// was unpacked into. Each source is a relative path inside the .ssp.
class SspFiles {
  public:
    virtual ~SspFiles() = default;
    // Whether the .ssp holds the file source.
    virtual bool holds(const std::string &source) = 0;
    // Reads a parameter file into text, refusing one beyond
    // MAX_DESCRIPTION_TEXT: "" or what is wrong.
    virtual std::string read(const std::string &source, std::string &text) = 0;
    // The file on this machine, unpacked if need be, in path: "" or what is
    // wrong.
    virtual std::string file(const std::string &source, std::string &path) = 0;
};

// The same from SystemStructure.ssd text, with the files it names taken
// from files.
std::string readSystemStructure(const std::string &ssdText, SspFiles &files, SspSystem &system);

// The same with the files it names resolved under folder.
std::string readSystemStructure(const std::string &ssdText, const std::string &folder, SspSystem &system);

} // namespace kestrune::ssp
