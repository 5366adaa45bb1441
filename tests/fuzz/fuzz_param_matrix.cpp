// Fuzzes the parameter matrix operations: values built from text, from
// dimensions and from arbitrary doubles (NaN, infinities, fractional and
// out-of-range dimensions and characters), their duplication and the text
// extraction into buffers of every length, each buffer exactly as large as
// the length claimed. Results are compared with the value format's rules.
#include "children/param_matrix.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

using kestrune::ParamMatrix;

// Values above this many elements are not built: the fuzzer looks for
// faults, not for the heap's limit.
constexpr std::uint64_t MAX_ELEMENTS = 4096;

#define CHECK(condition)                                                                                     \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "check failed at line %d: %s\n", __LINE__, #condition);                     \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)

// The character a stored element stands for: rounded by adding one half and
// truncating to int32 (out of range and NaN give INT32_MIN), low byte kept.
char characterOf(double element) {
    const double x = element + 0.5;
    std::int32_t code = std::numeric_limits<std::int32_t>::min();
    if (x > -2147483649.0 && x < 2147483648.0) {
        code = static_cast<std::int32_t>(x);
    }
    return static_cast<char>(static_cast<std::uint32_t>(code) & 0xFFU);
}

// A dimension as the format reads it: whole part as an unsigned count, 0 for
// NaN and anything below 1.
std::uint64_t countOf(double x) {
    return x >= 1.0 ? static_cast<std::uint64_t>(x) : 0U;
}

// paramGetString into a buffer of exactly bufferLength bytes (none for a
// length of zero or less), checked against the rules.
void checkGetString(const ParamMatrix *value, std::uint64_t elements, std::int32_t bufferLength) {
    const std::size_t size = bufferLength > 0 ? static_cast<std::size_t>(bufferLength) : 0U;
    auto *buffer = static_cast<char *>(std::malloc(size));
    const std::int32_t truncated = kestrune::paramGetString(value, buffer, bufferLength);
    const bool fits = bufferLength > 0 && elements < static_cast<std::uint64_t>(bufferLength);
    CHECK(truncated == (fits ? 0 : 1));
    if (bufferLength > 0) {
        const std::uint64_t copied = fits ? elements : static_cast<std::uint64_t>(bufferLength) - 1U;
        for (std::uint64_t k = 0; k < copied; ++k) {
            CHECK(buffer[k] == characterOf(value[kestrune::PARAM_HEADER + k]));
        }
        CHECK(buffer[copied] == '\0');
    }
    std::free(buffer);
}

std::int32_t bufferLengthFor(FuzzedDataProvider &data, std::uint64_t elements) {
    return data.ConsumeIntegralInRange<std::int32_t>(-2, static_cast<std::int32_t>(elements) + 3);
}

void checkDuplicate(const ParamMatrix *value, std::uint64_t elements) {
    ParamMatrix *copy = kestrune::paramDuplicate(value);
    CHECK(copy != nullptr);
    CHECK(std::memcmp(copy, value, (elements + kestrune::PARAM_HEADER) * sizeof(double)) == 0);
    std::free(copy);
}

