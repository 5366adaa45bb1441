// One instance of the unit driven through the standard co-simulation
// sequence: instantiate, set up, enter and exit initialization, step, free;
// through the fmi2 functions (Session) or the fmi3 functions (Session3),
// behind one interface (UnitSession).
#pragma once

#include "fmu_library.h"
#include "recording_logger.h"
#include "variable_bindings.h"

#include <cstddef>
#include <memory>
#include <string>

namespace kestrune::master {

// What a master does with one instance, whichever edition it drives. The
// statuses of both editions are numbered alike and come back as fmi2Status.
// Not copyable; frees its instance on destruction.
class UnitSession {
  public:
    UnitSession() = default;
    UnitSession(const UnitSession &) = delete;
    UnitSession &operator=(const UnitSession &) = delete;
    virtual ~UnitSession() = default;

    // Instantiates a co-simulation instance; false when that returned null or
    // the library is not loaded. An instance this session already holds is
    // freed first. The calls below return fmi2Error (readTime NaN) while no
    // instance is held.
    virtual bool instantiate(const std::string &instanceName = "kestrune",
                             const char *resourceLocation = nullptr, bool loggingOn = false) = 0;
    // The start time set, initialization entered and left. Inputs, when
    // given, are written in initialization mode.
    virtual fmi2Status initialize(double startTime = 0.0, const Inputs *inputs = nullptr) = 0;

    virtual fmi2Status setInputs(const Inputs &inputs) = 0;
    virtual fmi2Status doStep(double currentTime, double stepSize) = 0;
    virtual fmi2Status readGates(Gates &gates) = 0;
    virtual fmi2Status readReals(const fmi2ValueReference *vr, std::size_t count, double *values) = 0;
    virtual double readTime() = 0;
    virtual fmi2Status terminate() = 0;
    virtual void freeInstance() = 0;
    virtual bool holdsInstance() const = 0;

    // Brings the instance back to where instantiation left it (fmi2Reset,
    // fmi3Reset): a new run on the same instance, nothing loaded again.
    virtual fmi2Status reset() = 0;
    // Keeps the instance's FMU state in the session's one slot (replacing
    // the one kept before), or sets the instance to the kept state. fmi2Error
    // where the edition offers no FMU state.
    virtual fmi2Status keepState() { return fmi2Error; }
    virtual fmi2Status restoreState() { return fmi2Error; }
};

// Drives an FMI 2.0 library.
class Session final : public UnitSession {
  public:
    Session(const FmuLibrary &library, RecordingLogger &logger, VariableBindings bindings = {});
    ~Session() override;

    bool instantiate(const std::string &instanceName = "kestrune", const char *resourceLocation = nullptr,
                     bool loggingOn = false) override;
    // fmi2SetupExperiment with the start time, enter and exit initialization.
    fmi2Status initialize(double startTime = 0.0, const Inputs *inputs = nullptr) override;

    fmi2Status setInputs(const Inputs &inputs) override;
    fmi2Status doStep(double currentTime, double stepSize) override;
    fmi2Status readGates(Gates &gates) override;
    fmi2Status readReals(const fmi2ValueReference *vr, std::size_t count, double *values) override;
    double readTime() override;
    fmi2Status terminate() override;
    void freeInstance() override;
    bool holdsInstance() const override { return component_ != nullptr; }
    fmi2Status reset() override;

    fmi2Component component() const { return component_; }
    const VariableBindings &bindings() const { return bindings_; }
    const Fmi2Functions &fmi() const { return library_.fmi(); }

  private:
    const FmuLibrary &library_;
    RecordingLogger &logger_;
    VariableBindings bindings_;
    fmi2Component component_ = nullptr;
};

// Drives an FMI 3.0 library through fmi3InstantiateCoSimulation (without
// event mode or intermediate update) and fmi3DoStep.
class Session3 : public UnitSession {
  public:
    Session3(const FmuLibrary &library, RecordingLogger &logger, VariableBindings bindings = fmi3Bindings());
    ~Session3() override;

    // The FMI 3.0 edition's token with the default value references.
    static VariableBindings fmi3Bindings();

    bool instantiate(const std::string &instanceName = "kestrune", const char *resourceLocation = nullptr,
                     bool loggingOn = false) override;
    // fmi3EnterInitializationMode with the start time, then exit.
    fmi2Status initialize(double startTime = 0.0, const Inputs *inputs = nullptr) override;

    fmi2Status setInputs(const Inputs &inputs) override;
    fmi2Status doStep(double currentTime, double stepSize) override;
    fmi2Status readGates(Gates &gates) override;
    fmi2Status readReals(const fmi2ValueReference *vr, std::size_t count, double *values) override;
    double readTime() override;
    fmi2Status terminate() override;
    void freeInstance() override;
    bool holdsInstance() const override { return instance_ != nullptr; }
    fmi2Status reset() override;
    fmi2Status keepState() override;
    fmi2Status restoreState() override;

    fmi3Instance instance() const { return instance_; }
    const Fmi3Functions &fmi() const { return library_.fmi3(); }
    // What the last fmi3DoStep returned through its arguments.
    bool terminateRequested() const { return terminateRequested_; }
    double lastSuccessfulTime() const { return lastSuccessfulTime_; }

  protected:
    const FmuLibrary &library_;
    RecordingLogger &logger_;
    VariableBindings bindings_;
    fmi3Instance instance_ = nullptr;

  private:
    bool terminateRequested_ = false;
    double lastSuccessfulTime_ = 0.0;
    fmi3FMUState kept_ = nullptr; // freed with the instance
};

// Drives an FMI 3.0 library through fmi3InstantiateScheduledExecution and
// fmi3ActivateModelPartition, with a scheduler of its own on the caller's
// thread: each communication step activates the partitions of the ticks it
// covers in time order, and at an instant where both clocks tick, the
// base-rate partition first. The clocks and their periods are those of the
// bindings; instantiation fails without both, or unless the slow-rate period
// is a whole number (from 1) of positive base-rate periods. Its figures are those of
// Session3 stepping the same way. With nothing preempting anything, its
// preemption lock does nothing.
class ScheduledSession final : public Session3 {
  public:
    ScheduledSession(const FmuLibrary &library, RecordingLogger &logger,
                     VariableBindings bindings = Session3::fmi3Bindings());
    ~ScheduledSession() override;

    bool instantiate(const std::string &instanceName = "kestrune", const char *resourceLocation = nullptr,
                     bool loggingOn = false) override;
    // fmi3EnterInitializationMode with the start time (0), exit, then the
    // activations at the start time: the gates at the start time are then
    // readable, as after a co-simulation's initialization.
    fmi2Status initialize(double startTime = 0.0, const Inputs *inputs = nullptr) override;

    // Activates the ticks in (currentTime, currentTime + stepSize]; the step
    // must start where the last one ended and span whole base-rate periods.
    fmi2Status doStep(double currentTime, double stepSize) override;
    void freeInstance() override;
    fmi2Status reset() override;

  private:
    // The activations of base tick k: the base-rate clock, then on every
    // slowRatio_-th tick the slow-rate clock.
    fmi2Status activateTick(long long k);

    long long lastTick_ = -1; // the last base tick activated
    long long slowRatio_ = 1; // slow-rate period / base-rate period
};

// A session of the edition the library was loaded with.
std::unique_ptr<UnitSession> makeSession(const FmuLibrary &library, RecordingLogger &logger,
                                         VariableBindings bindings);

} // namespace kestrune::master
