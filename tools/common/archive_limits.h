// How much an archive from elsewhere may make a tool unpack or read. An
// entry inflates to any size its maker wants; these bounds turn such an
// archive into a refusal naming the entry instead of a full disk or an
// exhausted address space.
#pragma once

#include <cstdint>

namespace kestrune {

// An entry written to disk: a shared library, a resource or an embedded
// .fmu.
inline constexpr std::uint64_t MAX_UNPACKED_FILE = std::uint64_t{1} << 30; // 1 GiB

// A description or parameter file read into memory: modelDescription.xml,
// SystemStructure.ssd, an .ssv or .ssm.
inline constexpr std::uint64_t MAX_DESCRIPTION_TEXT = std::uint64_t{64} << 20; // 64 MiB

// The entries one archive may hold, and the bytes all entries unpacked from
// one archive may add up to.
inline constexpr std::uint64_t MAX_ARCHIVE_ENTRIES = 65536;
inline constexpr std::uint64_t MAX_UNPACKED_TOTAL = std::uint64_t{4} << 30; // 4 GiB

} // namespace kestrune
