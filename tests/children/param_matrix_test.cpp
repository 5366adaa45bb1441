// The parameter value format: construction from dimensions and text, copies,
// dimensions and text extraction.
#include "children/param_matrix.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace kestrune {
namespace {

struct FreeBlock {
    void operator()(ParamMatrix *value) const { std::free(value); }
};
using Owned = std::unique_ptr<ParamMatrix, FreeBlock>;

std::vector<double> blockOf(const ParamMatrix *value) {
    const std::uint64_t *dims = paramGetDimensions(value);
    const auto size = static_cast<std::size_t>(PARAM_HEADER + dims[0] * dims[1]);
    return {value, value + size};
}

TEST(ParamMatrix, TextIsStoredColumnMajorOneCharacterPerElement) {
    const Owned single(paramCreateString("ab"));
    ASSERT_NE(single, nullptr);
    EXPECT_EQ(blockOf(single.get()), (std::vector<double>{1.0, 2.0, 97.0, 98.0}));

    const char *texts[] = {"ab", "c"};
    const Owned array(paramCreateStringArray(2, texts));
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(blockOf(array.get()), (std::vector<double>{2.0, 2.0, 97.0, 99.0, 98.0, 0.0}));

    // Bytes above 127: unsigned in a single string, signed in an array.
    const char high[] = {static_cast<char>(0xE9), '\0'};
    const Owned unsignedText(paramCreateString(high));
    EXPECT_EQ(unsignedText.get()[2], 233.0);
    const char *highTexts[] = {high};
    const Owned signedText(paramCreateStringArray(1, highTexts));
    EXPECT_EQ(signedText.get()[2], -23.0);

    const Owned empty(paramCreateStringArray(0, nullptr));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(blockOf(empty.get()), (std::vector<double>{0.0, 0.0}));
}

TEST(ParamMatrix, GetStringRoundsEachElementAndReportsTruncation) {
    const char *texts[] = {"ab", "c"};
    const Owned array(paramCreateStringArray(2, texts));

    char roomy[10];
    std::fill(std::begin(roomy), std::end(roomy), 'x');
    EXPECT_EQ(paramGetString(array.get(), roomy, 10), 0);
    EXPECT_EQ(std::vector<char>(roomy, roomy + 5), (std::vector<char>{'a', 'c', 'b', '\0', '\0'}));

    char tight[3] = {'x', 'x', 'x'};
    EXPECT_EQ(paramGetString(array.get(), tight, 3), 1);
    EXPECT_EQ(std::vector<char>(tight, tight + 3), (std::vector<char>{'a', 'c', '\0'}));

    // Exactly as many characters as the buffer: no room for the zero byte.
    char exact[4];
    EXPECT_EQ(paramGetString(array.get(), exact, 4), 1);
    EXPECT_STREQ(exact, "acb");

    const ScalarParam rounded = {{1.0, 1.0, 97.6}};
    char one[2];
    EXPECT_EQ(paramGetString(rounded.block, one, 2), 0);
    EXPECT_EQ(one[0], 'b');

    // Nothing fits in a buffer without room, and nothing is written.
    EXPECT_EQ(paramGetString(rounded.block, one, 0), 1);
}

TEST(ParamMatrix, MatricesAreZeroFilledAndOnlyRealTwoDimensionalDoublesAreMade) {
    const Owned matrix(paramCreateMatrix(2, 3, 0));
    ASSERT_NE(matrix, nullptr);
    EXPECT_EQ(blockOf(matrix.get()), (std::vector<double>{2.0, 3.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0}));

    const std::int64_t dims2[] = {2, 1};
    const std::int64_t dims3[] = {2, 1, 1};
    const Owned array(paramCreateArray(2, dims2, PARAM_CLASS_DOUBLE, 0));
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(blockOf(array.get()), (std::vector<double>{2.0, 1.0, 0.0, 0.0}));

    EXPECT_EQ(paramCreateMatrix(1, 1, 1), nullptr);
    EXPECT_EQ(paramCreateArray(3, dims3, PARAM_CLASS_DOUBLE, 0), nullptr);
    EXPECT_EQ(paramCreateArray(2, dims2, 7, 0), nullptr);
    EXPECT_EQ(paramCreateArray(2, dims2, PARAM_CLASS_DOUBLE, 1), nullptr);
}

TEST(ParamMatrix, DuplicateCopiesTheWholeBlock) {
    const ParamMatrix original[] = {2.0, 2.0, 1.5, -2.5, 3.5, 4.5};
    const Owned copy(paramDuplicate(original));
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy.get(), original);
    EXPECT_EQ(blockOf(copy.get()), blockOf(original));
}

TEST(ParamMatrix, DimensionsShareOneBufferAndConvertLargeCounts) {
    const ParamMatrix first[] = {3.0, 4.0};
    const ParamMatrix second[] = {9223372036854775808.0, 1.0}; // 2^63 rows
    const std::uint64_t *a = paramGetDimensions(first);
    EXPECT_EQ(a[0], 3U);
    EXPECT_EQ(a[1], 4U);
    const std::uint64_t *b = paramGetDimensions(second);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a[0], std::uint64_t{1} << 63);
    EXPECT_EQ(a[1], 1U);
    EXPECT_TRUE(paramIsNull(nullptr));
    EXPECT_FALSE(paramIsNull(first));
}

} // namespace
} // namespace kestrune
