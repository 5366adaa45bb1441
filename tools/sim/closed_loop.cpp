#include "closed_loop.h"
#include "common/number_text.h"

#include "figures_observer.h"
#include "fmu_plant.h"
#include "master/recording_logger.h"
#include "native_plant.h"
#include "unit_driver.h"

#include <utility>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <optional>

namespace kestrune::sim {

namespace {

using Clock = std::chrono::steady_clock;

// The calling thread's processor time [s]: unlike the wall time, it leaves
// out the time the thread waits for a busy machine.
double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// Prints the warnings and errors the unit logged since the last call (when
// they are not echoed already), keeps their text for the result and forgets
// the records, so a long run does not pile them up.
class LogDrain {
  public:
    LogDrain(master::RecordingLogger &logger, bool echoed, std::ostream &err, std::vector<std::string> &kept)
        : logger_(logger), echoed_(echoed), err_(err), kept_(kept) {}

    void drain() {
        for (const master::LogRecord &record : logger_.messages) {
            if (record.status < fmi2Warning)
                continue;
            if (record.status >= fmi2Error)
                errorsSeen_ = true;
            std::string text = record.message;
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
                text.pop_back();
            std::string line =
                std::string(master::statusName(record.status)) + " (" + record.category + "): " + text;
            if (named_)
                line.insert(0, record.instanceName + ": ");
            if (!echoed_)
                err_ << "kestrune-sim: unit reported " << line << '\n';
            if (kept_.size() < MAX_KEPT)
                kept_.push_back(std::move(line));
        }
        logger_.clear();
    }

    bool errorsSeen() const { return errorsSeen_; }
    // A run continued from a branch carries the errors seen before it.
    void carryErrors(bool seen) { errorsSeen_ = seen; }
    // With several units, each line names the instance it came from.
    void nameInstances(bool on) { named_ = on; }

  private:
    static constexpr std::size_t MAX_KEPT = 100;
    master::RecordingLogger &logger_;
    bool echoed_;
    std::ostream &err_;
    std::vector<std::string> &kept_;
    bool errorsSeen_ = false;
    bool named_ = false;
};

bool allFinite(const master::Inputs &m) {
    return std::all_of(m.begin(), m.end(), [](double v) { return std::isfinite(v); });
}

} // namespace

std::vector<double> segmentStarts(const Scenario &scenario) {
    // As the plant applies them: on the first base step at or after their
    // time, so events on one step begin one segment.
    std::vector<double> starts;
    std::int64_t previous = 0;
    const std::int64_t end = plant::stepIndexAtOrAfter(scenario.duration);
    for (const ScenarioEvent &event : scenario.events) {
        const std::int64_t step = plant::stepIndexAtOrAfter(event.time);
        if (step > previous && step < end) {
            starts.push_back(event.time);
            previous = step;
        }
    }
    return starts;
}

namespace detail {

// Everything a run carries from one communication step to the next, apart
// from the units' own state.
struct LoopState {
    plant::Plant plant;
    std::vector<plant::FiguresRecorder> recorders;
    std::vector<master::Inputs> measured;
    std::vector<plant::Sample> pending; // each converter's latest sample, not yet recorded
    std::int64_t untilRow = 0;
    std::int64_t steps = 0; // communication steps done
    std::vector<std::string> unitMessages;
    bool errorsSeen = false;
};

} // namespace detail

LoopUnits::LoopUnits(std::string fmuPath) : path_(std::move(fmuPath)) {}
LoopUnits::~LoopUnits() = default;

std::string LoopUnits::open(std::size_t count, bool scheduled) {
    if (units_ != nullptr && units_->size() == count && scheduled_ == scheduled)
        return "";
    units_ = std::make_unique<UnitSet>();
    instantiated_ = false;
    scheduled_ = scheduled;
    if (std::string problem = units_->open(path_, count, logger_, scheduled); !problem.empty()) {
        units_.reset();
        return problem;
    }
    return "";
}

LoopBranch::LoopBranch(std::int64_t steps) : steps_(steps) {}
LoopBranch::~LoopBranch() = default;

// One run of the closed loop on a worker's units.
class ClosedLoop {
  public:
    ClosedLoop(LoopUnits &units, const RunPlan &plan, bool verbose, RowSink *rows, ProgressSink *progress,
               std::ostream &err)
        : owner_(units), plan_(plan), scenario_(plan.scenario), n_(converterCount(plan.scenario)),
          verbose_(verbose), rows_(rows), progress_(progress),
          log_(units.logger_, verbose, err, result_.unitMessages) {}

