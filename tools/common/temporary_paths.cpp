// The registry of temporary paths, guarded by one lock: workers on threads
// unpack and write while the interruption handler may be removing.
#include "temporary_paths.h"

#include <filesystem>
#include <mutex>
#include <set>

namespace kestrune {

namespace {

std::mutex &registryLock() {
    static std::mutex lock;
    return lock;
}

std::set<std::string> &registry() {
    static std::set<std::string> paths;
    return paths;
}

} // namespace

void rememberTemporary(const std::string &path) {
    const std::lock_guard<std::mutex> hold(registryLock());
    registry().insert(path);
}

void forgetTemporary(const std::string &path) {
    const std::lock_guard<std::mutex> hold(registryLock());
    registry().erase(path);
}

void removeRememberedTemporaries() {
    const std::lock_guard<std::mutex> hold(registryLock());
    for (const std::string &path : registry()) {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    registry().clear();
}

} // namespace kestrune
