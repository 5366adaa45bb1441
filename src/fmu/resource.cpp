// Turns the master's resource location into a local folder path and composes
// paths below the unit's folders. Every write is bounded by PATH_BUFFER_SIZE:
// a path that does not fit is given back empty, never cut short.
#include "fmu/resource.h"

#include "fmu/instance.h"

#include <cstdlib>
#include <cstring>

namespace kestrune {

namespace {

constexpr std::size_t MAX_PATH_LENGTH = PATH_BUFFER_SIZE - 1;

bool startsWith(const char *text, const char *prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

const char *orEmpty(const char *text) {
    return text != nullptr ? text : "";
}

// Length of text, but looks at no more than limit characters.
std::size_t boundedLength(const char *text, std::size_t limit) {
    std::size_t length = 0;
    while (length < limit && text[length] != '\0') {
        ++length;
    }
    return length;
}

// Appends text at buffer[length]; false, with nothing written, when the result
// would exceed MAX_PATH_LENGTH characters.
bool appendText(char *buffer, std::size_t &length, const char *text) {
    const std::size_t room = MAX_PATH_LENGTH - length;
    const std::size_t textLength = boundedLength(text, room + 1);
    if (textLength > room) {
        return false;
    }
    std::memcpy(buffer + length, text, textLength);
    length += textLength;
    buffer[length] = '\0';
    return true;
}

bool appendPart(char *buffer, std::size_t &length, const char *text) {
    const char separator[2] = {PATH_SEPARATOR, '\0'};
    return appendText(buffer, length, separator) && appendText(buffer, length, text);
}

const char *currentResourcePath() {
    return currentInstance != nullptr ? orEmpty(currentInstance->resourcePath) : "";
}

// resourcePath, separator, a and, when b is given, separator and b.
bool appendUnitFolder(char *buffer, std::size_t &length, const char *a, const char *b) {
    if (!appendText(buffer, length, currentResourcePath()) || !appendPart(buffer, length, orEmpty(a))) {
        return false;
    }
    return b == nullptr || appendPart(buffer, length, b);
}

} // namespace

char *uriToLocal(const char *uri) {
    auto *path = static_cast<char *>(std::calloc(PATH_BUFFER_SIZE, 1));
    if (path == nullptr || uri == nullptr) {
        return path;
    }
    if (startsWith(uri, "file:///")) {
        decodeUriPath(uri + 8, path);
    } else if (startsWith(uri, "file:/")) {
        const char *rest = uri + 6;
        decodeUriPath(startsWith(rest, "/localhost/") ? rest + 11 : rest, path);
    } else if (startsWith(uri, "http") || startsWith(uri, "ftp")) {
        // A remote location: the path stays empty.
    } else {
        // A plain path is taken as it is, if it fits.
        const std::size_t length = boundedLength(uri, PATH_BUFFER_SIZE);
        if (length <= MAX_PATH_LENGTH) {
            std::memcpy(path, uri, length);
        }
    }
    return path;
}

bool decodeUriPath(const char *source, char *target) {
    std::size_t length = 0;
    // Separators decoded past the last buffer position. They fit only if they
    // are trimmed away as trailing separators, so anything else after them
    // means the path is too long.
    std::size_t overflowSeparators = 0;
    const char *p = source;
    while (*p != '\0') {
        char ch;
        if (p[0] == '%' && p[1] != '\0' && p[2] != '\0') {
            ch = static_cast<char>(static_cast<unsigned char>(hexPairValue(p)));
            p += 3;
        } else {
            ch = p[0] == '/' ? PATH_SEPARATOR : p[0];
            ++p;
        }
        if (ch == '\0') {
            if (overflowSeparators > 0) {
                // The path ends here untrimmed, beyond the buffer.
                std::memset(target, 0, length);
                return false;
            }
            target[length] = '\0';
            return true;
        }
        if (length == MAX_PATH_LENGTH || overflowSeparators > 0) {
            if (ch != PATH_SEPARATOR) {
                std::memset(target, 0, length);
                return false;
            }
            ++overflowSeparators;
            continue;
        }
        target[length++] = ch;
    }
    while (length > 1 && target[length - 1] == PATH_SEPARATOR) {
        target[--length] = '\0';
    }
    target[length] = '\0';
    return true;
}

int hexPairValue(const char *p) {
    const int high = hexDigitValue(p[1]);
    const int low = hexDigitValue(p[2]);
    if (high < 0 || low < 0) {
        return 0;
    }
    return high * 16 + low;
}

int hexDigitValue(char ch) {
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

const char *binariesPath(const char *a, const char *b, const char *fileName) {
    static char buffer[PATH_BUFFER_SIZE];
    std::memset(buffer, 0, sizeof buffer);
    std::size_t length = 0;
    if (!appendUnitFolder(buffer, length, a, b) || !appendPart(buffer, length, "binaries") ||
        !appendPart(buffer, length, "win64") || !appendPart(buffer, length, orEmpty(fileName))) {
        std::memset(buffer, 0, sizeof buffer);
    }
    return buffer;
}

const char *resourcesUri(const char *a, const char *b, int noResourcesFolder) {
    static char buffer[PATH_BUFFER_SIZE];
    std::memset(buffer, 0, sizeof buffer);
    std::size_t length = 0;
    if (!appendText(buffer, length, "file:///") || !appendUnitFolder(buffer, length, a, b) ||
        (noResourcesFolder == 0 && !appendPart(buffer, length, "resources"))) {
        std::memset(buffer, 0, sizeof buffer);
    }
    return buffer;
}

} // namespace kestrune
