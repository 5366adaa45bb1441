#include "closed_loop.h"
#include "common/number_text.h"

#include "master/recording_logger.h"
#include "plant/divergence.h"
#include "unit_driver.h"

#include <utility>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>

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

// How many communication steps pass between looks at the wall clock.
constexpr std::int64_t CLOCK_CHECK_STEPS = 2048;

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

plant::Sample sampleOf(const plant::Plant &plant, std::size_t converter, const std::array<double, 7> &m) {
    return plant::Sample{.time = plant.time(),
                         .e = {m[0], m[1], m[2]},
                         .i = {m[3], m[4], m[5]},
                         .vdc = m[6],
                         .gridFrequency = plant.gridFrequency(),
                         .illegalPatterns = plant.illegalPatterns(converter),
                         .directChanges = plant.directChanges(converter),
                         .sourceA = plant.gridVoltages()[0],
                         .step = plant.stepCount()};
}

bool allFinite(const std::array<double, 7> &m) {
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
    std::vector<std::array<double, 7>> measured;
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

    ClosedLoopResult run(LoopBranch *branch);

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
                              .measured = std::vector<std::array<double, 7>>(n_),
                              .pending = std::vector<plant::Sample>(n_),
                              .untilRow = 0,
                              .steps = 0,
                              .unitMessages = {},
                              .errorsSeen = false});
    }
    // The units made or reset and initialized, the plant's first samples.
    std::string startFromZero();
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
};

std::string ClosedLoop::startFromZero() {
    UnitSet &units = *owner_.units_;
    detail::LoopState &s = *state_;
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
        s.measured[j] = s.plant.measurements(j);
        if (!allFinite(s.measured[j]))
            return "the plant's measurements at t = 0 are not finite";
    }
    std::vector<master::Gates> gates(n_);
    for (std::size_t j = 0; j < n_; ++j) {
        const master::Inputs initial = s.measured[j];
        if (!units[j].initialize(initial)) {
            log_.drain();
            return units[j].failure();
        }
        if (!units[j].readGates(gates[j])) {
            log_.drain();
            return "reading the gates after initialization: " + units[j].failure();
        }
    }
    log_.drain();
    // The samples at t = 0 with the levels every converter holds over the
    // first step, as the units will measure at the first step.
    for (std::size_t j = 0; j < n_; ++j)
        s.plant.hold(j, gates[j]);
    // Each converter's latest sample goes to its recorder once the next base
    // step is computed: the recorder's work then overlaps the integration,
    // whose arithmetic is one long chain of dependent operations.
    for (std::size_t j = 0; j < n_; ++j) {
        s.measured[j] = s.plant.measurements(j);
        s.pending[j] = sampleOf(s.plant, j, s.measured[j]);
    }
    if (rows_ != nullptr)
        rows_->row(s.plant);
    s.untilRow = plan_.stepsPerRow;
    return "";
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

