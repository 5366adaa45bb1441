#include "closed_loop.h"
#include "number_text.h"

#include "master/recording_logger.h"
#include "unit_driver.h"

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

std::string divergence(const plant::Plant &plant) {
    const std::size_t n = plant.converterCount();
    for (std::size_t j = 0; j < n; ++j) {
        const plant::PlantState &x = plant.state(j);
        const std::string who = n == 1 ? std::string("the converter") : "converter " + std::to_string(j);
        for (std::size_t k = 0; k < 3; ++k)
            if (std::abs(x.current[k]) > plant::DIVERGED_CURRENT)
                return who + "'s current i_" + static_cast<char>('a' + k) + " is " +
                       numberText(x.current[k], 6) + " A, beyond 10 pu (" +
                       numberText(plant::DIVERGED_CURRENT, 6) + " A)";
        if (!(x.vdc >= plant::DIVERGED_VDC_LOW && x.vdc <= plant::DIVERGED_VDC_HIGH))
            return who + "'s DC link is at " + numberText(x.vdc, 6) + " V, outside 50-1500 V";
    }
    return "";
}

ClosedLoopResult runClosedLoop(const std::string &fmuPath, const RunPlan &plan, bool verbose, RowSink *rows,
                               ProgressSink *progress, std::ostream &err) {
    ClosedLoopResult result;
    auto fail = [&result](std::string message) {
        result.ok = false;
        result.error = std::move(message);
        return result;
    };

    const Scenario &scenario = plan.scenario;
    const std::size_t n = converterCount(scenario);
    master::RecordingLogger logger;
    logger.setEcho(verbose);
    // The unit logs two info messages per fmi2DoStep; unless they are shown,
    // the logger drops them before formatting.
    logger.setRecordOk(false);
    LogDrain log(logger, verbose, err, result.unitMessages);
    log.nameInstances(n > 1);
    UnitSet units;
    if (std::string problem = units.open(fmuPath, n, logger, plan.scheduled); !problem.empty())
        return fail(problem);

    const std::vector<plant::PlantParameters> converterList = converterParameters(scenario);
    plant::Plant plant(scenario.parameters, scenarioImpedance(scenario),
                       std::vector<plant::ConverterParameters>(converterList.begin(), converterList.end()),
                       plantEvents(scenario));
    std::vector<plant::FiguresRecorder> recorders(
        n, plant::FiguresRecorder(segmentStarts(scenario), scenario.duration));

    const auto wallStart = Clock::now();
    const double cpuStart = threadSeconds();
    auto wallSeconds = [&wallStart] {
        return std::chrono::duration<double>(Clock::now() - wallStart).count();
    };

    for (std::size_t j = 0; j < n; ++j) {
        const std::string name = n == 1 ? std::string("kestrune") : "kestrune" + std::to_string(j);
        if (std::string problem = units[j].instantiate(name, verbose); !problem.empty()) {
            log.drain();
            return fail(problem);
        }
    }
    log.drain();

    std::vector<std::array<double, 7>> measured(n);
    for (std::size_t j = 0; j < n; ++j) {
        measured[j] = plant.measurements(j);
        if (!allFinite(measured[j]))
            return fail("the plant's measurements at t = 0 are not finite");
    }
    std::vector<master::Gates> gates(n);
    for (std::size_t j = 0; j < n; ++j) {
        const master::Inputs initial = measured[j];
        if (!units[j].initialize(initial)) {
            log.drain();
            return fail(units[j].failure());
        }
        if (!units[j].readGates(gates[j])) {
            log.drain();
            return fail("reading the gates after initialization: " + units[j].failure());
        }
    }
    log.drain();
    // The samples at t = 0 with the levels every converter holds over the
    // first step, as the units will measure at the first step.
    for (std::size_t j = 0; j < n; ++j)
        plant.hold(j, gates[j]);
    // Each converter's latest sample goes to its recorder once the next base
    // step is computed: the recorder's work then overlaps the integration,
    // whose arithmetic is one long chain of dependent operations.
    std::vector<plant::Sample> pending(n);
    for (std::size_t j = 0; j < n; ++j) {
        measured[j] = plant.measurements(j);
        pending[j] = sampleOf(plant, j, measured[j]);
    }
    if (rows != nullptr)
        rows->row(plant);

    const double h = plan.step;
    const std::int32_t perStep = plan.baseStepsPerStep;
    std::vector<master::Gates> next(n);
    // Steps to the next CSV row: a countdown rather than a division per step.
    std::int64_t untilRow = plan.stepsPerRow;
    for (std::int64_t k = 0; k < plan.stepCount && !result.stopped; ++k) {
        const double t = static_cast<double>(k) * h;
        // Every unit's measurements, every unit's step, every unit's gates.
        std::size_t failedUnit = n;
        for (std::size_t j = 0; j < n && failedUnit == n; ++j)
            if (!units[j].setInputs(measured[j]))
                failedUnit = j;
        for (std::size_t j = 0; j < n && failedUnit == n; ++j)
            if (!units[j].doStep(t, h))
                failedUnit = j;
        for (std::size_t j = 0; j < n && failedUnit == n; ++j)
            if (!units[j].readGates(next[j]))
                failedUnit = j;
        if (!logger.messages.empty())
            log.drain();
        if (failedUnit != n) {
            result.wallSeconds = wallSeconds();
            return fail(units[failedUnit].failure() +
                        (n == 1 ? "" : " (converter " + std::to_string(failedUnit) + ")") +
                        " in the communication step from t = " + numberText(t, 10) + " s, after " +
                        std::to_string(result.stepsDone) + " steps");
        }

        // The plant advances over the step with the gates read one step
        // earlier, held for every base step of it; at its end each converter
        // holds the gates just read, which enter the PCC voltage there.
        for (std::int32_t i = 0; i < perStep; ++i) {
            plant.step();
            for (std::size_t j = 0; j < n; ++j)
                recorders[j].add(pending[j]);
            if (i + 1 == perStep)
                for (std::size_t j = 0; j < n; ++j)
                    plant.hold(j, next[j]);
            for (std::size_t j = 0; j < n; ++j) {
                measured[j] = plant.measurements(j);
                pending[j] = sampleOf(plant, j, measured[j]);
            }
            // A state that is no longer a number counts as diverged too, but
            // that one is an error of the plant, not a result.
            if (plant.diverged()) {
                for (std::size_t j = 0; j < n; ++j) {
                    if (!allFinite(measured[j])) {
                        result.wallSeconds = wallSeconds();
                        return fail("the plant's state is no longer finite at t = " +
                                    numberText(plant.time(), 10) + " s: check the plant parameters");
                    }
                }
                result.stopped = true;
                result.stopTime = plant.time();
                result.stopReason = divergence(plant);
                break;
            }
        }
        ++result.stepsDone;
        if (--untilRow == 0 || result.stopped) {
            untilRow = plan.stepsPerRow;
            if (rows != nullptr)
                rows->row(plant);
        }
        if (progress != nullptr && result.stepsDone % CLOCK_CHECK_STEPS == 0)
            progress->progress(plant.time(), scenario.duration, wallSeconds());
    }
    for (std::size_t j = 0; j < n; ++j)
        recorders[j].add(pending[j]);
    result.wallSeconds = wallSeconds();
    result.cpuSeconds = threadSeconds() - cpuStart;

    result.unitTime = units[0].readTime();
    for (std::size_t j = 0; j < n; ++j)
        units[j].terminate();
    log.drain();

    result.simulated = plant.time();
    for (std::size_t j = 0; j < n; ++j) {
        result.converterFigures.push_back(recorders[j].figures());
        result.illegalPatterns += plant.illegalPatterns(j);
        result.directChanges += plant.directChanges(j);
    }
    result.figures = result.converterFigures.front();
    if (log.errorsSeen())
        return fail("the unit reported an error (see above); its results are not to be trusted");
    result.ok = true;
    return result;
}

} // namespace kestrune::sim
