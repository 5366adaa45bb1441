// Rows handed from the loop to a thread of their own: a bounded queue with
// one writer (the loop) and one reader (the thread), whose slots are made
// before the run, so that handing a row over copies it and allocates
// nothing. The thread hands each row, in order, to the consumer; the loop
// waits only when the queue is full.
#pragma once

#include "plant_signals.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

namespace kestrune::sim {

class RowQueue {
  public:
    // converters: the rows' converter count (slots of that size are made
    // up front; a larger row grows its slot once).
    RowQueue(std::size_t converters, std::function<void(const PlantSignals &)> consumer);
    ~RowQueue();
    RowQueue(const RowQueue &) = delete;
    RowQueue &operator=(const RowQueue &) = delete;

    // On the loop's thread.
    void push(const PlantSignals &signals);
    // Waits until the consumer has had every row pushed, and ends the
    // thread. Rows pushed afterwards are lost.
    void finish();

  private:
    static constexpr std::size_t SLOTS = 2048; // a power of two
    void consume();

    std::vector<PlantSignals> slots_;
    std::function<void(const PlantSignals &)> consumer_;
    // Rows pushed and rows consumed, counting from the start, each on a
    // cache line of its own: one thread writes each.
    alignas(64) std::atomic<std::uint64_t> pushed_{0};
    alignas(64) std::atomic<std::uint64_t> consumed_{0};
    alignas(64) std::atomic<bool> finishing_{false};
    std::uint64_t consumedSeen_ = 0; // the loop's last look at consumed_
    std::thread thread_;
};

} // namespace kestrune::sim
