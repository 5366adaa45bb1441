// The modelDescription.xml of the plant FMU (kestrune-describe --plant),
// written from the variable list its library is built from.
#pragma once

#include <string>

namespace kestrune::describe {

std::string describePlant(const std::string &generationDateAndTime, const std::string &version);

} // namespace kestrune::describe