double anyDouble(FuzzedDataProvider &data) {
    static const double special[] = {0.0,
                                     -0.0,
                                     0.5,
                                     -0.5,
                                     97.6,
                                     255.5,
                                     -128.0,
                                     2147483647.0,
                                     2147483647.5,
                                     -2147483648.5,
                                     -2147483649.0,
                                     1e300,
                                     -1e300,
                                     std::numeric_limits<double>::max(),
                                     std::numeric_limits<double>::infinity(),
                                     -std::numeric_limits<double>::infinity(),
                                     std::numeric_limits<double>::quiet_NaN(),
                                     std::numeric_limits<double>::denorm_min()};
    if (data.ConsumeBool()) {
        return special[data.ConsumeIntegralInRange<std::size_t>(0, std::size(special) - 1)];
    }
    std::uint64_t bits = data.ConsumeIntegral<std::uint64_t>();
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

// A dimension stored as a double whose count stays small: a whole number, a
// fraction, or something that reads as 0.
double dimension(FuzzedDataProvider &data) {
    static const double nothing[] = {0.0,
                                     -1.0,
                                     0.999,
                                     std::numeric_limits<double>::quiet_NaN(),
                                     -std::numeric_limits<double>::infinity(),
                                     -1e300};
    switch (data.ConsumeIntegralInRange<int>(0, 2)) {
    case 0:
        return data.ConsumeIntegralInRange<int>(0, 64);
    case 1:
        return data.ConsumeIntegralInRange<int>(1, 64) + data.ConsumeProbability<double>() * 0.999;
    default:
        return nothing[data.ConsumeIntegralInRange<std::size_t>(0, std::size(nothing) - 1)];
    }
}

void fromText(FuzzedDataProvider &data) {
    const std::string text = data.ConsumeRandomLengthString(600).c_str();
    ParamMatrix *value = kestrune::paramCreateString(text.c_str());
    CHECK(value != nullptr);
    CHECK(value[0] == 1.0 && value[1] == static_cast<double>(text.size()));
    const std::uint64_t *dims = kestrune::paramGetDimensions(value);
    CHECK(dims[0] == 1U && dims[1] == text.size());
    for (std::size_t k = 0; k < text.size(); ++k) {
        CHECK(value[kestrune::PARAM_HEADER + k] == static_cast<unsigned char>(text[k]));
    }
    checkGetString(value, text.size(), bufferLengthFor(data, text.size()));
    checkDuplicate(value, text.size());
    std::free(value);
}

void fromTexts(FuzzedDataProvider &data) {
    const auto count = data.ConsumeIntegralInRange<std::int32_t>(0, 8);
    std::vector<std::string> texts;
    std::vector<const char *> pointers;
    std::size_t maxLength = 0;
    for (std::int32_t j = 0; j < count; ++j) {
        texts.push_back(data.ConsumeRandomLengthString(64).c_str());
        maxLength = std::max(maxLength, texts.back().size());
    }
    for (const std::string &text : texts) {
        pointers.push_back(text.c_str());
    }
    ParamMatrix *value = kestrune::paramCreateStringArray(count, pointers.data());
    CHECK(value != nullptr);
    const auto rows = static_cast<std::size_t>(count);
    CHECK(value[0] == static_cast<double>(rows) && value[1] == static_cast<double>(maxLength));
    for (std::size_t j = 0; j < rows; ++j) {
        for (std::size_t k = 0; k < maxLength; ++k) {
            const double expected = k < texts[j].size() ? static_cast<signed char>(texts[j][k]) : 0.0;
            CHECK(value[kestrune::PARAM_HEADER + j + k * rows] == expected);
        }
    }
    checkGetString(value, rows * maxLength, bufferLengthFor(data, rows * maxLength));
    checkDuplicate(value, rows * maxLength);
    std::free(value);
}

void fromDoubles(FuzzedDataProvider &data) {
    const double rows = dimension(data);
    const double cols = dimension(data);
    const std::uint64_t elements = countOf(rows) * countOf(cols);
    if (elements > MAX_ELEMENTS) {
        return;
    }
    std::vector<double> block(elements + kestrune::PARAM_HEADER);
    block[0] = rows;
    block[1] = cols;
    for (std::uint64_t k = 0; k < elements; ++k) {
        block[kestrune::PARAM_HEADER + k] = anyDouble(data);
    }
    // The value in a heap block of exactly its size.
    auto *value = static_cast<ParamMatrix *>(std::malloc(block.size() * sizeof(double)));
    std::memcpy(value, block.data(), block.size() * sizeof(double));
    const std::uint64_t *dims = kestrune::paramGetDimensions(value);
    CHECK(dims[0] == countOf(rows) && dims[1] == countOf(cols));
    checkGetString(value, elements, bufferLengthFor(data, elements));
    checkDuplicate(value, elements);
    std::free(value);
}

void checkCreated(ParamMatrix *value, std::int32_t rows, std::int32_t cols, std::int32_t complexFlag) {
    if (complexFlag != 0 || rows < 0 || cols < 0) {
        CHECK(value == nullptr);
        return;
    }
    CHECK(value != nullptr);
    CHECK(value[0] == rows && value[1] == cols);
    const auto elements = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
    for (std::size_t k = 0; k < elements; ++k) {
        CHECK(value[kestrune::PARAM_HEADER + k] == 0.0);
    }
    std::free(value);
}

void fromDimensions(FuzzedDataProvider &data) {
    const auto rows = data.ConsumeIntegralInRange<std::int32_t>(-3, 64);
    const auto cols = data.ConsumeIntegralInRange<std::int32_t>(-3, 64);
    const std::int32_t complexFlag = data.ConsumeBool() ? 0 : data.ConsumeIntegral<std::int32_t>();
    checkCreated(kestrune::paramCreateMatrix(rows, cols, complexFlag), rows, cols, complexFlag);
}

void fromArrayDimensions(FuzzedDataProvider &data) {
    const auto numDims = data.ConsumeIntegralInRange<std::int32_t>(0, 3);
    const std::int32_t classId =
        data.ConsumeBool() ? kestrune::PARAM_CLASS_DOUBLE : data.ConsumeIntegral<std::int32_t>();
    const std::int32_t complexFlag = data.ConsumeBool() ? 0 : data.ConsumeIntegral<std::int32_t>();
    // Each dimension: any upper 32 bits over a small low word, which is all
    // that counts.
    auto *dims =
        static_cast<std::int64_t *>(std::malloc(static_cast<std::size_t>(numDims) * sizeof(std::int64_t)));
    std::int32_t low[3] = {};
    for (std::int32_t d = 0; d < numDims; ++d) {
        low[d] = data.ConsumeIntegralInRange<std::int32_t>(-3, 64);
        const std::uint64_t high = data.ConsumeIntegral<std::uint32_t>();
        dims[d] = static_cast<std::int64_t>((high << 32) | static_cast<std::uint32_t>(low[d]));
    }
    ParamMatrix *value = kestrune::paramCreateArray(numDims, dims, classId, complexFlag);
    if (numDims != 2 || classId != kestrune::PARAM_CLASS_DOUBLE) {
        CHECK(value == nullptr);
    } else {
        checkCreated(value, low[0], low[1], complexFlag);
    }
    std::free(dims);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    for (int op = 0; op < 16 && data.remaining_bytes() > 0; ++op) {
        switch (data.ConsumeIntegralInRange<int>(0, 4)) {
        case 0:
            fromText(data);
            break;
        case 1:
            fromTexts(data);
            break;
        case 2:
            fromDoubles(data);
            break;
        case 3:
            fromDimensions(data);
            break;
        default:
            fromArrayDimensions(data);
            break;
        }
    }
    return 0;
}
