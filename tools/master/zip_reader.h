// A zip archive from elsewhere (a .fmu, an .ssp), read with one rule for
// which entries are safe and with every entry read or unpacked bounded by
// the limits of common/archive_limits.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct zip;

namespace kestrune::master {

// An entry name that stays inside the folder it is unpacked into: relative,
// '/'-separated (a folder's name may end in one '/'), without empty, "." or
// ".." segments, a drive letter or a backslash.
bool safeEntryName(const std::string &name);

// "64 MiB", "1 GiB", else a count of bytes.
std::string byteCount(std::uint64_t bytes);

class ZipReader {
  public:
    struct Entry {
        std::string name; // without a folder's trailing '/'
        bool folder = false;
        std::uint64_t index = 0;
    };

    ZipReader() = default;
    ZipReader(const ZipReader &) = delete;
    ZipReader &operator=(const ZipReader &) = delete;
    ~ZipReader();

    // Opens the archive at path; kind names it in a message (".fmu (zip
    // archive)", "zip archive"). Refuses a missing file, one that is no zip
    // archive, one of more than MAX_ARCHIVE_ENTRIES entries, any entry name
    // that is not safe and a name held twice: "" or what is wrong.
    std::string open(const std::string &path, const std::string &kind);

    const std::vector<Entry> &entries() const { return entries_; }
    // The file entry called name, or null.
    const Entry *find(const std::string &name) const;

    // Reads the file entry name into text, refusing one that declares or
    // inflates to more than limit bytes: "" or what is wrong.
    std::string read(const std::string &name, std::uint64_t limit, std::string &text);

    // Writes the file entry name to target (its folder must exist), refusing
    // one that declares or inflates to more than limit bytes; a partial file
    // is removed. "" or what is wrong.
    std::string unpack(const std::string &name, const std::string &target, std::uint64_t limit);

    // Unpacks every entry whose name starts with prefix into folder, under
    // its own name, with its folders: "" or what is wrong.
    std::string unpackUnder(const std::string &prefix, const std::string &folder, std::uint64_t limit);

  private:
    // Passes the entry's bytes to sink piece by piece, stopping after
    // limit + 1 bytes.
    template <typename Sink> std::string inflate(const Entry &entry, std::uint64_t limit, Sink sink);
    std::string unpackEntry(const Entry &entry, const std::string &target, std::uint64_t limit);

    struct zip *archive_ = nullptr;
    std::string path_;
    std::vector<Entry> entries_;
    std::uint64_t unpacked_ = 0; // bytes written or read so far
};

} // namespace kestrune::master
