// Handing out and taking back the registry's slots, under one lock; looking
// a component up takes none (instance_registry.h).
#include "instance_registry.h"

#include <mutex>

namespace kestrune::plantfmu {

namespace registry {

Slot slots[CAPACITY];

} // namespace registry

namespace {

using registry::CAPACITY;
using registry::slots;

constexpr std::uint32_t NO_SLOT = CAPACITY;

std::mutex registryLock;
std::uint32_t slotsUsed = 0;       // slots below this have held an instance
std::uint32_t firstFree = NO_SLOT; // the most recently freed slot, reused first
std::uint32_t nextFree[CAPACITY];  // the free list

} // namespace

fmi2Component registerInstance(PlantInstance *instance) {
    const std::lock_guard<std::mutex> hold(registryLock);
    std::uint32_t slot = firstFree;
    if (slot != NO_SLOT)
        firstFree = nextFree[slot];
    else if (slotsUsed < CAPACITY)
        slot = slotsUsed++;
    else
        return nullptr;
    registry::Slot &s = slots[slot];
    const std::uint32_t generation = s.generation.load(std::memory_order_relaxed) + 1U;
    s.instance.store(instance, std::memory_order_relaxed);
    // Publishes the instance with the generation that makes its component live.
    s.generation.store(generation, std::memory_order_release);
    const std::uint64_t token =
        ((static_cast<std::uint64_t>(generation) << 32U) | slot) ^ registry::tokenKey();
    return reinterpret_cast<fmi2Component>(static_cast<std::uintptr_t>(token));
}

PlantInstance *retireInstance(fmi2Component c) {
    const std::lock_guard<std::mutex> hold(registryLock);
    PlantInstance *instance = liveInstance(c);
    if (instance == nullptr)
        return nullptr;
    const auto slot = static_cast<std::uint32_t>(registry::tokenOf(c));
    registry::Slot &s = slots[slot];
    const std::uint32_t generation = s.generation.load(std::memory_order_relaxed) + 1U;
    s.generation.store(generation, std::memory_order_release);
    s.instance.store(nullptr, std::memory_order_relaxed);
    // A slot whose generation would wrap to one an old component carried is
    // retired instead of reused.
    if (generation != UINT32_MAX - 1U) {
        nextFree[slot] = firstFree;
        firstFree = slot;
    }
    return instance;
}

} // namespace kestrune::plantfmu
