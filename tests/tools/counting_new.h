// Replaces the global operator new and delete of the test program that
// includes it (include it in one file of that program only): every form goes
// through malloc and free, so that the sanitizer build sees matching pairs,
// and every allocation is counted in heapAllocations.
#pragma once

#include <atomic>
#include <cstdlib>
#include <new>

namespace kestrune::testing_heap {

inline std::atomic<long> heapAllocations{0};

inline void *counted(std::size_t size) noexcept {
    ++heapAllocations;
    return std::malloc(size == 0 ? 1 : size);
}

inline void *countedOrThrow(std::size_t size) {
    if (void *p = counted(size))
        return p;
    throw std::bad_alloc();
}

} // namespace kestrune::testing_heap

void *operator new(std::size_t size) {
    return kestrune::testing_heap::countedOrThrow(size);
}
void *operator new[](std::size_t size) {
    return kestrune::testing_heap::countedOrThrow(size);
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    return kestrune::testing_heap::counted(size);
}
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept {
    return kestrune::testing_heap::counted(size);
}
void operator delete(void *p) noexcept {
    std::free(p);
}
void operator delete[](void *p) noexcept {
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void *p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void *p, const std::nothrow_t &) noexcept {
    std::free(p);
}
void operator delete[](void *p, const std::nothrow_t &) noexcept {
    std::free(p);
}
