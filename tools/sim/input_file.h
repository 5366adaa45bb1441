// kestrune's JSON input files (scenarios, sweeps, batteries): found by name
// or path, read whole, and parsed into a document with one form of message
// for text that is not JSON or is nested too deep.
#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace kestrune::sim {

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

// The deepest nesting of objects and arrays a JSON input may have; a
// document is copied, written and walked by recursion, so deeper text is
// refused before it becomes one.
inline constexpr int maxJsonDepth = 64;

// Scans `text` for objects and arrays nested deeper than maxJsonDepth,
// skipping brackets inside strings. Returns "" or "SOURCE: line L, column C:
// an object (or array) nested deeper than 64 levels" at the bracket that
// goes too deep (lines and columns from 1, in bytes).
inline std::string jsonNestingProblem(const std::string &text, const std::string &source) {
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    std::size_t line = 1;
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n') {
            ++line;
            lineStart = i + 1;
        }
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            if (++depth > maxJsonDepth)
                return source + ": line " + std::to_string(line) + ", column " +
                       std::to_string(i - lineStart + 1) + ": " + (c == '{' ? "an object" : "an array") +
                       " nested deeper than " + std::to_string(maxJsonDepth) + " levels";
        } else if ((c == '}' || c == ']') && depth > 0) {
            --depth;
        }
    }
    return "";
}

// Parses `text` into `document` (nlohmann::json or ordered_json). Returns "",
// the nesting problem above, or "SOURCE: not valid JSON: WHAT" for syntax
// errors and numbers beyond the double range; the library's text starts with
// its own tag in brackets, then says where and what, and only the where and
// what are kept.
template <class Json>
std::string parseJsonText(const std::string &text, const std::string &source, Json &document) {
    if (std::string problem = jsonNestingProblem(text, source); !problem.empty())
        return problem;
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
