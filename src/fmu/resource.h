// The unit's resource location: the URI a master passes to fmi2Instantiate,
// turned into a local folder path, and the two functions that compose paths
// below the unit's folders from it.
#pragma once

#include <cstddef>

namespace kestrune {

// Every buffer that holds a local or composed path has this many bytes, so a
// path holds at most PATH_BUFFER_SIZE - 1 characters.
inline constexpr std::size_t PATH_BUFFER_SIZE = 1024;
inline constexpr char PATH_SEPARATOR = '\\';

// Returns a new zero-filled PATH_BUFFER_SIZE buffer (release with free) that
// holds the local path; an empty text when the location is not a local file or
// its path does not fit; null when the buffer cannot be allocated.
char *uriToLocal(const char *uri);

// Decodes the path part of a URI into target (PATH_BUFFER_SIZE bytes):
// '/' becomes PATH_SEPARATOR, %XY escapes become their byte, trailing
// separators are dropped. Returns false, with target empty, when the decoded
// path does not fit.
bool decodeUriPath(const char *source, char *target);

int hexPairValue(const char *p);
int hexDigitValue(char ch);

// Paths below the current instance's resource folder, each in a static buffer
// of its own that the next call overwrites. A result that would not fit is
// returned empty.
const char *binariesPath(const char *a, const char *b, const char *fileName);
const char *resourcesUri(const char *a, const char *b, int noResourcesFolder);

} // namespace kestrune
