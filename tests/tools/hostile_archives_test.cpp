// Archives made to exhaust memory or disk: a description, .ssd or .ssv that
// inflates beyond what is read into memory, a size that lies, an entry
// beyond what is unpacked, and a large entry nothing uses. Each is refused
// naming the entry, or left packed, and nothing stays in the temporary folder.
#include "master/fmu_archive.h"
#include "ssp_reader.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace kestrune {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t MIB = std::uint64_t{1} << 20;

// One entry as stored: plain bytes, or a deflate stream of `size` spaces that
// declares `declared` bytes.
struct Stored {
    std::string bytes;
    std::uint64_t size = 0;
    std::uint64_t declared = 0;
};
using Entries = std::map<std::string, Stored>;

Stored plain(std::string bytes) {
    return {std::move(bytes), 0, 0};
}

// `size` spaces (size > 1) in one fixed-code deflate block: a literal, then
// matches of 258 at distance 1 (13 bits each), the rest as literals.
Stored spaces(std::uint64_t size, std::uint64_t declared = 0) {
    std::string out;
    std::uint64_t bits = 0;
    int count = 0;
    auto put = [&](std::uint32_t value, int width, bool reversed) {
        for (int i = 0; i < width; ++i) {
            const int bit = reversed ? width - 1 - i : i;
            bits |= std::uint64_t{(value >> bit) & 1u} << count++;
        }
        for (; count >= 8; count -= 8, bits >>= 8)
            out += static_cast<char>(bits & 0xFF);
    };
    put(0b011, 3, false); // last block, fixed codes
    put(0x50, 8, true);   // ' '
    for (std::uint64_t left = size - 1; left > 0;) {
        if (left >= 258) {
            put(0xC5, 8, true); // length 258
            put(0, 5, true);    // distance 1
            left -= 258;
        } else {
            put(0x50, 8, true);
            --left;
        }
    }
    put(0, 7, true); // end of block
    put(0, 7, false);
    return {out, size, declared != 0 ? declared : size};
}

std::uint32_t crc32(const std::string &bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const unsigned char byte : bytes) {
        crc ^= byte;
        for (int i = 0; i < 8; ++i)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A zip archive written byte by byte, so that an entry may hold a stream no
// zip library would write: a bomb, or one whose size lies. The CRC of a
// deflated entry is left 0: it is refused or left unread before the end.
std::string zipBytes(const Entries &entries) {
    std::string out, directory;
    auto le = [](std::string &to, std::uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            to += static_cast<char>(i < 8 ? (value >> (8 * i)) & 0xFF : 0);
    };
    for (const auto &[name, entry] : entries) {
        const bool deflated = entry.size != 0;
        const std::uint64_t size = deflated ? entry.declared : entry.bytes.size();
        auto header = [&](std::string &to, std::uint32_t signature, bool central) {
            le(to, signature, 4);
            le(to, central ? 0x00140014 : 20, central ? 4 : 2); // versions made by and needed
            le(to, 0, 2);
            le(to, deflated ? 8 : 0, 2);
            le(to, 0x00210000, 4); // 1980-01-01
            le(to, deflated ? 0 : crc32(entry.bytes), 4);
            le(to, entry.bytes.size(), 4);
            le(to, size, 4);
            le(to, name.size(), 2);
            le(to, 0, central ? 12 : 2);
        };
        header(directory, 0x02014b50, true);
        le(directory, out.size(), 4);
        directory += name;
        header(out, 0x04034b50, false);
        out += name + entry.bytes;
    }
    const std::size_t at = out.size();
    out += directory;
    for (const std::uint64_t value : {std::uint64_t{0x06054b50}, std::uint64_t{0}, entries.size() * 0x10001,
                                      std::uint64_t{directory.size()}, std::uint64_t{at}})
        le(out, value, 4);
    le(out, 0, 2);
    return out;
}

class HostileArchives : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "kestrune-hostile-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        fs::create_directories(folder / "tmp");
        savedTmp = std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "";
        setenv("TMPDIR", (folder / "tmp").c_str(), 1);
    }
    void TearDown() override {
        if (savedTmp.empty())
            unsetenv("TMPDIR");
        else
            setenv("TMPDIR", savedTmp.c_str(), 1);
        fs::remove_all(folder);
    }
    std::string write(const std::string &name, const Entries &entries) {
        std::ofstream((folder / name).string(), std::ios::binary) << zipBytes(entries);
        return (folder / name).string();
    }
    // Every file left in the private temporary folder.
    std::vector<std::string> leftovers() const {
        std::vector<std::string> files;
        for (const auto &entry : fs::recursive_directory_iterator(folder / "tmp"))
            files.push_back(fs::relative(entry.path(), folder / "tmp").string());
        return files;
    }

    fs::path folder;
    std::string savedTmp;
};

