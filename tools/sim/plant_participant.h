// The plant as one participant of the closed loop: it sees communication
// points only (the gates set before a step, the outputs read after it), so
// that a plant behind the FMI fits the same place as the native one.
#pragma once

#include "master/session.h"
#include "plant_signals.h"

#include <array>
#include <cstddef>
#include <string>

namespace kestrune::sim {

struct PlantStepResult {
    enum class Status {
        Ok,
        Terminated, // stopped as diverged at lastSuccessfulTime: a result, outputs still readable
        Failed,     // no result: reason says why
    };
    Status status = Status::Ok;
    std::string reason;
    double lastSuccessfulTime = 0.0; // [s]
};

class PlantParticipant {
  public:
    virtual ~PlantParticipant() = default;

    virtual std::size_t converterCount() const = 0;
    // The gates converter j holds from now on; they take effect on the
    // outputs read afterwards and over the next step.
    virtual void setGates(std::size_t converter, const master::Gates &gates) = 0;
    // Advances from t over h with the gates held. Sets result.status, and
    // the reason and time only when the step does not end Ok (the loop keeps
    // one result for every step, so an ordinary step touches no text).
    virtual void doStep(double t, double h, PlantStepResult &result) = 0;
    // Converter j's seven measurements, the unit's inputs, as the plant
    // shows them now; valid until the plant's next call.
    virtual const master::Inputs &measurements(std::size_t converter) = 0;
    // Every signal; signals.converters sized by the plant.
    virtual void read(PlantSignals &signals) = 0;
    virtual double time() const = 0;
    // The run's counters per converter, cumulative.
    virtual std::int64_t illegalPatterns(std::size_t converter) = 0;
    virtual std::int64_t directChanges(std::size_t converter) = 0;
};

} // namespace kestrune::sim
