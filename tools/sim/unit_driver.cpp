#include "unit_driver.h"

#include "fmu_binding.h"
#include "master/fmu_archive.h"
#include "master/fmu_library.h"

namespace kestrune::sim {

namespace {

bool failed(fmi2Status status) {
    return status != fmi2OK && status != fmi2Warning;
}

// The names of the calls a failure names, per edition.
struct CallNames {
    const char *instantiate;
    const char *setInputs;
    const char *doStep;
    const char *readGates;
};
constexpr CallNames FMI2_CALLS{"fmi2Instantiate", "fmi2SetReal", "fmi2DoStep", "fmi2GetReal"};
constexpr CallNames FMI3_CALLS{"fmi3InstantiateCoSimulation", "fmi3SetFloat64", "fmi3DoStep",
                               "fmi3GetFloat64"};
constexpr CallNames SCHEDULED_CALLS{"fmi3InstantiateScheduledExecution", "fmi3SetFloat64",
                                    "fmi3ActivateModelPartition", "fmi3GetFloat64"};

// One unit on a loaded library: a session of the library's edition.
class FmuUnit : public UnitDriver {
  public:
    FmuUnit(const master::UnpackedFmu &fmu, std::string fmuPath, const master::VariableBindings &bindings,
            master::RecordingLogger &logger, std::shared_ptr<master::FmuLibrary> library, bool scheduled)
        : fmu_(fmu), fmuPath_(std::move(fmuPath)), library_(std::move(library)),
          calls_(scheduled                                         ? SCHEDULED_CALLS
                 : library_->edition() == master::FmiEdition::Fmi3 ? FMI3_CALLS
                                                                   : FMI2_CALLS),
          session_(scheduled ? std::make_unique<master::ScheduledSession>(*library_, logger, bindings)
                             : master::makeSession(*library_, logger, bindings)) {}

    std::string instantiate(const std::string &instanceName, bool loggingOn) override {
        if (!session_->instantiate(instanceName, fmu_.resourceUri().c_str(), loggingOn))
            return std::string(calls_.instantiate) + " failed: the library of " + fmuPath_ +
                   " does not accept its own model description";
        if (std::string problem = checkAgainstUnit(fmu_.description(), *session_); !problem.empty())
            return fmuPath_ + ": " + problem;
        return "";
    }

    bool initialize(const master::Inputs &inputs) override {
        return check("initialization", session_->initialize(0.0, &inputs));
    }
    bool setInputs(const master::Inputs &inputs) override {
        return check(calls_.setInputs, session_->setInputs(inputs));
    }
    bool doStep(double time, double step) override {
        return check(calls_.doStep, session_->doStep(time, step));
    }
    bool readGates(master::Gates &gates) override {
        return check(calls_.readGates, session_->readGates(gates));
    }
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
    std::shared_ptr<master::FmuLibrary> library_;
    CallNames calls_;
    std::unique_ptr<master::UnitSession> session_;
};

} // namespace

UnitSet::UnitSet() = default;
UnitSet::~UnitSet() {
    units_.clear(); // before the archive's unpacked files go
}

std::string UnitSet::open(const std::string &fmuPath, std::size_t count, master::RecordingLogger &logger,
                          bool scheduled) {
    fmu_ = std::make_unique<master::UnpackedFmu>();
    if (!fmu_->open(fmuPath))
        return fmu_->error();
    // The FMI 3.0 edition gives every instance its own model: one library
    // serves every converter. The FMI 2.0 edition binds one model per loaded
    // library: the archive's own file serves the first converter, a private
    // copy each further one.
    const master::ModelDescription &description = fmu_->description();
    const bool fmi3 = description.isFmi3();
    if (scheduled && !fmi3)
        return fmuPath + ": --interface scheduled needs an FMI 3.0 archive that offers scheduled execution "
                         "(such as Kestrune-fmi3-scheduled.fmu); this one is of FMI 2.0";
    if (scheduled && !description.offersScheduledExecution())
        return fmuPath + ": --interface scheduled needs an FMI 3.0 archive that offers scheduled execution "
                         "(such as Kestrune-fmi3-scheduled.fmu); this one's description has no "
                         "<ScheduledExecution>";
    if (scheduled && description.scheduledModelIdentifier != description.libraryIdentifier())
        return fmuPath + ": its ScheduledExecution names the library " +
               description.scheduledModelIdentifier + ", its CoSimulation another (" +
               description.modelIdentifier + "); kestrune-sim loads one library per archive";
    if (!scheduled && !description.offersCoSimulation())
        return fmuPath + ": the archive offers scheduled execution only (no <CoSimulation>); run it with "
                         "--interface scheduled";
    master::VariableBindings bindings;
    if (const std::string problem = master::bindVariables(description, bindings, scheduled); !problem.empty())
        return fmuPath + ": " + problem;
    const master::FmiEdition edition = fmi3 ? master::FmiEdition::Fmi3 : master::FmiEdition::Fmi2;
    std::shared_ptr<master::FmuLibrary> library;
    for (std::size_t j = 0; j < count; ++j) {
        if (library == nullptr || !fmi3) {
            library = std::make_shared<master::FmuLibrary>();
            const bool loaded = j == 0 ? library->load(fmu_->libraryPath(), edition)
                                       : library->loadFreshCopy(fmu_->libraryPath(), edition);
            if (!loaded)
                return library->error();
        }
        units_.push_back(std::make_unique<FmuUnit>(*fmu_, fmuPath, bindings, logger, library, scheduled));
    }
    return "";
}

} // namespace kestrune::sim
