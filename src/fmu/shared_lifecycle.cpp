// Start times and copied texts of both FMI editions.
#include "fmu/shared_lifecycle.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace kestrune {

bool acceptsStartTime(double startTime) {
    // Written so that a NaN start time fails the test too.
    return std::fabs(startTime) <= START_TIME_TOLERANCE;
}

char *copyText(const char *text) {
    const std::size_t size = std::strlen(text) + 1;
    auto *copy = static_cast<char *>(std::malloc(size));
    if (copy != nullptr) {
        std::memcpy(copy, text, size);
    }
    return copy;
}

} // namespace kestrune
