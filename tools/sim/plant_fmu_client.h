// The plant FMU (Kestrune-plant.fmu) driven through its fmi2 functions, as
// any master drives it: variables bound by name from the archive's
// description, the parameters set before initialization, the gates written
// and every output read once per communication step, without heap use per
// step.
#pragma once

#include "master/fmu_archive.h"
#include "master/fmu_library.h"
#include "master/recording_logger.h"
#include "master/variable_bindings.h"
#include "plant_fmu_parameters.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrune::sim {

// What the loop reads after each step.
struct PlantOutputs {
    struct Converter {
        std::array<double, 7> measured; // the unit's seven inputs
        double activePower, reactivePower, upper, lower;
        std::array<int, 3> levels;
        std::int64_t illegalPatterns, directChanges;
    };
    double time; // the communication point reached [s]
    std::array<double, 3> source, pcc;
    double frequency;
    std::vector<Converter> converters;
};

class PlantFmu {
  public:
    PlantFmu() = default;
    PlantFmu(const PlantFmu &) = delete;
    PlantFmu &operator=(const PlantFmu &) = delete;
    // Frees the instance.
    ~PlantFmu();

    // Unpacks the archive, loads its library and binds the variables of
    // `converters` converters by name. "" or what is wrong.
    std::string open(const std::string &archive, std::size_t converters, master::RecordingLogger &logger);
    std::string instantiate(const std::string &name, bool loggingOn);
    // Sets up the experiment at t = 0, sets the parameters and initializes.
    // "" or why not (the FMU's message when it refused).
    std::string initialize(const std::vector<PlantFmuParameter> &parameters);
    bool setGates(std::size_t converter, const master::Gates &gates);
    enum class Step { Ok, Terminated, Failed };
    // Terminated: the plant diverged and stopped (fmi2Discard with
    // fmi2Terminated); failure() says why.
    Step doStep(double t, double h);
    // Every output: one fmi2GetReal and one fmi2GetInteger call.
    bool read(PlantOutputs &out);
    double lastSuccessfulTime();
    // Why the last call failed or the plant stopped: the FMU's logged
    // message, or the client's own.
    const std::string &failure() const { return failure_; }
    void terminate();
    bool reset();

  private:
    bool fail(std::string message);
    // The FMU's last error or discard message for this instance, else `fallback`.
    std::string loggedOr(const std::string &fallback) const;
    const master::Fmi2Functions &fmi() const { return library_.fmi(); }

    master::UnpackedFmu fmu_;
    master::FmuLibrary library_;
    master::RecordingLogger *logger_ = nullptr;
    fmi2Component instance_ = nullptr;
    std::string name_;
    std::size_t converters_ = 0;
    double time_ = 0.0;
    std::vector<std::array<fmi2ValueReference, 12>> gates_;
    // Per converter 11 reals (measurements, powers, halves), then 7 of the
    // grid; per converter 5 integers (levels, counts).
    std::vector<fmi2ValueReference> realReferences_, integerReferences_;
    std::vector<double> reals_;
    std::vector<fmi2Integer> integers_;
    std::string failure_;
};

} // namespace kestrune::sim
