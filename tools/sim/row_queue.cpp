#include "row_queue.h"

#include <chrono>

namespace kestrune::sim {

namespace {
// The reader sleeps while the queue is empty rather than being woken per
// row: a wake-up would cost the loop a system call per row. At the loop's
// pace of a row every few microseconds a pause fills a fraction of the
// slots.
constexpr auto READER_PAUSE = std::chrono::microseconds(50);
constexpr auto WRITER_PAUSE = std::chrono::microseconds(20);
} // namespace

RowQueue::RowQueue(std::size_t converters, std::function<void(const PlantSignals &)> consumer)
    : slots_(SLOTS), consumer_(std::move(consumer)) {
    for (PlantSignals &slot : slots_)
        slot.converters.resize(converters);
    thread_ = std::thread([this] { consume(); });
}

RowQueue::~RowQueue() {
    finish();
}

void RowQueue::push(const PlantSignals &signals) {
    const std::uint64_t pushed = pushed_.load(std::memory_order_relaxed);
    while (pushed - consumedSeen_ == SLOTS) {
        consumedSeen_ = consumed_.load(std::memory_order_acquire);
        if (pushed - consumedSeen_ == SLOTS)
            std::this_thread::sleep_for(WRITER_PAUSE);
    }
    PlantSignals &slot = slots_[pushed % SLOTS];
    slot.time = signals.time;
    slot.step = signals.step;
    slot.gridFrequency = signals.gridFrequency;
    slot.source = signals.source;
    slot.pcc = signals.pcc;
    slot.converters = signals.converters; // the slot's capacity: no allocation
    pushed_.store(pushed + 1, std::memory_order_release);
}

void RowQueue::consume() {
    std::uint64_t consumed = 0;
    while (true) {
        // finishing_ is read before pushed_: once it is seen set, pushed_
        // holds every row.
        const bool last = finishing_.load(std::memory_order_acquire);
        const std::uint64_t pushed = pushed_.load(std::memory_order_acquire);
        if (pushed == consumed) {
            if (last)
                return;
            std::this_thread::sleep_for(READER_PAUSE);
            continue;
        }
        for (; consumed != pushed; ++consumed) {
            consumer_(slots_[consumed % SLOTS]);
            consumed_.store(consumed + 1, std::memory_order_release);
        }
    }
}

void RowQueue::finish() {
    if (!thread_.joinable())
        return;
    finishing_.store(true, std::memory_order_release);
    thread_.join();
}

} // namespace kestrune::sim
