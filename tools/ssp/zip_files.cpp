// Reading, unpacking and writing zip archives with libzip.
#include "zip_files.h"

#include <zip.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

namespace kestrune::ssp {

namespace fs = std::filesystem;

namespace {

struct ZipDiscard {
    void operator()(zip_t *archive) const { zip_discard(archive); }
};
struct ZipFileClose {
    void operator()(zip_file_t *file) const { zip_fclose(file); }
};
using Archive = std::unique_ptr<zip_t, ZipDiscard>;

std::string openArchive(const std::string &path, Archive &archive) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec))
        return path + ": no such file";
    int code = 0;
    archive.reset(zip_open(path.c_str(), ZIP_RDONLY, &code));
    if (archive)
        return "";
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    std::string text = path + ": not a readable zip archive: " + zip_error_strerror(&error);
    zip_error_fini(&error);
    return text;
}

// Reads the entry at index whole, passing each piece to sink.
template <typename Sink>
std::string readEntry(zip_t *archive, zip_uint64_t index, const std::string &path, const std::string &name,
                      Sink sink) {
    std::unique_ptr<zip_file_t, ZipFileClose> file(zip_fopen_index(archive, index, 0));
    if (!file)
        return path + ": cannot read \"" + name + "\": " + zip_strerror(archive);
    char buffer[1 << 16];
    for (;;) {
        const zip_int64_t n = zip_fread(file.get(), buffer, sizeof buffer);
        if (n < 0)
            return path + ": \"" + name + "\" is damaged: " + zip_file_strerror(file.get());
        if (n == 0)
            return "";
        if (!sink(buffer, static_cast<std::size_t>(n)))
            return "cannot write what \"" + name + "\" of " + path + " holds";
    }
}

// Relative, '/'-separated, without empty, "." or ".." segments, a drive
// letter or a backslash.
bool safeEntryName(const std::string &name) {
    if (name.empty() || name.front() == '/' || name.find_first_of("\\:") != std::string::npos ||
        name.find('\0') != std::string::npos)
        return false;
    std::size_t start = 0;
    while (start < name.size()) {
        const std::size_t slash = std::min(name.find('/', start), name.size());
        const std::string segment = name.substr(start, slash - start);
        if (segment.empty() || segment == "." || segment == "..")
            return false;
        start = slash + 1;
    }
    return true;
}

} // namespace

std::string readZipEntry(const std::string &path, const std::string &name, std::string &text) {
    text.clear();
    Archive archive;
    if (std::string problem = openArchive(path, archive); !problem.empty())
        return problem;
    const zip_int64_t index = zip_name_locate(archive.get(), name.c_str(), ZIP_FL_ENC_RAW);
    if (index < 0)
        return path + ": the archive holds no " + name;
    return readEntry(archive.get(), static_cast<zip_uint64_t>(index), path, name,
                     [&](const char *data, std::size_t size) {
                         text.append(data, size);
                         return true;
                     });
}

std::string unpackZip(const std::string &path, const std::string &folder) {
    Archive archive;
    if (std::string problem = openArchive(path, archive); !problem.empty())
        return problem;
    std::set<std::string> names;
    const zip_int64_t entries = zip_get_num_entries(archive.get(), 0);
    for (zip_int64_t i = 0; i < entries; ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        const char *raw = zip_get_name(archive.get(), index, ZIP_FL_ENC_RAW);
        std::string name = raw != nullptr ? raw : "";
        const bool isFolder = !name.empty() && name.back() == '/';
        if (isFolder)
            name.pop_back();
        if (!safeEntryName(name))
            return path + ": refusing the archive entry \"" + name + "\" (outside the archive's folder)";
        if (!names.insert(name).second)
            return path + ": the archive holds \"" + name + "\" twice";
        const fs::path target = fs::path(folder) / name;
        std::error_code ec;
        fs::create_directories(isFolder ? target : target.parent_path(), ec);
        if (ec)
            return "cannot create a folder for " + target.string() + ": " + ec.message();
        if (isFolder)
            continue;
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        if (!out)
            return "cannot write " + target.string();
        if (std::string problem = readEntry(archive.get(), index, path, name,
                                            [&](const char *data, std::size_t size) {
                                                out.write(data, static_cast<std::streamsize>(size));
                                                return static_cast<bool>(out);
                                            });
            !problem.empty())
            return problem;
        out.close();
        if (!out)
            return "cannot write " + target.string();
    }
    return "";
}

std::string writeZip(const std::string &path, const std::vector<ZipEntry> &entries) {
    int code = 0;
    zip_t *archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (archive == nullptr) {
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        std::string text = "cannot create " + path + ": " + zip_error_strerror(&error);
        zip_error_fini(&error);
        return text;
    }
    for (const ZipEntry &entry : entries) {
        zip_source_t *source = nullptr;
        if (!entry.file.empty()) {
            std::error_code ec;
            if (!fs::is_regular_file(entry.file, ec)) {
                zip_discard(archive);
                return entry.file + ": no such file";
            }
            source = zip_source_file(archive, entry.file.c_str(), 0, -1);
        } else {
            source = zip_source_buffer(archive, entry.text.data(), entry.text.size(), 0);
        }
        if (source == nullptr || zip_file_add(archive, entry.name.c_str(), source, ZIP_FL_ENC_UTF_8) < 0) {
            if (source != nullptr)
                zip_source_free(source);
            std::string text = "cannot add " + entry.name + " to " + path + ": " + zip_strerror(archive);
            zip_discard(archive);
            return text;
        }
    }
    if (zip_close(archive) != 0) {
        std::string text = "cannot write " + path + ": " + zip_strerror(archive);
        zip_discard(archive);
        std::error_code ec;
        fs::remove(path, ec);
        return text;
    }
    return "";
}

TemporaryFolder::~TemporaryFolder() {
    if (!path_.empty()) {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
}

std::string TemporaryFolder::create(const char *prefix) {
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec)
        base = "/tmp";
    std::string pattern = (base / (std::string(prefix) + "XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr)
        return std::string("cannot create a temporary folder: ") + std::strerror(errno);
    path_ = pattern;
    return "";
}

} // namespace kestrune::ssp
