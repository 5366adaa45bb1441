#include "unit_driver.h"

#include "fmu_binding.h"
#include "master/fmu_archive.h"
#include "master/fmu_library.h"

namespace kestrune::sim {

namespace {

bool failed(fmi2Status status) {
    return status != fmi2OK && status != fmi2Warning;
}

// An FMI 2.0 unit: its own loaded library and a master::Session on it.
class Fmi2Unit : public UnitDriver {
  public:
    Fmi2Unit(const master::UnpackedFmu &fmu, std::string fmuPath, const master::VariableBindings &bindings,
             master::RecordingLogger &logger)
        : fmu_(fmu), fmuPath_(std::move(fmuPath)), bindings_(bindings), logger_(logger) {}

    // The library from the archive's unpacked file, or a private copy of it.
    std::string load(bool privateCopy) {
        const bool loaded =
            privateCopy ? library_.loadFreshCopy(fmu_.libraryPath()) : library_.load(fmu_.libraryPath());
        if (!loaded)
            return library_.error();
        session_ = std::make_unique<master::Session>(library_, logger_, bindings_);
        return "";
    }

    std::string instantiate(const std::string &instanceName, bool loggingOn) override {
        if (!session_->instantiate(instanceName, fmu_.resourceUri().c_str(), loggingOn))
            return "fmi2Instantiate failed: the library of " + fmuPath_ +
                   " does not accept its own model description";
        if (std::string problem = checkAgainstUnit(fmu_.description(), *session_); !problem.empty())
            return fmuPath_ + ": " + problem;
        return "";
    }

    bool initialize(const master::Inputs &inputs) override {
        return check("initialization", session_->initialize(0.0, &inputs));
    }
    bool setInputs(const master::Inputs &inputs) override {
        return check("fmi2SetReal", session_->setInputs(inputs));
    }
    bool doStep(double time, double step) override {
        return check("fmi2DoStep", session_->doStep(time, step));
    }
    bool readGates(master::Gates &gates) override { return check("fmi2GetReal", session_->readGates(gates)); }
    double readTime() override { return session_->readTime(); }
    void terminate() override {
        session_->terminate();
        session_->freeInstance();
    }

  private:
    bool check(const char *call, fmi2Status status) {
        if (!failed(status))
            return true;
        failure_ = std::string(call) + " failed with " + master::statusName(status);
        return false;
    }

    const master::UnpackedFmu &fmu_;
    std::string fmuPath_;
    master::VariableBindings bindings_;
    master::RecordingLogger &logger_;
    master::FmuLibrary library_;
    std::unique_ptr<master::Session> session_;
};

} // namespace

UnitSet::UnitSet() = default;
UnitSet::~UnitSet() {
    units_.clear(); // before the archive's unpacked files go
}

std::string UnitSet::open(const std::string &fmuPath, std::size_t count, master::RecordingLogger &logger) {
    fmu_ = std::make_unique<master::UnpackedFmu>();
    if (!fmu_->open(fmuPath))
        return fmu_->error();
    master::VariableBindings bindings;
    if (const std::string problem = bindVariables(fmu_->description(), bindings); !problem.empty())
        return fmuPath + ": " + problem;
    for (std::size_t j = 0; j < count; ++j) {
        auto unit = std::make_unique<Fmi2Unit>(*fmu_, fmuPath, bindings, logger);
        if (std::string problem = unit->load(j > 0); !problem.empty())
            return problem;
        units_.push_back(std::move(unit));
    }
    return "";
}

} // namespace kestrune::sim
