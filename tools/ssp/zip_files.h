// The zip archives an .ssp is made of (the .ssp itself and the .fmu files in
// it), read and written with libzip.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace kestrune::ssp {

// Reads the entry called name from the zip archive at path into text,
// refusing one beyond MAX_DESCRIPTION_TEXT. Returns "" or what went wrong.
std::string readZipEntry(const std::string &path, const std::string &name, std::string &text);

// Unpacks every entry of the zip archive at path into folder, refusing an
// entry name that would land outside it or that comes twice, and an entry
// beyond MAX_UNPACKED_FILE.
std::string unpackZip(const std::string &path, const std::string &folder);

// One entry of a new archive: its name, and either a file to copy or text.
struct ZipEntry {
    std::string name;
    std::string file;
    std::string text;
};

// Writes a new zip archive at path (replacing any file there) with the entries.
std::string writeZip(const std::string &path, const std::vector<ZipEntry> &entries);

// A private temporary folder, removed with its contents on destruction and
// known to the tool's temporary paths while it exists.
class TemporaryFolder {
  public:
    TemporaryFolder() = default;
    TemporaryFolder(const TemporaryFolder &) = delete;
    TemporaryFolder &operator=(const TemporaryFolder &) = delete;
    ~TemporaryFolder();
    // Creates the folder; "" or what went wrong.
    std::string create(const char *prefix);
    const std::string &path() const { return path_; }

  private:
    std::string path_;
};

} // namespace kestrune::ssp
