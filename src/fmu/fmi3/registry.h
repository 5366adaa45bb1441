// The registry of live instances of the FMI 3.0 edition. The master never
// holds the address of an instance: its handle is a token that names a slot
// of a fixed table and the generation of that slot when the instance was
// made. Checking a handle therefore reads one slot of the table, whatever
// the number of live instances, takes no lock, and never dereferences what
// the master passed: null, a freed instance's handle, a handle of another
// loaded copy of the library and any other pointer are refused.
#pragma once

#include "fmu/fmi3/fmi3.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace kestrune::fmi3 {

struct Instance;

namespace registry {

static_assert(sizeof(std::uintptr_t) == 8, "a handle carries a 32-bit slot and a 32-bit generation");

// Instances that can live at once in one loaded copy of the library.
inline constexpr std::uint32_t CAPACITY = 1U << 16;

// One place for an instance. The generation is odd while an instance lives
// in the slot and even while it is free; it grows by one at each change, so
// the handle of a freed instance never names a later one.
struct Slot {
    std::atomic<std::uint32_t> generation;
    std::uint32_t nextFree; // the free list; touched only under the registry's lock
    std::atomic<Instance *> instance;
};

extern Slot slots[CAPACITY];

// Mixed into every token: tokens of another loaded copy of the library (at
// another address) decode here to a slot out of range or a generation that
// does not match. Bit 32 stays clear, so that a live generation (odd) always
// leaves a bit set and no token is null.
inline std::uint64_t tokenKey() {
    const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&slots[0]));
    const std::uint64_t mixed = address * 0x9E3779B97F4A7C15ULL;
    return (mixed ^ (mixed >> 29U)) & ~(std::uint64_t{1} << 32U);
}

inline fmi3Instance encode(std::uint32_t slot, std::uint32_t generation) {
    const std::uint64_t token = ((static_cast<std::uint64_t>(generation) << 32U) | slot) ^ tokenKey();
    return reinterpret_cast<fmi3Instance>(static_cast<std::uintptr_t>(token));
}

} // namespace registry

// Registers a new instance: its handle, or null when the table is full.
fmi3Instance registerInstance(Instance *instance);

// Frees the slot of a live handle; the handle is refused from then on.
void unregisterInstance(fmi3Instance handle);

// The live instance behind handle, or null for null, for a freed instance
// and for anything this copy of the library did not hand out. Every
// exported function that takes an instance looks it up here (through
// enterCall) and answers anything else with fmi3Error.
[[gnu::always_inline]] inline Instance *liveInstance(fmi3Instance handle) {
    using namespace registry;
    const std::uint64_t token =
        static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(handle)) ^ tokenKey();
    const auto slot = static_cast<std::uint32_t>(token);
    const auto generation = static_cast<std::uint32_t>(token >> 32U);
    if (slot >= CAPACITY || (generation & 1U) == 0U ||
        slots[slot].generation.load(std::memory_order_acquire) != generation) {
        return nullptr;
    }
    return slots[slot].instance.load(std::memory_order_relaxed);
}

} // namespace kestrune::fmi3
