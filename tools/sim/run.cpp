#include "run.h"

#include "fmu_binding.h"
#include "inputs.h"
#include "master/fmu_archive.h"
#include "master/fmu_library.h"
#include "master/recording_logger.h"
#include "master/session.h"

#include <charconv>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace kestrune::sim {

namespace {

using master::GATE_COUNT;
using master::Gates;

bool failed(fmi2Status status) {
    return status != fmi2OK && status != fmi2Warning;
}

// Prints the messages the unit logged since the last call (when they are not
// echoed already) and forgets them, so a long run does not pile them up.
// Returns true when one of them had status fmi2Error or worse.
class LogDrain {
  public:
    LogDrain(master::RecordingLogger &logger, bool echoed, std::ostream &err)
        : logger_(logger), echoed_(echoed), err_(err) {}

    bool drain() {
        bool error = false;
        for (const master::LogRecord &record : logger_.messages) {
            if (record.status < fmi2Error)
                continue;
            error = true;
            errorsSeen_ = true;
            if (!echoed_) {
                std::string text = record.message;
                while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
                    text.pop_back();
                err_ << "kestrune-sim: unit reported " << master::statusName(record.status) << " ("
                     << record.category << "): " << text << '\n';
            }
        }
        logger_.clear();
        return error;
    }

    bool errorsSeen() const { return errorsSeen_; }

  private:
    master::RecordingLogger &logger_;
    bool echoed_;
    std::ostream &err_;
    bool errorsSeen_ = false;
};

// Buffered CSV writer; rows are formatted with to_chars.
class CsvWriter {
  public:
    explicit CsvWriter(const std::string &path) : buffer_(std::make_unique<char[]>(BUFFER_SIZE)) {
        stream_.rdbuf()->pubsetbuf(buffer_.get(), BUFFER_SIZE);
        stream_.open(path, std::ios::out | std::ios::trunc | std::ios::binary);
    }

    bool ok() const { return static_cast<bool>(stream_); }

    void header() {
        stream_ << "time";
        for (const char *name : GATE_NAMES)
            stream_ << ',' << name;
        stream_ << '\n';
    }

    void row(double time, const Gates &gates) {
        char line[32 * (GATE_COUNT + 1)];
        char *p = line;
        char *const end = line + sizeof line;
        // 15 significant digits show k * step without its rounding noise.
        p = std::to_chars(p, end, time, std::chars_format::general, 15).ptr;
        for (double gate : gates) {
            *p++ = ',';
            p = std::to_chars(p, end, gate).ptr;
        }
        *p++ = '\n';
        stream_.write(line, p - line);
    }

    bool close() {
        stream_.flush();
        const bool good = static_cast<bool>(stream_);
        stream_.close();
        return good && static_cast<bool>(stream_);
    }

  private:
    static constexpr std::size_t BUFFER_SIZE = std::size_t{1} << 20;
    std::unique_ptr<char[]> buffer_;
    std::ofstream stream_;
};

// Per gate: samples at communication points with the gate on, and changes
// between consecutive samples (starting from the value after initialization).
struct GateStatistics {
    std::array<std::int64_t, GATE_COUNT> onSamples{};
    std::array<std::int64_t, GATE_COUNT> switchings{};
    Gates previous{};

    void start(const Gates &initial) { previous = initial; }

    void add(const Gates &gates) {
        for (std::size_t i = 0; i < gates.size(); ++i) {
            if (gates[i] > 0.5)
                ++onSamples[i];
            if ((gates[i] > 0.5) != (previous[i] > 0.5))
                ++switchings[i];
        }
        previous = gates;
    }
};

#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void print(std::ostream &out, const char *format, ...) {
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    out << line;
}

void printSummary(std::ostream &out, const Options &options, std::int64_t stepsDone, double wallSeconds,
                  double unitTime, const GateStatistics &stats, const std::string &csvPath) {
    const double simulated = static_cast<double>(stepsDone) * options.step;
    print(out, "simulated time       %.12g s (unit time %.12g s)\n", simulated, unitTime);
    print(out, "communication steps  %lld of %.12g s\n", static_cast<long long>(stepsDone), options.step);
    print(out, "base steps           %lld\n", static_cast<long long>(stepsDone * options.baseStepsPerStep));
    print(out, "wall-clock time      %.4g s\n", wallSeconds);
    if (wallSeconds > 0.0)
        print(out, "real-time factor     %.4g (simulated / wall-clock)\n", simulated / wallSeconds);
    else
        out << "real-time factor     (wall-clock time too short to measure)\n";
    out << "gate    on-fraction  switchings   (sampled at communication points)\n";
    for (std::size_t i = 0; i < GATE_COUNT; ++i) {
        const double fraction =
            stepsDone > 0 ? static_cast<double>(stats.onSamples[i]) / static_cast<double>(stepsDone) : 0.0;
        print(out, "%-7s %11.4f  %10lld\n", GATE_NAMES[i], fraction,
              static_cast<long long>(stats.switchings[i]));
    }
    out << "CSV                  " << csvPath << '\n';
}

