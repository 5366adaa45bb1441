// The figures of a run from the plant's signals at communication points: for
// a plant that shows nothing between them (a plant behind the FMI). The
// native plant feeds its recorders every base step itself; at the base step
// as communication step both give the same samples.
#pragma once

#include "analysis/figures.h"
#include "loop_observer.h"

#include <vector>

namespace kestrune::sim {

// Each converter's sample of the signals.
plant::Sample sampleOf(const PlantSignals &signals, std::size_t converter);

class FiguresObserver final : public LoopObserver {
  public:
    // recorders: one per converter, kept by the caller.
    explicit FiguresObserver(std::vector<plant::FiguresRecorder> &recorders) : recorders_(recorders) {}
    void started(PlantParticipant &plant) override { record(plant); }
    void communicationPoint(const LoopPoint &point, LoopControl & /*control*/) override {
        record(point.plant);
    }

  private:
    void record(PlantParticipant &plant);

    std::vector<plant::FiguresRecorder> &recorders_;
    PlantSignals signals_;
};

} // namespace kestrune::sim
