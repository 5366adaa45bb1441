// JSON text nested as deep as a test asks, for the readers' depth limit.
#pragma once

#include <cstddef>
#include <string>

namespace kestrune {

// `depth` objects ({"a": ... 1}) or arrays ([ ... ]) inside one another.
inline std::string nestedJson(std::size_t depth, bool objects) {
    std::string open;
    for (std::size_t d = 0; d < depth; ++d)
        open += objects ? "{\"a\": " : "[";
    return objects ? open + "1" + std::string(depth, '}') : open + std::string(depth, ']');
}

} // namespace kestrune
