// The registry of live FMI 3.0 instances on its own: a handle names its
// instance until it is freed and never after, even once its slot holds
// another instance; a full table refuses; nothing else names an instance.
#include "fmu/fmi3/registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace kestrune::fmi3 {
namespace {

// Stand-ins for instances: the registry never dereferences them.
Instance *fake(std::size_t k) {
    return reinterpret_cast<Instance *>(static_cast<std::uintptr_t>(0x10000 + 64 * k));
}

TEST(Fmi3RegistryTest, HandlesNameTheirInstanceUntilFreedAndAFullTableRefuses) {
    std::vector<fmi3Instance> handles;
    for (std::size_t k = 0; k < registry::CAPACITY; ++k) {
        handles.push_back(registerInstance(fake(k)));
        ASSERT_NE(handles.back(), nullptr) << "slot " << k;
    }
    EXPECT_EQ(registerInstance(fake(0)), nullptr);
    std::size_t named = 0;
    for (std::size_t k = 0; k < handles.size(); ++k) {
        named += liveInstance(handles[k]) == fake(k) ? 1U : 0U;
    }
    EXPECT_EQ(named, handles.size());

    // A freed slot is reused at once; its old handle stays refused.
    unregisterInstance(handles[5]);
    EXPECT_EQ(liveInstance(handles[5]), nullptr);
    const fmi3Instance reused = registerInstance(fake(5000000));
    ASSERT_NE(reused, nullptr);
    EXPECT_NE(reused, handles[5]);
    EXPECT_EQ(liveInstance(reused), fake(5000000));
    EXPECT_EQ(liveInstance(handles[5]), nullptr);
    handles[5] = reused;

    int onStack = 0;
    void *onHeap = std::malloc(64);
    const fmi3Instance notHandles[] = {nullptr, &onStack, onHeap, fake(7),
                                       reinterpret_cast<fmi3Instance>(~std::uintptr_t{0})};
    for (const fmi3Instance h : notHandles) {
        EXPECT_EQ(liveInstance(h), nullptr) << h;
    }
    std::free(onHeap);

    for (const fmi3Instance h : handles) {
        unregisterInstance(h);
    }
    for (std::size_t k = 0; k < handles.size(); k += 4099) {
        EXPECT_EQ(liveInstance(handles[k]), nullptr) << "slot " << k;
    }
}

} // namespace
} // namespace kestrune::fmi3
