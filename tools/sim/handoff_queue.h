// Items handed from the loop to a thread of their own: a bounded queue with
// one writer (the loop) and one reader (the thread), whose slots are made
// before the run from a prototype, so that handing an item over copies it
// into a slot of its size and allocates nothing. The thread hands each item,
// in order, to the consumer; the loop waits only when the queue is full.
#pragma once

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace kestrune::sim {

// Lets the scheduler treat the thread as batch work, so that its wake-ups do
// not preempt the loop on a busy machine (where there is such a class).
void yieldToTheLoop(std::thread &thread);

template <class T> class HandoffQueue {
  public:
    // prototype: what every slot starts as (a record with a vector: of the
    // size the items will have, so that copying one in reuses the slot's).
    HandoffQueue(std::size_t slots, const T &prototype, std::function<void(const T &)> consumer)
        : slots_(std::bit_ceil(slots), prototype), mask_(slots_.size() - 1), consumer_(std::move(consumer)),
          thread_([this] { consume(); }) {
        yieldToTheLoop(thread_);
    }
    ~HandoffQueue() { finish(); }
    HandoffQueue(const HandoffQueue &) = delete;
    HandoffQueue &operator=(const HandoffQueue &) = delete;

    // On the loop's thread.
    void push(const T &item) {
        const std::uint64_t pushed = pushed_.load(std::memory_order_relaxed);
        while (pushed - consumedSeen_ == slots_.size()) {
            consumedSeen_ = consumed_.load(std::memory_order_acquire);
            if (pushed - consumedSeen_ == slots_.size()) {
                wake_.notify_one();
                std::this_thread::sleep_for(WRITER_PAUSE);
            }
        }
        slots_[pushed & mask_] = item;
        pushed_.store(pushed + 1, std::memory_order_release);
    }
    // Waits until the consumer has had every item pushed, and ends the
    // thread; nothing is pushed after it.
    void finish() {
        if (!thread_.joinable())
            return;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            finishing_.store(true, std::memory_order_release);
        }
        wake_.notify_one();
        thread_.join();
    }

  private:
    // The reader sleeps between batches rather than being woken per item (a
    // wake-up would cost the loop a system call per item), for a pause that
    // adapts to the pace of the items: longer while a batch fills less than
    // an eighth of the slots, shorter while it fills more than half.
    static constexpr auto SHORTEST_PAUSE = std::chrono::microseconds(50);
    static constexpr auto LONGEST_PAUSE = std::chrono::microseconds(2000);
    static constexpr auto WRITER_PAUSE = std::chrono::microseconds(20);

    void consume() {
        std::uint64_t consumed = 0;
        std::chrono::microseconds pause = SHORTEST_PAUSE;
        while (true) {
            // finishing_ is read before pushed_: once it is seen set, pushed_
            // counts every item.
            const bool last = finishing_.load(std::memory_order_acquire);
            const std::uint64_t pushed = pushed_.load(std::memory_order_acquire);
            const std::uint64_t batch = pushed - consumed;
            for (; consumed != pushed; ++consumed) {
                consumer_(slots_[consumed & mask_]);
                consumed_.store(consumed + 1, std::memory_order_release);
            }
            if (last)
                return;
            if (batch < slots_.size() / 8)
                pause = std::min(pause * 2, LONGEST_PAUSE);
            else if (batch > slots_.size() / 2)
                pause = std::max(pause / 2, SHORTEST_PAUSE);
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait_for(lock, pause, [this] { return finishing_.load(std::memory_order_relaxed); });
        }
    }

    std::vector<T> slots_;
    std::size_t mask_;
    std::function<void(const T &)> consumer_;
    // Items pushed and items consumed, counting from the start, each on a
    // cache line of its own: one thread writes each.
    alignas(64) std::atomic<std::uint64_t> pushed_{0};
    alignas(64) std::atomic<std::uint64_t> consumed_{0};
    alignas(64) std::atomic<bool> finishing_{false};
    std::mutex mutex_; // the reader's pause, cut short by finish() or a full queue
    std::condition_variable wake_;
    std::uint64_t consumedSeen_ = 0; // the loop's last look at consumed_
    std::thread thread_;             // last: started once the rest is made
};

} // namespace kestrune::sim
