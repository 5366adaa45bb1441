// The command lines of kestrune-sweep and kestrune-battery: options that
// take a value, and the number of workers.
#pragma once

#include "scenario.h"

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace kestrune::sweep {

// When `arg` (argv[i]) is one of the options in `valued`, given as
// "--name=VALUE" or as "--name VALUE" (then i moves past VALUE), leaves the
// name in `arg` and the value in `value`. False when the value is missing.
inline bool takeOptionValue(int argc, char **argv, int &i, std::initializer_list<std::string_view> valued,
                            std::string_view &arg, std::string &value) {
    bool takesValue = false;
    for (const std::string_view option : valued)
        if (arg == option || arg.starts_with(std::string(option) + "="))
            takesValue = true;
    if (!takesValue)
        return true;
    if (const std::size_t eq = arg.find('='); eq != std::string_view::npos) {
        value = std::string(arg.substr(eq + 1));
        arg = arg.substr(0, eq);
    } else if (i + 1 < argc) {
        value = argv[++i];
    } else {
        return false;
    }
    return true;
}

// The value of --jobs: a whole number from 1 to 4096, else nullopt.
inline std::optional<unsigned> parseJobs(const std::string &value) {
    const std::optional<double> n = sim::parseReal(value);
    if (!n || *n < 1.0 || *n > 4096.0 || *n != static_cast<double>(static_cast<unsigned>(*n)))
        return std::nullopt;
    return static_cast<unsigned>(*n);
}

} // namespace kestrune::sweep
