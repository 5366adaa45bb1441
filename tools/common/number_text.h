// Numbers in the tools' messages and labels.
#pragma once

#include <sstream>
#include <string>

namespace kestrune {

// The value with at most `digits` significant digits (12 unless given), as a
// stream prints it ("0.3", "4e+05").
inline std::string numberText(double value, int digits = 12) {
    std::ostringstream text;
    text.precision(digits);
    text << value;
    return text.str();
}

} // namespace kestrune
