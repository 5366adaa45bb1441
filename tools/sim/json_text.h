// JSON text of kestrune's input files (scenarios, sweeps, batteries) read
// into a document, with one form of message for text that is not JSON.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace kestrune::sim {

// Parses `text` into `document` (nlohmann::json or ordered_json). Returns ""
// or "SOURCE: not valid JSON: WHAT" for syntax errors and numbers beyond the
// double range; the library's text starts with its own tag in brackets, then
// says where and what, and only the where and what are kept.
template <class Json>
std::string parseJsonText(const std::string &text, const std::string &source, Json &document) {
    try {
        document = Json::parse(text);
    } catch (const typename Json::exception &error) {
        std::string what = error.what();
        if (const std::size_t tagEnd = what.find("] "); what.starts_with('[') && tagEnd != std::string::npos)
            what = what.substr(tagEnd + 2);
        return source + ": not valid JSON: " + what;
    }
    return "";
}

} // namespace kestrune::sim
