// Handing out and taking back the slots of the registry of live instances.
// Only instantiation and freeing take the lock; looking a handle up does not
// (fmu/fmi3/registry.h).
#include "fmu/fmi3/registry.h"

#include "fmu/fmi3/instance.h"

namespace kestrune::fmi3 {

namespace registry {

Slot slots[CAPACITY];

} // namespace registry

namespace {

using registry::CAPACITY;
using registry::slots;

constexpr std::uint32_t NO_SLOT = CAPACITY;

SpinLock registryLock;
std::uint32_t slotsUsed = 0;       // slots below this have held an instance
std::uint32_t firstFree = NO_SLOT; // the most recently freed slot, which is reused first

} // namespace

fmi3Instance registerInstance(Instance *instance) {
    const SpinGuard guard(registryLock);
    std::uint32_t slot = firstFree;
    if (slot != NO_SLOT) {
        firstFree = slots[slot].nextFree;
    } else if (slotsUsed < CAPACITY) {
        slot = slotsUsed++;
    } else {
        return nullptr;
    }
    registry::Slot &s = slots[slot];
    const std::uint32_t generation = s.generation.load(std::memory_order_relaxed) + 1U;
    s.instance.store(instance, std::memory_order_relaxed);
    // Publishes the instance pointer with the generation that makes the
    // handle valid.
    s.generation.store(generation, std::memory_order_release);
    return registry::encode(slot, generation);
}

void unregisterInstance(fmi3Instance handle) {
    const std::uint64_t token =
        static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(handle)) ^ registry::tokenKey();
    const auto slot = static_cast<std::uint32_t>(token);
    const SpinGuard guard(registryLock);
    registry::Slot &s = slots[slot];
    const std::uint32_t generation = s.generation.load(std::memory_order_relaxed) + 1U;
    s.generation.store(generation, std::memory_order_release);
    s.instance.store(nullptr, std::memory_order_relaxed);
    // A slot whose generation would wrap to a value an old handle carried is
    // retired instead of reused.
    if (generation != UINT32_MAX - 1U) {
        s.nextFree = firstFree;
        firstFree = slot;
    }
}

} // namespace kestrune::fmi3
