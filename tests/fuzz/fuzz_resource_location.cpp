// Fuzzes the resource location conversion and the path composition with
// arbitrary bytes of any length, around and beyond the 1024-byte path
// buffer. Each result is compared with a plain, unbounded rendering of the
// same rules: a path that fits must equal it, one that does not must come
// back empty, and no buffer may be written past its end.
#include "fmu/instance.h"
#include "fmu/resource.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using kestrune::PATH_BUFFER_SIZE;
using kestrune::PATH_SEPARATOR;
constexpr std::size_t MAX_PATH_LENGTH = PATH_BUFFER_SIZE - 1;

[[noreturn]] void fail(const char *what, const std::string &input, const std::string &got,
                       const std::string &expected) {
    std::fprintf(stderr, "%s\n  input (%zu bytes): %.200s\n  got:      %.200s\n  expected: %.200s\n", what,
                 input.size(), input.c_str(), got.c_str(), expected.c_str());
    std::abort();
}

bool startsWith(const std::string &text, const char *prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

int hexDigit(char ch) {
    if (ch >= '0' && ch <= '9') {
        return ch - '0';
    }
    if (ch >= 'A' && ch <= 'F') {
        return ch - 'A' + 10;
    }
    if (ch >= 'a' && ch <= 'f') {
        return ch - 'a' + 10;
    }
    return -1;
}

// The decoded path without any length limit.
std::string decodeUnbounded(const char *source) {
    std::string target;
    const char *p = source;
    while (*p != '\0') {
        char ch;
        if (p[0] == '%' && p[1] != '\0' && p[2] != '\0') {
            const int high = hexDigit(p[1]);
            const int low = hexDigit(p[2]);
            ch = high < 0 || low < 0 ? '\0' : static_cast<char>(high * 16 + low);
            p += 3;
        } else {
            ch = p[0] == '/' ? PATH_SEPARATOR : p[0];
            ++p;
        }
        if (ch == '\0') {
            return target; // the path ends here, untrimmed
        }
        target.push_back(ch);
    }
    while (target.size() > 1 && target.back() == PATH_SEPARATOR) {
        target.pop_back();
    }
    return target;
}

std::string fitted(const std::string &path) {
    return path.size() <= MAX_PATH_LENGTH ? path : std::string();
}

std::string expectedLocalPath(const std::string &uri) {
    if (startsWith(uri, "file:///")) {
        return fitted(decodeUnbounded(uri.c_str() + 8));
    }
    if (startsWith(uri, "file:/")) {
        const char *rest = uri.c_str() + 6;
        return fitted(decodeUnbounded(std::strncmp(rest, "/localhost/", 11) == 0 ? rest + 11 : rest));
    }
    if (startsWith(uri, "http") || startsWith(uri, "ftp")) {
        return {};
    }
    return fitted(uri);
}

// A copy of text in a heap block of exactly its size, so that reading past
// its terminator is caught.
char *exactCopy(const std::string &text) {
    auto *copy = static_cast<char *>(std::malloc(text.size() + 1));
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

void checkLocalPath(const std::string &uri) {
    char *input = exactCopy(uri);
    char *path = kestrune::uriToLocal(input);
    if (path == nullptr) {
        fail("uriToLocal gave null", uri, "", "");
    }
    const std::string got(path, ::strnlen(path, PATH_BUFFER_SIZE));
    if (got.size() > MAX_PATH_LENGTH) {
        fail("uriToLocal left no terminator in its buffer", uri, got, "");
    }
    const std::string expected = expectedLocalPath(std::string(input));
    if (got != expected) {
        fail("uriToLocal", uri, got, expected);
    }
    // The rest of the buffer stays zero: nothing was left behind by a
    // rejected attempt.
    for (std::size_t k = got.size(); k < PATH_BUFFER_SIZE; ++k) {
        if (path[k] != '\0') {
            fail("uriToLocal left bytes after the path", uri, got, expected);
        }
    }
    std::free(path);
    std::free(input);
}

void checkComposition(const std::string &resourcePath, const std::string &a, const std::string *b,
                      const std::string &fileName, bool noResourcesFolder) {
    kestrune::Fmu2Instance instance{};
    instance.resourcePath = exactCopy(resourcePath);
    kestrune::currentInstance = &instance;
    char *aCopy = exactCopy(a);
    char *bCopy = b != nullptr ? exactCopy(*b) : nullptr;
    char *fileCopy = exactCopy(fileName);
    const std::string sep(1, PATH_SEPARATOR);
    const std::string folder = resourcePath + sep + a + (b != nullptr ? sep + *b : "");

    const std::string binaries(kestrune::binariesPath(aCopy, bCopy, fileCopy));
    const std::string expectedBinaries = fitted(folder + sep + "binaries" + sep + "win64" + sep + fileName);
    if (binaries != expectedBinaries) {
        fail("binariesPath", folder, binaries, expectedBinaries);
    }
    const std::string resources(kestrune::resourcesUri(aCopy, bCopy, noResourcesFolder ? 1 : 0));
    const std::string expectedResources =
        fitted("file:///" + folder + (noResourcesFolder ? "" : sep + "resources"));
    if (resources != expectedResources) {
        fail("resourcesUri", folder, resources, expectedResources);
    }
    kestrune::currentInstance = nullptr;
    std::free(fileCopy);
    std::free(bCopy);
    std::free(aCopy);
    std::free(instance.resourcePath);
}

// Builds a location from the input: an optional well-known prefix, a run of
// one repeated byte (to reach and pass the buffer size cheaply), and the rest
// of the input as it is.
std::string location(FuzzedDataProvider &data) {
    static const char *const prefixes[] = {"",          "file:///", "file:/", "file://localhost/",
                                           "file:////", "http",     "ftp"};
    std::string uri = prefixes[data.ConsumeIntegralInRange<std::size_t>(0, 6)];
    const std::size_t run = data.ConsumeIntegralInRange<std::size_t>(0, 1100);
    if (run > 0) {
        uri.append(run, static_cast<char>(data.ConsumeIntegral<char>()));
    }
    uri += data.ConsumeRandomLengthString(3000);
    return uri;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size) {
    // The whole input as a location first, then a built one.
    std::string whole(reinterpret_cast<const char *>(bytes), size);
    checkLocalPath(whole.c_str());

    FuzzedDataProvider data(bytes, size);
    checkLocalPath(location(data));

    // C strings: each part ends at its first zero byte.
    const std::string resourcePath = data.ConsumeRandomLengthString(1100).c_str();
    const std::string a = data.ConsumeRandomLengthString(1100).c_str();
    const bool withB = data.ConsumeBool();
    const std::string b = data.ConsumeRandomLengthString(1100).c_str();
    const std::string fileName = data.ConsumeRandomLengthString(1100).c_str();
    checkComposition(resourcePath, a, withB ? &b : nullptr, fileName, data.ConsumeBool());
    return 0;
}
