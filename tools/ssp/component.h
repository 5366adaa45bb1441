// One component of a system driven as an FMI 2.0 or FMI 3.0 co-simulation
// unit: unpacked from its archive, its library loaded, instantiated,
// parameterised and initialised, then stepped; values read and written by
// the value references of its description.
#pragma once

#include "fmu_variables.h"
#include "ssp_system.h"

#include "master/fmu_archive.h"
#include "master/fmu_library.h"
#include "master/recording_logger.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestrune::ssp {

enum class StepOutcome {
    Done,    // the step was taken
    Stopped, // the unit asked to end the run (discard, terminate)
    Failed,  // the unit returned an error
};

class Component {
  public:
    Component() = default;
    Component(const Component &) = delete;
    Component &operator=(const Component &) = delete;
    // Terminates and frees the instance.
    ~Component();

    // Unpacks the archive into a folder of its own (so that every component
    // loads its own copy of the library), loads it and instantiates it under
    // the component's name. "" or what went wrong.
    std::string open(const SspComponent &component);

    // Sets up the experiment, writes the parameter values (named as the
    // unit's variables), enters and leaves initialization.
    std::string initialize(double startTime, double stopTime, const std::vector<SspParameter> &parameters);

    // Reads or writes the values of variables of one type, as doubles.
    std::string get(SspType type, const std::vector<std::uint32_t> &vrs, std::vector<double> &values);
    std::string set(SspType type, const std::vector<std::uint32_t> &vrs, const std::vector<double> &values);

    // One communication step from time over step. When not Done, message()
    // says why, with what the unit logged.
    StepOutcome doStep(double time, double step);
    const std::string &message() const { return message_; }
    // The unit's time at a stop, as it reports it.
    double stopTime() const { return stopTime_; }

    const std::string &name() const { return name_; }
    const FmuVariables &variables() const { return variables_; }

  private:
    std::string failure(const std::string &call, int status);
    std::string logged() const;

    std::string name_;
    FmuVariables variables_;
    master::UnpackedFmu fmu_;
    master::FmuLibrary library_;
    master::RecordingLogger logger_;
    void *instance_ = nullptr;
    bool fmi3_ = false;
    bool initialised_ = false;
    std::string message_;
    double stopTime_ = 0.0;
};

} // namespace kestrune::ssp