// The packed unit's entries, stored.
Entries packedUnit() {
    Entries entries;
    zip_t *archive = zip_open(KESTRUNE_FMU_PATH, ZIP_RDONLY, nullptr);
    for (zip_int64_t i = 0; archive != nullptr && i < zip_get_num_entries(archive, 0); ++i) {
        zip_stat_t stat;
        zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &stat);
        std::string bytes(stat.size, '\0');
        zip_file_t *file = zip_fopen_index(archive, static_cast<zip_uint64_t>(i), 0);
        zip_fread(file, bytes.data(), stat.size);
        zip_fclose(file);
        if (!std::string(stat.name).ends_with("/"))
            entries[stat.name] = plain(bytes);
    }
    zip_discard(archive);
    return entries;
}

TEST_F(HostileArchives, UnitArchiveUnpacksWithinBoundsAndOnlyWhatARunUses) {
    const Entries good = packedUnit();
    ASSERT_TRUE(good.contains("modelDescription.xml"));
    const struct {
        const char *what;
        Entries changes;
        const char *refused; // "" when the archive opens
    } cases[] = {
        {"description beyond 64 MiB",
         {{"modelDescription.xml", spaces(64 * MIB + 1)}},
         "\"modelDescription.xml\""},
        {"description lying about its size",
         {{"modelDescription.xml", spaces(64 * MIB + 1, 100)}},
         "\"modelDescription.xml\": it inflates to more than the limit of 64 MiB"},
        {"resource beyond 1 GiB", {{"resources/huge.bin", spaces(1024 * MIB + 1)}}, "\"resources/huge.bin\""},
        {"documentation beyond 1 GiB and another platform's library",
         {{"documentation/huge.bin", spaces(1024 * MIB + 1)}, {"binaries/win64/other.dll", plain("x")}},
         ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Entries entries = good;
        for (const auto &[name, entry] : c.changes)
            entries[name] = entry;
        {
            master::UnpackedFmu fmu;
            const bool opened = fmu.open(write("unit.fmu", entries));
            EXPECT_EQ(opened, *c.refused == '\0') << fmu.error();
            EXPECT_NE(fmu.error().find(c.refused), std::string::npos) << fmu.error();
            if (opened) {
                EXPECT_TRUE(fs::exists(fmu.libraryPath()));
                EXPECT_FALSE(fs::exists(fs::path(fmu.directory()) / "documentation"));
                EXPECT_FALSE(fs::exists(fs::path(fmu.directory()) / "binaries/win64"));
            }
        }
        EXPECT_EQ(leftovers(), std::vector<std::string>{});
    }
}

const char *const SSD = R"(<?xml version="1.0"?>
<ssd:SystemStructureDescription xmlns:ssd="http://ssp-standard.org/SSP1/SystemStructureDescription"
    version="1.0" name="s"><ssd:System name="s">
  <ssd:Elements><ssd:Component name="unit" source="resources/unit.fmu"/></ssd:Elements>
  <ssd:ParameterBindings><ssd:ParameterBinding source="resources/s.ssv"/></ssd:ParameterBindings>
</ssd:System></ssd:SystemStructureDescription>)";
const char *const SSV =
    R"(<ssv:ParameterSet xmlns:ssv="http://ssp-standard.org/SSP1/SystemStructureParameterValues"
    version="1.0" name="s"><ssv:Parameters/></ssv:ParameterSet>)";
