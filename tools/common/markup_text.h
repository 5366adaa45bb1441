// Text placed in XML attributes and HTML: the characters markup gives a
// meaning (& < > ") written as entities.
#pragma once

#include <string>
#include <string_view>

namespace kestrune {

inline std::string markupEscaped(std::string_view text) {
    std::string out;
    for (const char ch : text) {
        switch (ch) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += ch;
        }
    }
    return out;
}

} // namespace kestrune
