// Reading an .ssp: unpacks it into a temporary folder that the system keeps
// (SspSystem::unpacked), and reads SystemStructure.ssd and the parameter
// sets it binds.
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

// The same from SystemStructure.ssd text, with the files it names resolved
// under folder.
std::string readSystemStructure(const std::string &ssdText, const std::string &folder, SspSystem &system);

} // namespace kestrune::ssp