    ClosedLoopResult run(LoopBranch *branch, const std::vector<LoopObserver *> &extra);

  private:
    ClosedLoopResult fail(std::string message) {
        result_.ok = false;
        result_.error = std::move(message);
        return result_;
    }
    double wallSeconds() const { return std::chrono::duration<double>(Clock::now() - wallStart_).count(); }
    // The plant and recorders of the plan at t = 0.
    void freshState() {
        const std::vector<plant::PlantParameters> converterList = converterParameters(scenario_);
        state_ = std::make_unique<detail::LoopState>(
            detail::LoopState{.plant = plant::Plant(scenario_.parameters, scenarioImpedance(scenario_),
                                                    std::vector<plant::ConverterParameters>(
                                                        converterList.begin(), converterList.end()),
                                                    plantEvents(scenario_)),
                              .recorders = std::vector<plant::FiguresRecorder>(
                                  n_, plant::FiguresRecorder(segmentStarts(scenario_), scenario_.duration)),
                              .measured = std::vector<master::Inputs>(n_),
                              .pending = std::vector<plant::Sample>(n_),
                              .untilRow = 0,
                              .steps = 0,
                              .unitMessages = {},
                              .errorsSeen = false});
    }
    // The units made or reset and initialized, the plant holding its first
    // gates.
    std::string startFromZero(PlantParticipant &plant);
    // One communication step from t in the plan's coupling; false with
    // failure_ saying what failed. On the plant's own type, so that a final
    // participant's calls are direct.
    template <class Plant> bool sequentialStep(Plant &plant, double t, PlantStepResult &step);
    template <class Plant> bool jacobiStep(Plant &plant, double t, PlantStepResult &step);
    bool unitFailed(std::size_t unit, double t);
    // The run from its start (or the branch taken over) to its result, on
    // the plant's own type; figures: the observer that records the figures
    // when the plant does not itself.
    template <class Plant>
    ClosedLoopResult runOn(Plant &plant, LoopBranch *branch, const std::vector<LoopObserver *> &extra,
                           LoopObserver *figures);
    // The state of the branch taken over; false when this run's plant or
    // segments do not continue it, or a unit cannot take its FMU state.
    bool continueFrom(const LoopBranch &branch);
    void keep(LoopBranch &branch);

