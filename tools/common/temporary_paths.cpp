// The registry of temporary paths, guarded by one lock: workers on threads
// unpack and write while the interruption watcher may be removing.
#include "temporary_paths.h"

#include <filesystem>
#include <mutex>
#include <set>

namespace kestrune {

namespace {

struct Registry {
    std::mutex lock;
    std::set<std::string> paths;
    bool closed = false; // removed for good: the tool is ending
};

Registry &registry() {
    static Registry registry;
    return registry;
}

void removePath(const std::string &path) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

} // namespace

void rememberTemporary(const std::string &path) {
    Registry &r = registry();
    const std::lock_guard<std::mutex> hold(r.lock);
    if (r.closed)
        removePath(path);
    else
        r.paths.insert(path);
}

void forgetTemporary(const std::string &path) {
    Registry &r = registry();
    const std::lock_guard<std::mutex> hold(r.lock);
    r.paths.erase(path);
}

void removeRememberedTemporaries() {
    Registry &r = registry();
    const std::lock_guard<std::mutex> hold(r.lock);
    for (const std::string &path : r.paths)
        removePath(path);
    r.paths.clear();
}

void removeRememberedTemporariesForGood() {
    Registry &r = registry();
    const std::lock_guard<std::mutex> hold(r.lock);
    for (const std::string &path : r.paths)
        removePath(path);
    r.paths.clear();
    r.closed = true;
}

void forgetInheritedTemporaries() {
    Registry &r = registry();
    const std::lock_guard<std::mutex> hold(r.lock);
    r.paths.clear();
}

} // namespace kestrune
