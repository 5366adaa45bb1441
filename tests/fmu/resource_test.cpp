#include "fmu/resource.h"

#include "fmu/instance.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace kestrune {
namespace {

using Buffer = std::unique_ptr<char, decltype(&std::free)>;

Buffer convert(const std::string &uri) {
    return Buffer(uriToLocal(uri.c_str()), &std::free);
}

std::string local(const std::string &uri) {
    const Buffer path = convert(uri);
    EXPECT_NE(path, nullptr);
    return path ? std::string(path.get()) : std::string("<null>");
}

bool allZero(const char *buffer) {
    for (std::size_t i = 0; i < PATH_BUFFER_SIZE; ++i) {
        if (buffer[i] != '\0') {
            return false;
        }
    }
    return true;
}

struct UriCase {
    const char *uri;
    const char *expected;
};

TEST(UriToLocal, ConvertsLocationsToLocalPaths) {
    const UriCase cases[] = {
        // Local file forms: prefix dropped, '/' turned into '\', trailing separators dropped.
        {"file:///C:/Models/unit/resources/", "C:\\Models\\unit\\resources"},
        {"file:/C:/dir", "C:\\dir"},
        {"file://localhost/C:/dir", "C:\\dir"},
        {"file://server/share", "\\server\\share"},
        {"file://localhost", "\\localhost"},
        {"file:/localhost/C:/x", "localhost\\C:\\x"},
        {"file:///C:/dir///", "C:\\dir"},
        {"file:////", "\\"},
        {"file:///", ""},
        // Escapes.
        {"file:///C:/My%20Files/x", "C:\\My Files\\x"},
        {"file:///C:/%4a%4A", "C:\\JJ"},
        {"file:///%30%39%41%46%61%66%fF", "09AFaf\xff"},
        {"file:///C:/a%2Fb", "C:\\a/b"},
        {"file:///C:/dir%2F", "C:\\dir/"},
        {"file:///C:/a%5Cb", "C:\\a\\b"},
        {"file:///C:/dir%5C", "C:\\dir"},
        {"file:///C:/x%41", "C:\\xA"},
        {"file:///C:/dir%", "C:\\dir%"},
        {"file:///C:/dir%4", "C:\\dir%4"},
        {"file:///C:/dir%/", "C:\\dir%"},
        // A zero byte ends the path at once, with no trimming.
        {"file:///C:/a%G1b", "C:\\a"},
        {"file:///x%:0", "x"},
        {"file:///x%0@", "x"},
        {"file:///x%`0", "x"},
        {"file:///x%0g", "x"},
        {"file:///C:/a/%00b", "C:\\a\\"},
        {"file:///%00abc", ""},
        // Remote locations.
        {"http://host/unit", ""},
        {"https://host/unit", ""},
        {"ftp://host/unit", ""},
        {"httpdir/x", ""},
        // Anything else is taken unchanged, prefixes being case-sensitive.
        {"C:\\plain\\path", "C:\\plain\\path"},
        {"relative/dir%20x/", "relative/dir%20x/"},
        {"FILE:///C:/x", "FILE:///C:/x"},
        {"HTTP://host", "HTTP://host"},
        {"", ""},
    };
    for (const UriCase &c : cases) {
        SCOPED_TRACE(c.uri);
        EXPECT_EQ(local(c.uri), c.expected);
    }
}

// Paths of n characters, built so that any cut would be visible.
std::string name(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        s += static_cast<char>('a' + static_cast<char>(i % 26));
    }
    return s;
}

TEST(UriToLocal, AcceptsPathsOfUpTo1023Characters) {
    const std::string full = name(1023);
    EXPECT_EQ(local("file:///" + full), full);
    EXPECT_EQ(local("file:/" + full), full);
    EXPECT_EQ(local("file://localhost/" + full), full);
    EXPECT_EQ(local(full), full);
    // Trailing separators beyond the limit are dropped, so the path still fits.
    EXPECT_EQ(local("file:///" + full + "/"), full);
    EXPECT_EQ(local("file:///" + full + "///%5C"), full);
    // A zero byte right at the limit ends a path that fits.
    EXPECT_EQ(local("file:///" + full + "%00tail"), full);
    // An escape ending exactly at the limit.
    EXPECT_EQ(local("file:///" + name(1022) + "%41"), name(1022) + "A");
}

TEST(UriToLocal, RejectsLongerPathsWithoutTruncating) {
    const char *prefixes[] = {"file:///", "file:/", "file://localhost/", ""};
    for (const char *prefix : prefixes) {
        for (std::size_t n : {std::size_t{1024}, std::size_t{5000}}) {
            SCOPED_TRACE(std::string(prefix) + " with " + std::to_string(n) + " characters");
            const Buffer path = convert(prefix + name(n));
            ASSERT_NE(path, nullptr);
            EXPECT_TRUE(allZero(path.get()));
        }
    }
    const std::string full = name(1023);
    // A character after separators past the limit keeps them in the path.
    EXPECT_EQ(local("file:///" + full + "//x"), "");
    // A zero byte after separators past the limit ends the path untrimmed.
    EXPECT_EQ(local("file:///" + full + "/%00"), "");
    // Escapes near the limit count as the single byte they decode to.
    EXPECT_EQ(local("file:///" + full + "%41"), "");
    EXPECT_EQ(local("file:///" + full + "%"), "");
    EXPECT_EQ(local("file:///" + full + "%2F"), "");
}

