#include "closed_loop.h"
#include "number_text.h"

#include "fmu_binding.h"
#include "master/fmu_archive.h"
#include "master/fmu_library.h"
#include "master/recording_logger.h"
#include "master/session.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace kestrune::sim {

namespace {

using Clock = std::chrono::steady_clock;

// How many communication steps pass between looks at the wall clock.
constexpr std::int64_t CLOCK_CHECK_STEPS = 2048;

bool failed(fmi2Status status) {
    return status != fmi2OK && status != fmi2Warning;
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
            if (!echoed_)
                err_ << "kestrune-sim: unit reported " << line << '\n';
            if (kept_.size() < MAX_KEPT)
                kept_.push_back(std::move(line));
        }
        logger_.clear();
    }

    bool errorsSeen() const { return errorsSeen_; }

  private:
    static constexpr std::size_t MAX_KEPT = 100;
    master::RecordingLogger &logger_;
    bool echoed_;
    std::ostream &err_;
    std::vector<std::string> &kept_;
    bool errorsSeen_ = false;
};

plant::Sample sampleOf(const plant::Plant &plant, const std::array<double, 7> &m) {
    return plant::Sample{.time = plant.time(),
                         .e = {m[0], m[1], m[2]},
                         .i = {m[3], m[4], m[5]},
                         .vdc = m[6],
                         .gridFrequency = plant.gridFrequency(),
                         .illegalPatterns = plant.illegalPatterns(),
                         .directChanges = plant.directChanges()};
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

ClosedLoopResult runClosedLoop(const std::string &fmuPath, const RunPlan &plan, bool verbose, RowSink *rows,
                               ProgressSink *progress, std::ostream &err) {
    ClosedLoopResult result;
    auto fail = [&result](std::string message) {
        result.ok = false;
        result.error = std::move(message);
        return result;
    };

    master::UnpackedFmu fmu;
    if (!fmu.open(fmuPath))
        return fail(fmu.error());
    master::VariableBindings bindings;
    if (const std::string problem = bindVariables(fmu.description(), bindings); !problem.empty())
        return fail(fmuPath + ": " + problem);
    master::FmuLibrary library;
    const bool fmi3 = fmu.description().isFmi3();
    const master::FmiEdition edition = fmi3 ? master::FmiEdition::Fmi3 : master::FmiEdition::Fmi2;
    if (!library.load(fmu.libraryPath(), edition))
        return fail(library.error());

    master::RecordingLogger logger;
    logger.setEcho(verbose);
    // The unit logs two info messages per fmi2DoStep; unless they are shown,
    // the logger drops them before formatting.
    logger.setRecordOk(false);
    LogDrain log(logger, verbose, err, result.unitMessages);
    const std::unique_ptr<master::UnitSession> unit = master::makeSession(library, logger, bindings);
    master::UnitSession &session = *unit;

    const Scenario &scenario = plan.scenario;
    plant::Plant plant(scenario.parameters, plantEvents(scenario));
    plant::FiguresRecorder recorder(segmentStarts(scenario), scenario.duration);

    const auto wallStart = Clock::now();
    auto wallSeconds = [&wallStart] {
        return std::chrono::duration<double>(Clock::now() - wallStart).count();
    };

    if (!session.instantiate("kestrune", fmu.resourceUri().c_str(), verbose)) {
        log.drain();
        return fail(std::string(fmi3 ? "fmi3InstantiateCoSimulation" : "fmi2Instantiate") +
                    " failed: the library of " + fmuPath + " does not accept its own model description");
    }
    if (const std::string problem = checkAgainstUnit(fmu.description(), session); !problem.empty()) {
        logger.clear();
        return fail(fmuPath + ": " + problem);
    }
    log.drain();

    std::array<double, 7> measured = plant.measurements();
    if (!allFinite(measured))
        return fail("the plant's measurements at t = 0 are not finite");
    recorder.add(sampleOf(plant, measured));
    if (rows != nullptr)
        rows->row(plant);

    const master::Inputs initial = measured;
    if (const fmi2Status status = session.initialize(0.0, &initial); failed(status)) {
        log.drain();
        return fail(std::string("initialization failed with ") + master::statusName(status));
    }
    master::Gates gates{};
    if (const fmi2Status status = session.readGates(gates); failed(status)) {
        log.drain();
        return fail(std::string("reading the gates after initialization failed with ") +
                    master::statusName(status));
    }
    log.drain();

    const double h = plan.step;
    const std::int32_t perStep = plan.baseStepsPerStep;
    master::Gates next{};
    for (std::int64_t k = 0; k < plan.stepCount; ++k) {
        const double t = static_cast<double>(k) * h;
        const char *call = fmi3 ? "fmi3SetFloat64" : "fmi2SetReal";
        fmi2Status status = session.setInputs(measured);
        if (!failed(status)) {
            call = fmi3 ? "fmi3DoStep" : "fmi2DoStep";
            status = session.doStep(t, h);
        }
        if (!failed(status)) {
            call = fmi3 ? "fmi3GetFloat64" : "fmi2GetReal";
            status = session.readGates(next);
        }
        if (!logger.messages.empty())
            log.drain();
        if (failed(status)) {
            result.wallSeconds = wallSeconds();
            return fail(std::string(call) + " failed with " + master::statusName(status) +
                        " in the communication step from t = " + numberText(t, 10) + " s, after " +
                        std::to_string(result.stepsDone) + " steps");
        }

        // The plant advances over the step with the gates read one step
        // earlier, held for every base step of it.
        for (std::int32_t j = 0; j < perStep; ++j) {
            plant.step(gates);
            measured = plant.measurements();
            recorder.add(sampleOf(plant, measured));
        }
        gates = next;
        ++result.stepsDone;
        if (!allFinite(measured)) {
            result.wallSeconds = wallSeconds();
            return fail("the plant's state is no longer finite at t = " + numberText(plant.time(), 10) +
                        " s: check the plant parameters");
        }
        if (rows != nullptr && result.stepsDone % plan.stepsPerRow == 0)
            rows->row(plant);
        if (progress != nullptr && result.stepsDone % CLOCK_CHECK_STEPS == 0)
            progress->progress(plant.time(), scenario.duration, wallSeconds());
    }
    result.wallSeconds = wallSeconds();

    result.unitTime = session.readTime();
    session.terminate();
    session.freeInstance();
    log.drain();

    result.simulated = plant.time();
    result.figures = recorder.figures();
    result.illegalPatterns = plant.illegalPatterns();
    result.directChanges = plant.directChanges();
    if (log.errorsSeen())
        return fail("the unit reported an error (see above); its results are not to be trusted");
    result.ok = true;
    return result;
}

} // namespace kestrune::sim
