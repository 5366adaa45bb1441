// Replaces the hosted blocks' heap for the life of a scope: counts every
// allocation and can make the nth one fail.
#pragma once

#include "children/child_host.h"

#include <cstdlib>

namespace kestrune {

class CountingAllocator {
  public:
    explicit CountingAllocator(int failAt = 0) {
        calls_ = 0;
        failAt_ = failAt;
        childHeapCalloc = allocate;
    }
    ~CountingAllocator() { childHeapCalloc = std::calloc; }
    CountingAllocator(const CountingAllocator &) = delete;
    CountingAllocator &operator=(const CountingAllocator &) = delete;

    int calls() const { return calls_; }

  private:
    static void *allocate(std::size_t count, std::size_t size) {
        ++calls_;
        return calls_ == failAt_ ? nullptr : std::calloc(count, size);
    }
    static inline int calls_ = 0;
    static inline int failAt_ = 0;
};

} // namespace kestrune