    LoopUnits &owner_;
    const RunPlan &plan_;
    const Scenario &scenario_;
    std::size_t n_;
    bool verbose_;
    RowSink *rows_;
    ProgressSink *progress_;
    ClosedLoopResult result_;
    LogDrain log_;
    std::unique_ptr<detail::LoopState> state_;
    Clock::time_point wallStart_;
    double cpuStart_ = 0.0;
    std::vector<master::Inputs> inputs_; // the units' inputs at this exchange
    std::vector<master::Gates> gates_;   // the plant's
    std::string failure_;
};

std::string ClosedLoop::startFromZero(PlantParticipant &plant) {
    UnitSet &units = *owner_.units_;
    // Units of an earlier run are reset; any that cannot be are made afresh.
    for (std::size_t j = 0; j < n_; ++j) {
        if (owner_.instantiated_ && owner_.verbose_ == verbose_) {
            if (units[j].reset())
                continue;
            owner_.logger_.clear(); // what the refused reset logged is no error of this run
        }
        const std::string name = n_ == 1 ? std::string("kestrune") : "kestrune" + std::to_string(j);
        if (std::string problem = units[j].instantiate(name, verbose_); !problem.empty()) {
            owner_.instantiated_ = false;
            log_.drain();
            return problem;
        }
    }
    owner_.instantiated_ = true;
    owner_.verbose_ = verbose_;
    log_.drain();

    for (std::size_t j = 0; j < n_; ++j) {
        inputs_[j] = plant.measurements(j);
        if (!allFinite(inputs_[j]))
            return "the plant's measurements at t = 0 are not finite";
    }
    const bool jacobi = plan_.coupling == Coupling::Jacobi;
    for (std::size_t j = 0; j < n_; ++j) {
        // Jacobi: every input holds its start value, 0, until the first
        // exchange: the units start on zero measurements, the plant holds
        // zero gates over the first step.
        const master::Inputs initial = jacobi ? master::Inputs{} : inputs_[j];
        if (!units[j].initialize(initial)) {
            log_.drain();
            return units[j].failure();
        }
        gates_[j] = master::Gates{};
        if (!jacobi && !units[j].readGates(gates_[j])) {
            log_.drain();
            return "reading the gates after initialization: " + units[j].failure();
        }
    }
    log_.drain();
    // Sequential: every converter holds the levels of the units' first gates
    // over the first step, and the units measure them at its end.
    for (std::size_t j = 0; j < n_; ++j)
        plant.setGates(j, gates_[j]);
    return "";
}

bool ClosedLoop::unitFailed(std::size_t unit, double t) {
    failure_ = (*owner_.units_)[unit].failure() +
               (n_ == 1 ? "" : " (converter " + std::to_string(unit) + ")") +
               " in the communication step from t = " + numberText(t, 10) + " s, after " +
               std::to_string(result_.stepsDone) + " steps";
    return false;
}

template <class Plant> bool ClosedLoop::sequentialStep(Plant &plant, double t, PlantStepResult &step) {
    UnitSet &units = *owner_.units_;
    const double h = plan_.step;
    // Every unit's measurements, every unit's step, every unit's gates.
    std::size_t failedUnit = n_;
    for (std::size_t j = 0; j < n_ && failedUnit == n_; ++j)
        if (!units[j].setInputs(plant.measurements(j)))
            failedUnit = j;
    // The plant advances over the step with the gates read one step earlier,
    // so its step needs nothing of the units' steps: it is taken first, and
    // the processor overlaps its long chain of dependent arithmetic with the
    // units' work. A unit that fails is still reported before the plant.
    if (failedUnit == n_)
        plant.doStep(t, h, step);
    for (std::size_t j = 0; j < n_ && failedUnit == n_; ++j)
        if (!units[j].doStep(t, h))
            failedUnit = j;
    for (std::size_t j = 0; j < n_ && failedUnit == n_; ++j)
        if (!units[j].readGates(gates_[j]))
            failedUnit = j;
    if (!owner_.logger_.messages.empty())
        log_.drain();
    if (failedUnit != n_)
        return unitFailed(failedUnit, t);
    if (step.status == PlantStepResult::Status::Failed) {
        failure_ = step.reason;
        return false;
    }
    // At the step's end each converter holds the gates just read, which
    // enter the PCC voltage there.
    for (std::size_t j = 0; j < n_; ++j)
        plant.setGates(j, gates_[j]);
    return true;
}

template <class Plant> bool ClosedLoop::jacobiStep(Plant &plant, double t, PlantStepResult &step) {
    UnitSet &units = *owner_.units_;
    const double h = plan_.step;
    // Every participant steps on the values of the last exchange ...
    std::size_t failedUnit = n_;
    for (std::size_t j = 0; j < n_ && failedUnit == n_; ++j)
        if (!units[j].doStep(t, h))
            failedUnit = j;
    if (failedUnit == n_) {
        plant.doStep(t, h, step);
        if (step.status == PlantStepResult::Status::Failed) {
            failure_ = step.reason;
            return false;
        }
    }
    // ... then every output is read ...
    for (std::size_t j = 0; j < n_ && failedUnit == n_; ++j)
        if (!units[j].readGates(gates_[j]))
            failedUnit = j;
    for (std::size_t j = 0; j < n_; ++j)
        inputs_[j] = plant.measurements(j);
    // ... and then every input set.
    for (std::size_t j = 0; j < n_ && failedUnit == n_; ++j)
        if (!units[j].setInputs(inputs_[j]))
            failedUnit = j;
    if (!owner_.logger_.messages.empty())
        log_.drain();
    if (failedUnit != n_)
        return unitFailed(failedUnit, t);
    for (std::size_t j = 0; j < n_; ++j)
        plant.setGates(j, gates_[j]);
    return true;
}

bool ClosedLoop::continueFrom(const LoopBranch &branch) {
    const detail::LoopState &past = *branch.state_;
    detail::LoopState &s = *state_;
    if (branch.units_ != &owner_ || !owner_.instantiated_ || past.recorders.size() != n_ ||
        !s.plant.continueFrom(past.plant))
        return false;
    for (std::size_t j = 0; j < n_; ++j)
        if (!s.recorders[j].continueFrom(past.recorders[j]))
            return false;
    UnitSet &units = *owner_.units_;
    for (std::size_t j = 0; j < n_; ++j)
        if (!units[j].restoreState()) {
            log_.drain();
            return false;
        }
    s.measured = past.measured;
    s.pending = past.pending;
    s.untilRow = past.untilRow;
    s.steps = past.steps;
    result_.stepsDone = past.steps;
    result_.continuedAt = past.steps;
    result_.unitMessages = past.unitMessages;
    log_.carryErrors(past.errorsSeen);
    return true;
}

void ClosedLoop::keep(LoopBranch &branch) {
    UnitSet &units = *owner_.units_;
    for (std::size_t j = 0; j < n_; ++j)
        if (!units[j].keepState()) {
            log_.drain();
            branch.steps_ = -1; // not offered: the runs start from zero
            return;
        }
    branch.state_ = std::make_unique<detail::LoopState>(*state_);
    branch.state_->unitMessages = result_.unitMessages;
    branch.state_->errorsSeen = log_.errorsSeen();
    branch.units_ = &owner_;
    if (branch.onKeep)
        branch.onKeep();
}

ClosedLoopResult ClosedLoop::run(LoopBranch *branch, const std::vector<LoopObserver *> &extra) {
    owner_.logger_.setEcho(verbose_);
    // The unit logs two info messages per fmi2DoStep; unless they are shown,
    // the logger drops them before formatting.
    owner_.logger_.setRecordOk(false);
    owner_.logger_.clear();
    log_.nameInstances(n_ > 1);
    if (std::string problem = owner_.open(n_, plan_.scheduled); !problem.empty())
        return fail(problem);

    freshState();
    inputs_.assign(n_, master::Inputs{});
    gates_.assign(n_, master::Gates{});

    // A plant archive is unpacked, loaded and initialized before the clock
    // starts, as the units' archive is opened.
    std::optional<FmuPlant> archive;
    if (plan_.plant.fmu) {
        if (plan_.plant.plantFmu.empty())
            return fail("no plant archive named");
        if (std::string problem = archive.emplace().open(plan_.plant.plantFmu, scenario_, verbose_);
            !problem.empty())
            return fail(problem);
    }

    wallStart_ = Clock::now();
    cpuStart_ = threadSeconds();

    if (archive) {
        // It offers no state to continue from: its runs start from zero and
        // keep no branch. It shows communication points only, where the
        // figures take their samples.
        FiguresObserver figures(state_->recorders);
        return runOn(*archive, nullptr, extra, &figures);
    }
    if (branch != nullptr && branch->kept() && !continueFrom(*branch)) {
        // Not this branch's run, or its units lost their states: from zero,
        // and the branch is kept anew by a later run.
        freshState();
        branch->state_.reset();
        branch = nullptr;
    }
    detail::LoopState &s = *state_;
    NativePlant plant(s.plant, s.measured, s.pending, &s.recorders);
    return runOn(plant, branch, extra, nullptr);
}

template <class Plant>
ClosedLoopResult ClosedLoop::runOn(Plant &plant, LoopBranch *branch, const std::vector<LoopObserver *> &extra,
                                   LoopObserver *figures) {
    UnitSet &units = *owner_.units_;
    detail::LoopState &s = *state_;
    if (branch == nullptr || !branch->kept()) {
        if (std::string problem = startFromZero(plant); !problem.empty())
            return fail(problem);
    }

    // The run's own observers first, then the caller's.
    DivergenceWatch divergence;
    std::vector<LoopObserver *> observers{&divergence};
    if (figures != nullptr)
        observers.push_back(figures);
    std::optional<RowObserver> rows;
    if (rows_ != nullptr)
        observers.push_back(&rows.emplace(*rows_, plan_.stepsPerRow, s.untilRow));
    std::optional<ProgressObserver> progress;
    if (progress_ != nullptr)
        observers.push_back(&progress.emplace(*progress_, scenario_.duration, wallStart_));
    std::optional<RealTimePacing> pacing;
    if (plan_.realTime > 0.0)
        observers.push_back(&pacing.emplace(plan_.realTime, plan_.step, s.steps));
    observers.insert(observers.end(), extra.begin(), extra.end());
    if (s.steps == 0) {
        for (LoopObserver *observer : observers)
            observer->started(plant);
    } else if (pacing) {
        pacing->started(plant);
    }

    const double h = plan_.step;
    const bool jacobi = plan_.coupling == Coupling::Jacobi;
    LoopControl control;
    PlantStepResult step;
    for (std::int64_t &k = s.steps; k < plan_.stepCount && !control.stopped(); ++k) {
        if (branch != nullptr && !branch->kept() && k == branch->steps())
            keep(*branch);
        const double t = static_cast<double>(k) * h;
        if (!(jacobi ? jacobiStep(plant, t, step) : sequentialStep(plant, t, step))) {
            result_.wallSeconds = wallSeconds();
            return fail(std::move(failure_));
        }
        ++result_.stepsDone;
        const LoopPoint point{.stepsDone = result_.stepsDone, .plantStep = step, .plant = plant};
        for (LoopObserver *observer : observers)
            observer->communicationPoint(point, control);
    }
    for (LoopObserver *observer : observers)
        observer->finished(plant, control);
    plant.finish();
    result_.wallSeconds = wallSeconds();
    result_.cpuSeconds = threadSeconds() - cpuStart_;
    if (control.stopped()) {
        result_.stopped = true;
        result_.stopTime = control.time();
        result_.stopReason = control.reason();
    }
    if (pacing)
        result_.pacing = pacing->report();

    result_.unitTime = units[0].readTime();
    for (std::size_t j = 0; j < n_; ++j)
        units[j].terminateKeeping();
    log_.drain();

    result_.simulated = plant.time();
    for (std::size_t j = 0; j < n_; ++j) {
        result_.converterFigures.push_back(s.recorders[j].figures());
        result_.illegalPatterns += plant.illegalPatterns(j);
        result_.directChanges += plant.directChanges(j);
    }
    result_.figures = result_.converterFigures.front();
    if (log_.errorsSeen())
        return fail("the unit reported an error (see above); its results are not to be trusted");
    result_.ok = true;
    return result_;
}

ClosedLoopResult runClosedLoop(LoopUnits &units, const RunPlan &plan, bool verbose, RowSink *rows,
                               ProgressSink *progress, std::ostream &err, LoopBranch *branch,
                               const std::vector<LoopObserver *> &observers) {
    return ClosedLoop(units, plan, verbose, rows, progress, err).run(branch, observers);
}

ClosedLoopResult runClosedLoop(const std::string &fmuPath, const RunPlan &plan, bool verbose, RowSink *rows,
                               ProgressSink *progress, std::ostream &err,
                               const std::vector<LoopObserver *> &observers) {
    LoopUnits units(fmuPath);
    return runClosedLoop(units, plan, verbose, rows, progress, err, nullptr, observers);
}

} // namespace kestrune::sim
