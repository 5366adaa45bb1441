// How the closed loop drives each converter's unit: one small interface, so
// that the loop does not depend on the FMI version of the archive, and one
// place that opens an archive and creates a unit per converter.
#pragma once

#include "master/recording_logger.h"
#include "master/session.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace kestrune::master {
class UnpackedFmu;
}

namespace kestrune::sim {

// One instance of the unit. The calls return false on failure (a warning is
// no failure), and failure() then says which call failed with which status.
class UnitDriver {
  public:
    virtual ~UnitDriver() = default;

    // Creates the instance and checks that it agrees with the archive's
    // model description; "" or one line saying what is wrong.
    virtual std::string instantiate(const std::string &instanceName, bool loggingOn) = 0;
    // Sets up the experiment at t = 0, enters initialization mode, writes
    // the measurements, leaves initialization mode.
    virtual bool initialize(const master::Inputs &inputs) = 0;
    virtual bool setInputs(const master::Inputs &inputs) = 0;
    virtual bool doStep(double time, double step) = 0;
    virtual bool readGates(master::Gates &gates) = 0;
    virtual double readTime() = 0;
    // Terminates and frees the instance.
    virtual void terminate() = 0;
    // Terminates and keeps the instance for reset().
    virtual void terminateKeeping() = 0;
    // Brings the instance back to where instantiate() left it; false when it
    // cannot (the caller then instantiates afresh).
    virtual bool reset() = 0;
    // The instance's FMU state kept, or the instance set back to it; false
    // where the archive offers no FMU state.
    virtual bool keepState() = 0;
    virtual bool restoreState() = 0;

    const std::string &failure() const { return failure_; }

  protected:
    std::string failure_;
};

// An unpacked archive and one unit per converter, each with model data of
// its own: the FMI 3.0 edition's library is loaded once and gives every
// converter an instance; the FMI 2.0 edition's, whose model data exists once
// per loaded library, is loaded once per converter, the first from the
// archive's own unpacked copy and every further one from a private copy of
// the file.
class UnitSet {
  public:
    UnitSet();
    UnitSet(const UnitSet &) = delete;
    UnitSet &operator=(const UnitSet &) = delete;
    ~UnitSet();

    // Opens the archive and creates `count` units logging to logger; "" or
    // one line saying what failed.
    // With scheduled, the archive must be of FMI 3.0 and offer scheduled
    // execution from the same library; each unit is then driven through it.
    std::string open(const std::string &fmuPath, std::size_t count, master::RecordingLogger &logger,
                     bool scheduled = false);

    std::size_t size() const { return units_.size(); }
    UnitDriver &operator[](std::size_t converter) { return *units_[converter]; }

  private:
    std::unique_ptr<master::UnpackedFmu> fmu_;
    std::vector<std::unique_ptr<UnitDriver>> units_;
};

} // namespace kestrune::sim
