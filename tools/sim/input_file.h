// kestrune's JSON input files (scenarios, sweeps, batteries): found by name
// or path, read whole, and parsed into a document with one form of message
// for text that is not JSON.
#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace kestrune::sim {

// Parses `text` into `document` (nlohmann::json or ordered_json). Returns ""
// or "SOURCE: not valid JSON: WHAT" for syntax errors and numbers beyond the
// double range; the library's text starts with its own tag in brackets, then
// says where and what, and only the where and what are kept.
// The file NAME (NAME.json in `directory`) when `nameOrPath` is a bare name,
// else the path given; `byName` says which.
inline std::filesystem::path inputFilePath(const std::string &nameOrPath, const std::string &directory,
                                           bool &byName) {
    byName = nameOrPath.find('/') == std::string::npos && !nameOrPath.ends_with(".json");
    return byName ? std::filesystem::path(directory) / (nameOrPath + ".json")
                  : std::filesystem::path(nameOrPath);
}

// Reads the whole file into `text`. Returns "" or "PATH: cannot be read".
inline std::string readInputFile(const std::filesystem::path &path, std::string &text) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return path.string() + ": cannot be read";
    std::ostringstream whole;
    whole << file.rdbuf();
    text = whole.str();
    return "";
}

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
