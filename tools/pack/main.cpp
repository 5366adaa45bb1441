// kestrune-pack: zips the staged files of the unit into a .fmu with libzip.
// Usage: kestrune-pack OUTPUT.fmu FOLDER ENTRY...
// Each ENTRY is a '/'-separated path below FOLDER and becomes the archive
// entry of the same name: no leading folder, no backslashes. An ENTRY that
// ends in '/' names a folder: every file below it, in name order.
#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace {

// The '/'-separated names of the files below folder/entry, sorted; empty
// when there are none or the folder cannot be read.
std::vector<std::string> filesBelow(const std::filesystem::path &folder, const std::string &entry) {
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator it(folder / entry, error), end; !error && it != end;
         it.increment(error)) {
        if (it->is_regular_file(error))
            names.push_back(entry + it->path().lexically_relative(folder / entry).generic_string());
    }
    std::sort(names.begin(), names.end());
    return error ? std::vector<std::string>{} : names;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 4) {
        std::cerr << "usage: kestrune-pack OUTPUT.fmu FOLDER ENTRY...\n";
        return 2;
    }
    const std::string output = argv[1];
    const std::filesystem::path folder = argv[2];
    std::error_code ignored;
    std::filesystem::remove(output, ignored);

    int error = 0;
    zip_t *archive = zip_open(output.c_str(), ZIP_CREATE | ZIP_EXCL, &error);
    if (archive == nullptr) {
        std::cerr << "kestrune-pack: cannot create " << output << '\n';
        return 1;
    }
    std::vector<std::string> entries;
    for (int i = 3; i < argc; ++i) {
        const std::string entry = argv[i];
        if (entry.empty() || entry.front() == '/' || entry.find('\\') != std::string::npos) {
            std::cerr << "kestrune-pack: bad entry name " << entry << '\n';
            zip_discard(archive);
            return 1;
        }
        if (entry.back() != '/') {
            entries.push_back(entry);
            continue;
        }
        const std::vector<std::string> below = filesBelow(folder, entry);
        if (below.empty()) {
            std::cerr << "kestrune-pack: no files below " << (folder / entry).string() << '\n';
            zip_discard(archive);
            return 1;
        }
        entries.insert(entries.end(), below.begin(), below.end());
    }
    for (const std::string &entry : entries) {
        const std::string source = (folder / entry).string();
        zip_source_t *file = zip_source_file(archive, source.c_str(), 0, -1);
        if (file == nullptr || zip_file_add(archive, entry.c_str(), file, ZIP_FL_ENC_UTF_8) < 0) {
            std::cerr << "kestrune-pack: cannot add " << source << ": " << zip_strerror(archive) << '\n';
            if (file != nullptr)
                zip_source_free(file);
            zip_discard(archive);
            return 1;
        }
    }
    if (zip_close(archive) != 0) {
        std::cerr << "kestrune-pack: cannot write " << output << ": " << zip_strerror(archive) << '\n';
        zip_discard(archive);
        std::filesystem::remove(output, ignored);
        return 1;
    }
    return 0;
}
