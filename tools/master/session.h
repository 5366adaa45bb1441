// One instance of the unit driven through the standard co-simulation
// sequence: instantiate, set up, enter and exit initialization, step, free.
#pragma once

#include "fmu_library.h"
#include "recording_logger.h"

#include <array>
#include <string>

namespace kestrune::master {

inline constexpr const char *KESTRUNE_GUID = "{5c0f3a91-7e2d-4b68-9d14-a2c7e85f0b36}";
inline constexpr double BASE_STEP = 5e-6;
inline constexpr int INPUT_COUNT = 7;
inline constexpr int GATE_COUNT = 12;
inline constexpr fmi2ValueReference FIRST_GATE_VR = 7;
inline constexpr fmi2ValueReference TIME_VR = 19;
inline constexpr fmi2ValueReference MEAN_SAMPLE_TIME_VR = 20;

using Inputs = std::array<double, INPUT_COUNT>;
using Gates = std::array<double, GATE_COUNT>;

// Where the session finds the unit's variables and which GUID it passes to
// fmi2Instantiate. The defaults are the unit's own; a master that read a
// model description binds the variables it found there by name.
struct VariableBindings {
    std::string guid = KESTRUNE_GUID;
    std::array<fmi2ValueReference, INPUT_COUNT> inputs{0, 1, 2, 3, 4, 5, 6};
    std::array<fmi2ValueReference, GATE_COUNT> gates{7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
    fmi2ValueReference time = TIME_VR;
};

// Not copyable; frees its instance on destruction.
class Session {
  public:
    Session(const FmuLibrary &library, RecordingLogger &logger, VariableBindings bindings = {});
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;
    ~Session();

    // fmi2Instantiate as a co-simulation unit; false when it returned null
    // or the library is not loaded. An instance this session already holds is
    // freed first. The calls below return fmi2Error (readTime NaN) while no
    // instance is held.
    bool instantiate(const std::string &instanceName = "kestrune", const char *resourceLocation = nullptr,
                     bool loggingOn = false);
    // fmi2SetupExperiment with the start time, enter and exit initialization.
    // Inputs, when given, are written after entering initialization mode.
    fmi2Status initialize(double startTime = 0.0, const Inputs *inputs = nullptr);

    fmi2Status setInputs(const Inputs &inputs);
    fmi2Status doStep(double currentTime, double stepSize);
    fmi2Status readGates(Gates &gates);
    double readTime();
    fmi2Status terminate();
    void freeInstance();

    fmi2Component component() const { return component_; }
    const VariableBindings &bindings() const { return bindings_; }
    const Fmi2Functions &fmi() const { return library_.fmi(); }

  private:
    const FmuLibrary &library_;
    RecordingLogger &logger_;
    VariableBindings bindings_;
    fmi2Component component_ = nullptr;
};

} // namespace kestrune::master
