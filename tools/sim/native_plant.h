// The native plant (plant::Plant linked in) as the loop's plant participant.
// Inside a communication step it advances base step by base step and hands
// each base step's sample to the figures, so the figures see the run at the
// plant's own step whatever the communication step.
#pragma once

#include "analysis/figures.h"
#include "plant.h"
#include "plant_participant.h"

#include <vector>

namespace kestrune::sim {

class NativePlant final : public PlantParticipant {
  public:
    // measured and pending are kept by the caller (a run's state, carried
    // over branches); recorders may be null (no figures).
    NativePlant(plant::Plant &plant, std::vector<master::Inputs> &measured,
                std::vector<plant::Sample> &pending, std::vector<plant::FiguresRecorder> *recorders)
        : plant_(plant), measured_(measured), pending_(pending), recorders_(recorders),
          held_(plant.converterCount()), holding_(plant.converterCount(), 0) {}

    std::size_t converterCount() const override { return plant_.converterCount(); }
    void setGates(std::size_t converter, const master::Gates &gates) override;
    void doStep(double t, double h, PlantStepResult &result) override;
    const master::Inputs &measurements(std::size_t converter) override {
        settle();
        return measured_[converter];
    }
    void read(PlantSignals &signals) override;
    double time() const override { return plant_.time(); }
    std::int64_t illegalPatterns(std::size_t converter) override { return plant_.illegalPatterns(converter); }
    std::int64_t directChanges(std::size_t converter) override { return plant_.directChanges(converter); }

    // Hands the last sample to the figures once the run is over.
    void finish();

  private:
    // Measures every converter and takes its sample when a step or a change
    // of the gates has made the last ones stale.
    void settle() {
        if (stale_)
            measure();
    }
    void measure();

    plant::Plant &plant_;
    std::vector<master::Inputs> &measured_;
    std::vector<plant::Sample> &pending_;
    std::vector<plant::FiguresRecorder> *recorders_;
    bool stale_ = true;
    double step_ = 0.0;        // [s] the last communication step
    std::int64_t perStep_ = 0; // its base steps
    // The gates each converter was last given: holding the same gates again
    // changes nothing in the plant (after a step its levels are the held
    // ones, and no leg changes directly), so they are held only when they
    // change.
    std::vector<master::Gates> held_;
    std::vector<char> holding_; // held_ is known (not vector<bool>: no bit twiddling per step)
    // The plant stopped before the end of the step: the gates set for the
    // next step are not held, the outputs stay those of the stop.
    bool stoppedInside_ = false;
};

} // namespace kestrune::sim
