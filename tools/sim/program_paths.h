// Where a tool finds its default archive, scenarios and sweeps: relative to
// the program's own folder, installed or in the build tree.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <string>

namespace kestrune::sim {

// The program's folder, from the link the kernel keeps to it; "" when it
// cannot be read.
std::filesystem::path programFolder();

// The first candidate that exists, relative to the program's folder; the
// first one when none does, so that messages name where it was looked for.
std::string firstExisting(const std::filesystem::path &folder,
                          std::initializer_list<const char *> candidates);

} // namespace kestrune::sim