std::string displayPath(const std::string &path) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return ec ? path : absolute.string();
}

} // namespace

int runSimulation(const Options &options, std::ostream &out, std::ostream &err) {
    master::UnpackedFmu fmu;
    if (!fmu.open(options.fmu)) {
        err << "kestrune-sim: " << fmu.error() << '\n';
        return 1;
    }
    master::VariableBindings bindings;
    if (const std::string problem = bindVariables(fmu.description(), bindings); !problem.empty()) {
        err << "kestrune-sim: " << options.fmu << ": " << problem << '\n';
        return 1;
    }
    master::FmuLibrary library;
    if (!library.load(fmu.libraryPath())) {
        err << "kestrune-sim: " << library.error() << '\n';
        return 1;
    }

    const std::string csvPath = displayPath(options.output);
    CsvWriter csv(options.output);
    if (!csv.ok()) {
        err << "kestrune-sim: cannot open " << csvPath << " for writing\n";
        return 1;
    }
    csv.header();

    master::RecordingLogger logger;
    logger.setEcho(options.verbose);
    LogDrain log(logger, options.verbose, err);
    master::Session session(library, logger, bindings);

    const auto wallStart = std::chrono::steady_clock::now();

    if (!session.instantiate("kestrune", fmu.resourceUri().c_str(), options.verbose)) {
        log.drain();
        err << "kestrune-sim: fmi2Instantiate failed: the library of " << options.fmu
            << " does not accept its own model description\n";
        return 1;
    }
    if (const std::string problem = checkAgainstUnit(fmu.description(), session); !problem.empty()) {
        logger.clear();
        err << "kestrune-sim: " << options.fmu << ": " << problem << '\n';
        return 1;
    }
    log.drain();
    const master::Inputs initialInputs = inputsAt(options, 0.0);
    if (const fmi2Status status = session.initialize(0.0, &initialInputs); failed(status)) {
        log.drain();
        err << "kestrune-sim: initialization failed with " << master::statusName(status) << '\n';
        return 1;
    }
    GateStatistics stats;
    Gates gates{};
    if (const fmi2Status status = session.readGates(gates); failed(status)) {
        log.drain();
        err << "kestrune-sim: reading the gates after initialization failed with "
            << master::statusName(status) << '\n';
        return 1;
    }
    stats.start(gates);
    log.drain();

    const double h = options.step;
    std::int64_t stepsDone = 0;
    for (std::int64_t k = 0; k < options.stepCount; ++k) {
        const double t = static_cast<double>(k) * h;
        const char *call = "fmi2SetReal";
        fmi2Status status = session.setInputs(inputsAt(options, t));
        if (!failed(status)) {
            call = "fmi2DoStep";
            status = session.doStep(t, h);
        }
        if (!failed(status)) {
            call = "fmi2GetReal";
            status = session.readGates(gates);
        }
        log.drain();
        if (failed(status)) {
            csv.close();
            err << "kestrune-sim: " << call << " failed with " << master::statusName(status)
                << " in the communication step from t = " << t << " s; stopped after " << stepsDone
                << " steps (CSV so far: " << csvPath << ")\n";
            return 1;
        }
        ++stepsDone;
        stats.add(gates);
        if (stepsDone % options.stepsPerOutputRow == 0)
            csv.row(static_cast<double>(stepsDone) * h, gates);
    }

    const double unitTime = session.readTime();
    session.terminate();
    session.freeInstance();
    log.drain();
    const bool csvWritten = csv.close();
    const double wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();

    printSummary(out, options, stepsDone, wallSeconds, unitTime, stats, csvPath);

    if (!csvWritten) {
        err << "kestrune-sim: writing " << csvPath << " failed\n";
        return 1;
    }
    if (log.errorsSeen()) {
        err << "kestrune-sim: the unit reported an error (see above); its results are not to be trusted\n";
        return 1;
    }
    return 0;
}

} // namespace kestrune::sim
