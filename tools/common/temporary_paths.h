// The temporary folders and partial files a tool has made and not yet
// removed or renamed, so that an interruption can remove them all.
#pragma once

#include <functional>
#include <string>

namespace kestrune {

// Remembers a temporary folder or partial file, made by this process, to be
// removed if the tool is interrupted before it is forgotten. Once the
// temporaries were removed for good (the tool is ending on an interruption),
// the path is removed at once instead.
void rememberTemporary(const std::string &path);

// Forgets a path once it is removed or renamed to its final name.
void forgetTemporary(const std::string &path);

// Removes every remembered path (folders with their contents) and forgets
// them. Called on interruption; safe to call at any time.
void removeRememberedTemporaries();

// As removeRememberedTemporaries, for a tool about to end: any path
// remembered afterwards (by a thread still running) is removed at once.
void removeRememberedTemporariesForGood();

// Forgets every remembered path without removing it: a forked worker
// process inherits its parent's list, whose paths are the parent's to remove.
void forgetInheritedTemporaries();

} // namespace kestrune
