// Reading and unpacking zip archives through the one bounded reader, and
// writing them with libzip.
#include "zip_files.h"

#include "common/archive_limits.h"
#include "common/interruption.h"
#include "common/temporary_paths.h"
#include "master/zip_reader.h"

#include <zip.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace kestrune::ssp {

namespace fs = std::filesystem;

std::string readZipEntry(const std::string &path, const std::string &name, std::string &text) {
    text.clear();
    master::ZipReader archive;
    if (std::string problem = archive.open(path, "zip archive"); !problem.empty())
        return problem;
    return archive.read(name, MAX_DESCRIPTION_TEXT, text);
}

std::string unpackZip(const std::string &path, const std::string &folder) {
    master::ZipReader archive;
    if (std::string problem = archive.open(path, "zip archive"); !problem.empty())
        return problem;
    return archive.unpackUnder("", folder, MAX_UNPACKED_FILE);
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
        forgetTemporary(path_);
    }
}

std::string TemporaryFolder::create(const char *prefix) {
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec)
        base = "/tmp";
    std::string pattern = (base / (std::string(prefix) + "XXXXXX")).string();
    // Made and remembered as one, so that an interruption cannot come
    // between them and miss the folder.
    const InterruptionHold hold = holdOffInterruption();
    if (mkdtemp(pattern.data()) == nullptr)
        return std::string("cannot create a temporary folder: ") + std::strerror(errno);
    path_ = pattern;
    rememberTemporary(path_);
    return "";
}

} // namespace kestrune::ssp