ClosedLoopResult ClosedLoop::run(LoopBranch *branch) {
    owner_.logger_.setEcho(verbose_);
    // The unit logs two info messages per fmi2DoStep; unless they are shown,
    // the logger drops them before formatting.
    owner_.logger_.setRecordOk(false);
    owner_.logger_.clear();
    log_.nameInstances(n_ > 1);
    if (std::string problem = owner_.open(n_, plan_.scheduled); !problem.empty())
        return fail(problem);

    freshState();
    UnitSet &units = *owner_.units_;

    wallStart_ = Clock::now();
    const double cpuStart = threadSeconds();

    if (branch != nullptr && branch->kept() && !continueFrom(*branch)) {
        // Not this branch's run, or its units lost their states: from zero,
        // and the branch is kept anew by a later run.
        freshState();
        branch->state_.reset();
        branch = nullptr;
    }
    if (branch == nullptr || !branch->kept()) {
        if (std::string problem = startFromZero(); !problem.empty())
            return fail(problem);
    }

    detail::LoopState &s = *state_;
    const double h = plan_.step;
    const std::int32_t perStep = plan_.baseStepsPerStep;
    std::vector<master::Gates> next(n_);
    for (std::int64_t &k = s.steps; k < plan_.stepCount && !result_.stopped; ++k) {
        if (branch != nullptr && !branch->kept() && k == branch->steps())
            keep(*branch);
        const double t = static_cast<double>(k) * h;
        // Every unit's measurements, every unit's step, every unit's gates.
        std::size_t failedUnit = n_;
        for (std::size_t j = 0; j < n_ && failedUnit == n_; ++j)
            if (!units[j].setInputs(s.measured[j]))
                failedUnit = j;
        for (std::size_t j = 0; j < n_ && failedUnit == n_; ++j)
            if (!units[j].doStep(t, h))
                failedUnit = j;
        for (std::size_t j = 0; j < n_ && failedUnit == n_; ++j)
            if (!units[j].readGates(next[j]))
                failedUnit = j;
        if (!owner_.logger_.messages.empty())
            log_.drain();
        if (failedUnit != n_) {
            result_.wallSeconds = wallSeconds();
            return fail(units[failedUnit].failure() +
                        (n_ == 1 ? "" : " (converter " + std::to_string(failedUnit) + ")") +
                        " in the communication step from t = " + numberText(t, 10) + " s, after " +
                        std::to_string(result_.stepsDone) + " steps");
        }

        // The plant advances over the step with the gates read one step
        // earlier, held for every base step of it; at its end each converter
        // holds the gates just read, which enter the PCC voltage there.
        for (std::int32_t i = 0; i < perStep; ++i) {
            s.plant.step();
            for (std::size_t j = 0; j < n_; ++j)
                s.recorders[j].add(s.pending[j]);
            if (i + 1 == perStep)
                for (std::size_t j = 0; j < n_; ++j)
                    s.plant.hold(j, next[j]);
            for (std::size_t j = 0; j < n_; ++j) {
                s.measured[j] = s.plant.measurements(j);
                s.pending[j] = sampleOf(s.plant, j, s.measured[j]);
            }
            // A state that is no longer a number counts as diverged too, but
            // that one is an error of the plant, not a result.
            if (s.plant.diverged()) {
                for (std::size_t j = 0; j < n_; ++j) {
                    if (!allFinite(s.measured[j])) {
                        result_.wallSeconds = wallSeconds();
                        return fail("the plant's state is no longer finite at t = " +
                                    numberText(s.plant.time(), 10) + " s: check the plant parameters");
                    }
                }
                result_.stopped = true;
                result_.stopTime = s.plant.time();
                result_.stopReason = plant::divergence(s.plant);
                break;
            }
        }
        ++result_.stepsDone;
        if (--s.untilRow == 0 || result_.stopped) {
            s.untilRow = plan_.stepsPerRow;
            if (rows_ != nullptr)
                rows_->row(s.plant);
        }
        if (progress_ != nullptr && result_.stepsDone % CLOCK_CHECK_STEPS == 0)
            progress_->progress(s.plant.time(), scenario_.duration, wallSeconds());
    }
    for (std::size_t j = 0; j < n_; ++j)
        s.recorders[j].add(s.pending[j]);
    result_.wallSeconds = wallSeconds();
    result_.cpuSeconds = threadSeconds() - cpuStart;

    result_.unitTime = units[0].readTime();
    for (std::size_t j = 0; j < n_; ++j)
        units[j].terminateKeeping();
    log_.drain();

    result_.simulated = s.plant.time();
    for (std::size_t j = 0; j < n_; ++j) {
        result_.converterFigures.push_back(s.recorders[j].figures());
        result_.illegalPatterns += s.plant.illegalPatterns(j);
        result_.directChanges += s.plant.directChanges(j);
    }
    result_.figures = result_.converterFigures.front();
    if (log_.errorsSeen())
        return fail("the unit reported an error (see above); its results are not to be trusted");
    result_.ok = true;
    return result_;
}

ClosedLoopResult runClosedLoop(LoopUnits &units, const RunPlan &plan, bool verbose, RowSink *rows,
                               ProgressSink *progress, std::ostream &err, LoopBranch *branch) {
    return ClosedLoop(units, plan, verbose, rows, progress, err).run(branch);
}

ClosedLoopResult runClosedLoop(const std::string &fmuPath, const RunPlan &plan, bool verbose, RowSink *rows,
                               ProgressSink *progress, std::ostream &err) {
    LoopUnits units(fmuPath);
    return runClosedLoop(units, plan, verbose, rows, progress, err);
}

} // namespace kestrune::sim
