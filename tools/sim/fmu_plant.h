// A plant archive (Kestrune-plant.fmu) as the loop's plant participant,
// driven through its fmi2 functions by PlantFmu. It shows only
// communication points, so a run's figures come from its signals there
// (FiguresObserver): at the base step as communication step they are the
// native plant's.
#pragma once

#include "identity.h"
#include "master/recording_logger.h"
#include "plant_fmu_client.h"
#include "plant_participant.h"
#include "scenario.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestrune::sim {

class FmuPlant final : public PlantParticipant {
  public:
    FmuPlant() = default;

    // Opens the archive for the scenario's converters, instantiates the
    // plant (logging on with verbose: its messages are then echoed), sets
    // the scenario's parameters and initializes it at t = 0. "" or what
    // failed.
    std::string open(const std::string &archive, const Scenario &scenario, bool verbose);

    std::size_t converterCount() const override { return converters_; }
    void setGates(std::size_t converter, const master::Gates &gates) override;
    void doStep(double t, double h, PlantStepResult &result) override;
    const master::Inputs &measurements(std::size_t converter) override {
        settle();
        return outputs_.converters[converter].measured;
    }
    void read(PlantSignals &signals) override;
    double time() const override { return static_cast<double>(baseSteps_) * BASE_STEP; }
    std::int64_t illegalPatterns(std::size_t converter) override {
        settle();
        return outputs_.converters[converter].illegalPatterns;
    }
    std::int64_t directChanges(std::size_t converter) override {
        settle();
        return outputs_.converters[converter].directChanges;
    }

    // Ends the run: the last outputs read, the instance terminated.
    void finish();

  private:
    // Reads every output when a step or new gates have made the last ones
    // stale. A failed read keeps the last outputs and fails the next step.
    void settle() {
        if (stale_)
            fetch();
    }
    void fetch();

    master::RecordingLogger logger_;
    PlantFmu fmu_;
    PlantOutputs outputs_{};
    std::size_t converters_ = 0;
    std::int64_t baseSteps_ = 0; // the plant's time in base steps
    double step_ = 0.0;          // [s] the last communication step
    std::int64_t perStep_ = 0;   // its base steps
    std::vector<master::Gates> written_;
    std::vector<char> writtenKnown_; // written_ holds what the plant was given
    bool stale_ = true;
    // The plant stopped before the end of the step: like the native plant,
    // it holds no gates set after that.
    bool stoppedInside_ = false;
    std::string failure_; // a gate write or a read that failed
};

} // namespace kestrune::sim
