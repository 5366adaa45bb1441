// The live instances of the plant FMU. The master never holds an instance's
// address: its component is a token naming a slot of a fixed table and the
// slot's generation when the instance was made. Looking a component up
// reads one slot, takes no lock and never reads what the master passed, so
// a null, a freed or a foreign component is refused without touching its
// memory, and a step pays no more than two loads for the check.
#pragma once

#include "fmu/fmi2.h"

#include <atomic>
#include <cstdint>

namespace kestrune::plantfmu {

struct PlantInstance;

namespace registry {

static_assert(sizeof(std::uintptr_t) == 8, "a component carries a 32-bit slot and a 32-bit generation");

// Plant instances that can live at once in one loaded copy of the library.
inline constexpr std::uint32_t CAPACITY = 1U << 12;

// The generation is odd while an instance lives in the slot and even while
// it is free; it grows at each change, so a freed instance's component never
// names a later instance.
struct Slot {
    std::atomic<std::uint32_t> generation;
    std::atomic<PlantInstance *> instance;
};

extern Slot slots[CAPACITY];

// Mixed into every token, so that the components of another loaded copy of
// the library decode here to nothing live; bit 32 stays clear, so that a
// live (odd) generation leaves a bit set and no component is null.
inline std::uint64_t tokenKey() {
    const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&slots[0]));
    const std::uint64_t mixed = address * 0x9E3779B97F4A7C15ULL;
    return (mixed ^ (mixed >> 29U)) & ~(std::uint64_t{1} << 32U);
}

inline std::uint64_t tokenOf(fmi2Component c) {
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(c)) ^ tokenKey();
}

} // namespace registry

// Adds a new instance: its component, or null when the table is full.
fmi2Component registerInstance(PlantInstance *instance);

// The instance c names, or null for a null component or one that is not a
// live plant instance of this library.
inline PlantInstance *liveInstance(fmi2Component c) {
    using namespace registry;
    const std::uint64_t token = tokenOf(c);
    const auto slot = static_cast<std::uint32_t>(token);
    const auto generation = static_cast<std::uint32_t>(token >> 32U);
    if (slot >= CAPACITY || (generation & 1U) == 0U ||
        slots[slot].generation.load(std::memory_order_acquire) != generation)
        return nullptr;
    return slots[slot].instance.load(std::memory_order_relaxed);
}

// Takes c out of the live instances: the instance it named, or null when it
// named none (freed before, foreign, null).
PlantInstance *retireInstance(fmi2Component c);

} // namespace kestrune::plantfmu
