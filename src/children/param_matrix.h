// The value format in which a hosted block receives its parameters: one
// contiguous block of doubles, rows and cols first, then the rows x cols
// elements in column-major order (element (r, c) at 2 + r + c * rows). Text is
// stored one character code per element.
#pragma once

#include <cstdint>

namespace kestrune {

// A parameter value is addressed by its first double; a pointer to a
// ParamMatrix points at the whole block.
using ParamMatrix = double;

inline constexpr int PARAM_HEADER = 2; // rows and cols precede the elements

// A 1 x 1 value stored statically in the model's parameters.
struct ScalarParam {
    ParamMatrix block[PARAM_HEADER + 1];
};

// The element area of a value.
inline const double *paramData(const ParamMatrix *value) {
    return value + PARAM_HEADER;
}

// The first element of a value, which is the whole of a 1 x 1 value.
inline double paramScalar(const ParamMatrix *value) {
    return value[PARAM_HEADER];
}

// Values made by these operations come from the C heap; the caller releases
// them with free. Each returns null when the heap is exhausted.

// A zero-filled rows x cols value; null for a complex value.
ParamMatrix *paramCreateMatrix(std::int32_t rows, std::int32_t cols, std::int32_t complexFlag);

inline constexpr std::int32_t PARAM_CLASS_DOUBLE = 6;

// paramCreateMatrix for a two-dimensional array of doubles; null for any
// other shape or class.
ParamMatrix *paramCreateArray(std::int32_t numDims, const std::int64_t dims[], std::int32_t classId,
                              std::int32_t complexFlag);

// A 1 x strlen(text) value of the characters read as unsigned bytes.
ParamMatrix *paramCreateString(const char *text);

// One row per string, as many columns as the longest string, characters read
// as signed bytes, shorter rows padded with 0.0.
ParamMatrix *paramCreateStringArray(std::int32_t count, const char *const texts[]);

// A copy of the whole block.
ParamMatrix *paramDuplicate(const ParamMatrix *value);

// {rows, cols} as unsigned 64-bit integers, in one buffer per thread that
// every call on that thread overwrites: models on other threads start their
// hosted blocks at the same time.
const std::uint64_t *paramGetDimensions(const ParamMatrix *value);

// Copies the characters of a value into buffer with a terminating zero byte,
// at most bufferLength - 1 of them. Returns 1 when the text did not fit,
// else 0.
std::int32_t paramGetString(const ParamMatrix *value, char *buffer, std::int32_t bufferLength);

bool paramIsNull(const void *value);

} // namespace kestrune
