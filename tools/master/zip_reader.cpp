// Bounded reading of zip archives with libzip.
#include "zip_reader.h"

#include "common/archive_limits.h"

#include <zip.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <system_error>

namespace kestrune::master {

namespace fs = std::filesystem;

namespace {

struct ZipFileCloser {
    void operator()(zip_file_t *file) const { zip_fclose(file); }
};

std::string refusal(const std::string &path, const std::string &name, const std::string &why) {
    return path + ": refusing the archive entry \"" + name + "\": " + why;
}

} // namespace

bool safeEntryName(const std::string &name) {
    std::string path = name;
    if (!path.empty() && path.back() == '/')
        path.pop_back();
    if (path.empty() || path.front() == '/' ||
        path.find_first_of(std::string("\\:\0", 3)) != std::string::npos)
        return false;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t slash = std::min(path.find('/', start), path.size());
        const std::string segment = path.substr(start, slash - start);
        if (segment.empty() || segment == "." || segment == "..")
            return false;
        start = slash + 1;
    }
    return true;
}

std::string byteCount(std::uint64_t bytes) {
    constexpr std::uint64_t MIB = std::uint64_t{1} << 20;
    if (bytes >= (MIB << 10) && bytes % (MIB << 10) == 0)
        return std::to_string(bytes / (MIB << 10)) + " GiB";
    if (bytes >= MIB && bytes % MIB == 0)
        return std::to_string(bytes / MIB) + " MiB";
    return std::to_string(bytes) + " bytes";
}

ZipReader::~ZipReader() {
    if (archive_ != nullptr)
        zip_discard(archive_);
}

std::string ZipReader::open(const std::string &path, const std::string &kind) {
    if (archive_ != nullptr)
        zip_discard(archive_);
    archive_ = nullptr;
    entries_.clear();
    unpacked_ = 0;
    path_ = path;
    std::error_code ec;
    if (!fs::exists(path, ec))
        return path + ": no such file";
    if (!fs::is_regular_file(path, ec))
        return path + ": not a regular file";
    int code = 0;
    archive_ = zip_open(path.c_str(), ZIP_RDONLY, &code);
    if (archive_ == nullptr) {
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        std::string text = path + ": not a readable " + kind + ": " + zip_error_strerror(&error);
        zip_error_fini(&error);
        return text;
    }
    const zip_int64_t count = zip_get_num_entries(archive_, 0);
    if (count < 0 || static_cast<std::uint64_t>(count) > MAX_ARCHIVE_ENTRIES)
        return path + ": the archive holds " + std::to_string(count) + " entries, more than " +
               std::to_string(MAX_ARCHIVE_ENTRIES);
    // A name held twice would leave open which copy is meant: the one read
    // or the one left on disk.
    std::set<std::string> names;
    for (zip_int64_t i = 0; i < count; ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        const char *raw = zip_get_name(archive_, index, ZIP_FL_ENC_RAW);
        Entry entry{raw != nullptr ? raw : "", false, index};
        if (!safeEntryName(entry.name))
            return path + ": refusing the archive entry \"" + entry.name +
                   "\" (absolute, with '..', '\\' or ':', or otherwise outside the folder it unpacks into)";
        entry.folder = entry.name.back() == '/';
        if (entry.folder)
            entry.name.pop_back();
        if (!names.insert(entry.name).second)
            return path + ": the archive holds \"" + entry.name + "\" twice";
        entries_.push_back(std::move(entry));
    }
    return "";
}

const ZipReader::Entry *ZipReader::find(const std::string &name) const {
    for (const Entry &entry : entries_) {
        if (!entry.folder && entry.name == name)
            return &entry;
    }
    return nullptr;
}

template <typename Sink> std::string ZipReader::inflate(const Entry &entry, std::uint64_t limit, Sink sink) {
    const std::string &name = entry.name;
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive_, entry.index, 0, &stat) == 0 && (stat.valid & ZIP_STAT_SIZE) != 0 &&
        stat.size > limit)
        return refusal(path_, name,
                       "it declares " + std::to_string(stat.size) + " bytes, more than the limit of " +
                           byteCount(limit));
    std::unique_ptr<zip_file_t, ZipFileCloser> file(zip_fopen_index(archive_, entry.index, 0));
    if (!file)
        return path_ + ": cannot read \"" + name + "\": " + zip_strerror(archive_);
    std::uint64_t total = 0;
    char buffer[1 << 16];
    for (;;) {
        // Never more than one byte past the limit, whatever the entry declares.
        const std::uint64_t wanted = std::min<std::uint64_t>(sizeof buffer, limit + 1 - total);
        const zip_int64_t n = zip_fread(file.get(), buffer, wanted);
        if (n < 0)
            return path_ + ": \"" + name + "\" is damaged: " + zip_file_strerror(file.get());
        if (n == 0)
            return "";
        total += static_cast<std::uint64_t>(n);
        unpacked_ += static_cast<std::uint64_t>(n);
        if (total > limit)
            return refusal(path_, name, "it inflates to more than the limit of " + byteCount(limit));
        if (unpacked_ > MAX_UNPACKED_TOTAL)
            return refusal(path_, name,
                           "the archive unpacks to more than " + byteCount(MAX_UNPACKED_TOTAL) + " in all");
        if (!sink(buffer, static_cast<std::size_t>(n)))
            return "cannot write what \"" + name + "\" of " + path_ + " holds";
    }
}

std::string ZipReader::read(const std::string &name, std::uint64_t limit, std::string &text) {
    text.clear();
    const Entry *entry = find(name);
    if (entry == nullptr)
        return path_ + ": the archive holds no " + name;
    std::string problem = inflate(*entry, limit, [&](const char *data, std::size_t size) {
        text.append(data, size);
        return true;
    });
    if (!problem.empty())
        std::string().swap(text);
    return problem;
}

std::string ZipReader::unpack(const std::string &name, const std::string &target, std::uint64_t limit) {
    const Entry *entry = find(name);
    if (entry == nullptr)
        return path_ + ": the archive holds no " + name;
    return unpackEntry(*entry, target, limit);
}

std::string ZipReader::unpackEntry(const Entry &entry, const std::string &target, std::uint64_t limit) {
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (!out)
        return "cannot write " + target;
    std::string problem = inflate(entry, limit, [&](const char *data, std::size_t size) {
        out.write(data, static_cast<std::streamsize>(size));
        return static_cast<bool>(out);
    });
    out.close();
    if (problem.empty() && !out)
        problem = "cannot write " + target;
    if (!problem.empty()) {
        std::error_code ignored;
        fs::remove(target, ignored);
    }
    return problem;
}

std::string ZipReader::unpackUnder(const std::string &prefix, const std::string &folder,
                                   std::uint64_t limit) {
    for (const Entry &entry : entries_) {
        if (entry.name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const fs::path target = fs::path(folder) / entry.name;
        std::error_code ec;
        fs::create_directories(entry.folder ? target : target.parent_path(), ec);
        if (ec)
            return "cannot create a folder for " + target.string() + ": " + ec.message();
        if (entry.folder)
            continue;
        if (std::string problem = unpackEntry(entry, target.string(), limit); !problem.empty())
            return problem;
    }
    return "";
}

} // namespace kestrune::master