TEST(DecodeUriPath, ReportsWhetherThePathFits) {
    // Heap buffers of the exact size let the address sanitizer catch any write past them.
    const Buffer target(static_cast<char *>(std::malloc(PATH_BUFFER_SIZE)), &std::free);
    ASSERT_NE(target, nullptr);

    std::memset(target.get(), 'x', PATH_BUFFER_SIZE);
    EXPECT_TRUE(decodeUriPath("", target.get()));
    EXPECT_STREQ(target.get(), "");

    EXPECT_TRUE(decodeUriPath(name(1023).c_str(), target.get()));
    EXPECT_EQ(std::string(target.get()), name(1023));

    std::memset(target.get(), 'x', PATH_BUFFER_SIZE);
    EXPECT_FALSE(decodeUriPath(name(1024).c_str(), target.get()));
    EXPECT_STREQ(target.get(), "");

    EXPECT_FALSE(decodeUriPath((name(1000) + std::string(5000, '/') + "x").c_str(), target.get()));
    EXPECT_STREQ(target.get(), "");

    EXPECT_TRUE(decodeUriPath(std::string(5000, '/').c_str(), target.get()));
    EXPECT_STREQ(target.get(), "\\");
}

class PathComposition : public ::testing::Test {
  protected:
    void SetUp() override { currentInstance = &instance; }
    void TearDown() override { currentInstance = nullptr; }
    void useResourcePath(std::string path) {
        resourcePath = std::move(path);
        instance.resourcePath = resourcePath.data();
    }
    Fmu2Instance instance{};
    std::string resourcePath;
};

TEST_F(PathComposition, JoinsPartsBelowTheResourceFolder) {
    useResourcePath("C:\\unit");
    EXPECT_STREQ(binariesPath("a", "b", "f.dll"), "C:\\unit\\a\\b\\binaries\\win64\\f.dll");
    EXPECT_STREQ(binariesPath("a", nullptr, "f.dll"), "C:\\unit\\a\\binaries\\win64\\f.dll");
    EXPECT_STREQ(resourcesUri("a", "b", 0), "file:///C:\\unit\\a\\b\\resources");
    EXPECT_STREQ(resourcesUri("a", nullptr, 0), "file:///C:\\unit\\a\\resources");
    EXPECT_STREQ(resourcesUri("a", "b", 1), "file:///C:\\unit\\a\\b");
    EXPECT_STREQ(resourcesUri("a", "b", -2), "file:///C:\\unit\\a\\b");
}

TEST_F(PathComposition, MissingTextsCountAsEmpty) {
    EXPECT_STREQ(binariesPath("a", nullptr, "f"), "\\a\\binaries\\win64\\f");
    EXPECT_STREQ(binariesPath(nullptr, nullptr, nullptr), "\\\\binaries\\win64\\");
    EXPECT_STREQ(resourcesUri(nullptr, nullptr, 0), "file:///\\\\resources");
    currentInstance = nullptr;
    EXPECT_STREQ(binariesPath("a", nullptr, "f"), "\\a\\binaries\\win64\\f");
    EXPECT_STREQ(resourcesUri("a", nullptr, 1), "file:///\\a");
}

TEST_F(PathComposition, EachFunctionKeepsItsOwnBuffer) {
    useResourcePath("R");
    const char *first = binariesPath("first", nullptr, "f");
    const char *uri = resourcesUri("u", nullptr, 1);
    EXPECT_STREQ(first, "R\\first\\binaries\\win64\\f");
    EXPECT_STREQ(uri, "file:///R\\u");
    EXPECT_EQ(binariesPath("x", nullptr, "g"), first);
    EXPECT_STREQ(first, "R\\x\\binaries\\win64\\g");
    EXPECT_STREQ(uri, "file:///R\\u");
}

TEST_F(PathComposition, ResultsThatDoNotFitAreEmpty) {
    // "\a\binaries\win64\f" adds 19 characters, "file:///" + "\a" + "\resources" adds 20.
    useResourcePath(name(1004));
    EXPECT_EQ(std::string(binariesPath("a", nullptr, "f")), name(1004) + "\\a\\binaries\\win64\\f");
    EXPECT_STREQ(binariesPath("a", nullptr, "fx"), "");
    useResourcePath(name(1003));
    EXPECT_EQ(std::string(resourcesUri("a", nullptr, 0)), "file:///" + name(1003) + "\\a\\resources");
    EXPECT_STREQ(resourcesUri("ab", nullptr, 0), "");
    EXPECT_STREQ(resourcesUri("ab", nullptr, 1), ("file:///" + name(1003) + "\\ab").c_str());

    useResourcePath(name(5000));
    EXPECT_STREQ(binariesPath("a", "b", "f"), "");
    EXPECT_STREQ(resourcesUri("a", "b", 1), "");
    const std::string longPart = name(5000);
    useResourcePath("R");
    EXPECT_STREQ(binariesPath("a", nullptr, longPart.c_str()), "");
    EXPECT_STREQ(resourcesUri("a", longPart.c_str(), 1), "");
    // A failed composition leaves nothing behind for the next call.
    EXPECT_STREQ(binariesPath("a", nullptr, "f"), "R\\a\\binaries\\win64\\f");
}

} // namespace
} // namespace kestrune