const char *const DESCRIPTION = R"(<fmiModelDescription fmiVersion="2.0" modelName="m" guid="{1}">
<CoSimulation modelIdentifier="m"/><ModelVariables/></fmiModelDescription>)";

TEST_F(HostileArchives, SystemFileReadsWithinBoundsAndUnpacksOnlyTheUnitsItNames) {
    const Entries unit{{"modelDescription.xml", plain(DESCRIPTION)}};
    const Entries good{{"SystemStructure.ssd", plain(SSD)},
                       {"resources/s.ssv", plain(SSV)},
                       {"resources/unit.fmu", plain(zipBytes(unit))}};
    const struct {
        const char *what;
        Entries changes;
        const char *refused;
    } cases[] = {
        {".ssd beyond 64 MiB", {{"SystemStructure.ssd", spaces(64 * MIB + 1)}}, "\"SystemStructure.ssd\""},
        {".ssd lying about its size",
         {{"SystemStructure.ssd", spaces(64 * MIB + 1, 100)}},
         "\"SystemStructure.ssd\""},
        {".ssv beyond 64 MiB", {{"resources/s.ssv", spaces(64 * MIB + 1)}}, "\"resources/s.ssv\""},
        {"unit's description beyond 64 MiB",
         {{"resources/unit.fmu", plain(zipBytes({{"modelDescription.xml", spaces(64 * MIB + 1)}}))}},
         "component unit: "},
        {"1 GiB nothing names",
         {{"documentation/huge.bin", spaces(1024 * MIB + 1)}, {"resources/b.fmu", plain("x")}},
         ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Entries entries = good;
        for (const auto &[name, entry] : c.changes)
            entries[name] = entry;
        {
            ssp::SspSystem system;
            const std::string problem = ssp::readSsp(write("s.ssp", entries), system);
            EXPECT_NE(problem.find(c.refused), std::string::npos) << problem;
            if (*c.refused == '\0') {
                EXPECT_EQ(problem, "");
                EXPECT_EQ(leftovers().size(), 3u) << "the folder, resources/ and resources/unit.fmu";
            } else {
                EXPECT_NE(problem.find("limit of 64 MiB"), std::string::npos) << problem;
            }
        }
        EXPECT_EQ(leftovers(), std::vector<std::string>{});
    }
}

// Under a 2 GiB address space, a .ssd that declares 100 bytes and inflates
// to 2.2 GB is refused with a message, not an abort on an exhausted heap.
TEST_F(HostileArchives, SimulatorRefusesAnInflatingSystemFileUnderAnAddressSpaceLimit) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer reserves more address space than any such limit allows";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "the address sanitizer reserves more address space than any such limit allows";
#endif
#endif
    const std::string ssp = write("s.ssp", {{"SystemStructure.ssd", spaces(2200 * MIB, 100)}});
    const std::string log = (folder / "err.log").string();
    const std::string command = "ulimit -v 2097152 && '" KESTRUNE_SIM_PATH "' '" + ssp + "' --output-dir '" +
                                folder.string() + "' >/dev/null 2>'" + log + "'";
    const int status = std::system(command.c_str());
    std::stringstream err;
    err << std::ifstream(log).rdbuf();
    ASSERT_TRUE(WIFEXITED(status)) << err.str();
    EXPECT_NE(WEXITSTATUS(status), 0);
    EXPECT_NE(err.str().find("\"SystemStructure.ssd\": it inflates to more than the limit of 64 MiB"),
              std::string::npos)
        << err.str();
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

} // namespace
} // namespace kestrune
