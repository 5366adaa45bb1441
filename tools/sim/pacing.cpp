#include "pacing.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace kestrune::sim {

RealTimePacing::RealTimePacing(double factor, double step, std::int64_t firstStep)
    : chunk_(std::max<std::int64_t>(1, std::llround(1e-3 * factor / step))), wallPerStep_(step / factor),
      firstStep_(firstStep), lastStep_(firstStep) {
    report_.on = true;
    report_.factor = factor;
}

void RealTimePacing::started(PlantParticipant & /*plant*/) {
    start_ = Clock::now();
    lastStep_ = firstStep_;
    seenStep_ = firstStep_;
    lastWall_ = 0.0;
}

double RealTimePacing::deadline(std::int64_t k) const {
    return static_cast<double>(k - firstStep_) * wallPerStep_;
}

void RealTimePacing::look(std::int64_t k) {
    const double now = std::chrono::duration<double>(Clock::now() - start_).count();
    // Step i of the n since the last look finished at about
    // lastWall_ + i (now - lastWall_) / n; it is late where that exceeds
    // its deadline, a straight line in i: count the i where it is positive.
    const auto n = static_cast<double>(k - lastStep_);
    const double at0 = lastWall_ - deadline(lastStep_);
    const double slope = (now - lastWall_) / n - wallPerStep_;
    const double atN = at0 + n * slope;
    if (atN > 0.0 || at0 > 0.0) {
        std::int64_t late = 0;
        if (at0 > 0.0 && atN > 0.0)
            late = k - lastStep_;
        else if (slope > 0.0) // late from some i on
            late = k - lastStep_ - static_cast<std::int64_t>(std::floor(-at0 / slope));
        else // late up to some i
            late = static_cast<std::int64_t>(std::ceil(at0 / -slope)) - 1;
        report_.lateSteps += std::clamp<std::int64_t>(late, 0, k - lastStep_);
        report_.worstLateness = std::max(report_.worstLateness, std::max(at0, atN));
    }
    lastStep_ = k;
    lastWall_ = now;
    // Wake a little before the deadline: the sleep's own latency then makes
    // no step late, and the loop runs at most that much ahead of the clock.
    const double wakeAt = deadline(k) - WAKE_MARGIN;
    if (wakeAt > now) {
        std::this_thread::sleep_until(
            start_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(wakeAt)));
        lastWall_ = std::chrono::duration<double>(Clock::now() - start_).count();
    }
}

void RealTimePacing::communicationPoint(const LoopPoint &point, LoopControl & /*control*/) {
    seenStep_ = point.stepsDone;
    if ((point.stepsDone - firstStep_) % chunk_ == 0)
        look(point.stepsDone);
}

void RealTimePacing::finished(PlantParticipant & /*plant*/, const LoopControl & /*control*/) {
    if (seenStep_ > lastStep_)
        look(seenStep_);
}

} // namespace kestrune::sim
