// The temporary folders and partial files a tool has made and not yet
// removed or renamed, so that an interruption can remove them all.
#pragma once

#include <string>

namespace kestrune {

// Remembers a temporary folder or partial file, made by this process, to be
// removed if the tool is interrupted before it is forgotten.
void rememberTemporary(const std::string &path);

// Forgets a path once it is removed or renamed to its final name.
void forgetTemporary(const std::string &path);

// Removes every remembered path (folders with their contents) and forgets
// them. Called on interruption; safe to call at any time.
void removeRememberedTemporaries();

} // namespace kestrune
