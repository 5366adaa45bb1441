// Test folders made afresh under the temporary folder, and a file's whole
// text, for the tests that run the tools into files.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace kestrune::testing_files {

inline std::string text(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

// TMP/PREFIX-NAME, emptied.
inline std::filesystem::path scratch(const std::string &prefix, const std::string &name) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / (prefix + "-" + name);
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

} // namespace kestrune::testing_files
