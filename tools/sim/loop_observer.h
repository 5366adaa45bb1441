// How a closed loop is watched: at each communication point every observer
// sees the plant once the exchange is done, and any of them can stop the
// loop, saying when and why.
#pragma once

#include "plant_participant.h"

#include <cstdint>
#include <string>
#include <utility>

namespace kestrune::sim {

// How an observer stops the loop: the first stop counts.
class LoopControl {
  public:
    void stop(double time, std::string reason) {
        if (stopped_)
            return;
        stopped_ = true;
        time_ = time;
        reason_ = std::move(reason);
    }
    bool stopped() const { return stopped_; }
    double time() const { return time_; }
    const std::string &reason() const { return reason_; }

  private:
    bool stopped_ = false;
    double time_ = 0.0;
    std::string reason_;
};

// A communication point as the observers see it: the exchange is done, the
// plant shows the outputs the units will read next.
struct LoopPoint {
    std::int64_t stepsDone; // communication steps done, this one included
    const PlantStepResult &plantStep;
    PlantParticipant &plant;
};

class LoopObserver {
  public:
    virtual ~LoopObserver() = default;
    // At t = 0, once every participant is initialized.
    virtual void started(PlantParticipant & /*plant*/) {}
    virtual void communicationPoint(const LoopPoint &point, LoopControl &control) = 0;
    // Once the loop has ended, completed or stopped (by any observer).
    virtual void finished(PlantParticipant & /*plant*/, const LoopControl & /*control*/) {}
};

} // namespace kestrune::sim
