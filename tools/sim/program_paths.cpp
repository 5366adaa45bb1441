#include "program_paths.h"

namespace kestrune::sim {

namespace fs = std::filesystem;

fs::path programFolder() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : self.parent_path();
}

std::string firstExisting(const fs::path &folder, std::initializer_list<const char *> candidates) {
    std::error_code ec;
    for (const char *candidate : candidates) {
        const fs::path path = (folder / candidate).lexically_normal();
        if (fs::exists(path, ec))
            return path.string();
    }
    return (folder / *candidates.begin()).lexically_normal().string();
}

} // namespace kestrune::sim
