#include "children/param_matrix.h"

#include "model/numeric.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace kestrune {

namespace {

constexpr double TWO_POW_63 = 9223372036854775808.0;
constexpr double TWO_POW_64 = 18446744073709551616.0;

// A dimension stored as a double, as an unsigned 64-bit count. Values of 2^63
// and above convert too; NaN and values below 1 give 0, values of 2^64 and
// above the largest count.
std::uint64_t toCount(double x) {
    if (!(x >= 1.0)) {
        return 0U;
    }
    if (x >= TWO_POW_64) {
        return UINT64_MAX;
    }
    if (x >= TWO_POW_63) {
        return static_cast<std::uint64_t>(x - TWO_POW_63) + (std::uint64_t{1} << 63);
    }
    return static_cast<std::uint64_t>(x);
}

ParamMatrix *allocateBlock(std::size_t elements) {
    return static_cast<ParamMatrix *>(std::calloc(elements + PARAM_HEADER, sizeof(ParamMatrix)));
}

} // namespace

ParamMatrix *paramCreateMatrix(std::int32_t rows, std::int32_t cols, std::int32_t complexFlag) {
    if (complexFlag != 0 || rows < 0 || cols < 0) {
        return nullptr;
    }
    ParamMatrix *value = allocateBlock(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols));
    if (value != nullptr) {
        value[0] = rows;
        value[1] = cols;
    }
    return value;
}

ParamMatrix *paramCreateArray(std::int32_t numDims, const std::int64_t dims[], std::int32_t classId,
                              std::int32_t complexFlag) {
    if (numDims != 2 || classId != PARAM_CLASS_DOUBLE || dims == nullptr) {
        return nullptr;
    }
    // The low 32 bits of each dimension.
    const auto rows = static_cast<std::int32_t>(static_cast<std::uint32_t>(dims[0] & 0xFFFFFFFF));
    const auto cols = static_cast<std::int32_t>(static_cast<std::uint32_t>(dims[1] & 0xFFFFFFFF));
    return paramCreateMatrix(rows, cols, complexFlag);
}

ParamMatrix *paramCreateString(const char *text) {
    const std::size_t n = std::strlen(text);
    ParamMatrix *value = allocateBlock(n);
    if (value == nullptr) {
        return nullptr;
    }
    value[0] = 1.0;
    value[1] = static_cast<double>(n);
    for (std::size_t k = 0; k < n; ++k) {
        value[PARAM_HEADER + k] = static_cast<unsigned char>(text[k]);
    }
    return value;
}

ParamMatrix *paramCreateStringArray(std::int32_t count, const char *const texts[]) {
    const std::size_t rows = count > 0 ? static_cast<std::size_t>(count) : 0U;
    std::size_t maxLength = 0;
    for (std::size_t j = 0; j < rows; ++j) {
        const std::size_t length = std::strlen(texts[j]);
        if (length > maxLength) {
            maxLength = length;
        }
    }
    ParamMatrix *value = allocateBlock(rows * maxLength);
    if (value == nullptr) {
        return nullptr;
    }
    value[0] = static_cast<double>(rows);
    value[1] = static_cast<double>(maxLength);
    // Column-major: character k of string j sits at row j, column k. The
    // padding after a shorter string stays 0.0 from the allocation.
    for (std::size_t j = 0; j < rows; ++j) {
        const std::size_t length = std::strlen(texts[j]);
        for (std::size_t k = 0; k < length; ++k) {
            value[PARAM_HEADER + j + k * rows] = static_cast<signed char>(texts[j][k]);
        }
    }
    return value;
}

ParamMatrix *paramDuplicate(const ParamMatrix *value) {
    const std::uint64_t *dims = paramGetDimensions(value);
    const std::size_t elements = static_cast<std::size_t>(dims[0] * dims[1]);
    ParamMatrix *copy = allocateBlock(elements);
    if (copy != nullptr) {
        std::memcpy(copy, value, (elements + PARAM_HEADER) * sizeof(ParamMatrix));
    }
    return copy;
}

const std::uint64_t *paramGetDimensions(const ParamMatrix *value) {
    thread_local std::uint64_t dimensions[2];
    dimensions[0] = toCount(value[0]);
    dimensions[1] = toCount(value[1]);
    return dimensions;
}

std::int32_t paramGetString(const ParamMatrix *value, char *buffer, std::int32_t bufferLength) {
    const std::uint64_t *dims = paramGetDimensions(value);
    const std::uint64_t n = dims[0] * dims[1];
    const bool fits = bufferLength > 0 && n < static_cast<std::uint64_t>(bufferLength);
    if (buffer == nullptr || bufferLength <= 0) {
        return fits ? 0 : 1;
    }
    const std::uint64_t copied = fits ? n : static_cast<std::uint64_t>(bufferLength) - 1U;
    for (std::uint64_t k = 0; k < copied; ++k) {
        // Rounded by adding one half and truncating; the low byte is kept.
        const std::int32_t code = truncateToInt32(value[PARAM_HEADER + k] + 0.5);
        buffer[k] = static_cast<char>(static_cast<std::uint32_t>(code) & 0xFFU);
    }
    buffer[copied] = '\0';
    return fits ? 0 : 1;
}

bool paramIsNull(const void *value) {
    return value == nullptr;
}

} // namespace kestrune
