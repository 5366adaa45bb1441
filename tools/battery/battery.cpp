#include "battery.h"

#include "battery_file.h"
#include "battery_run.h"
#include "report.h"
#include "run_pool.h"

#include "master/fmu_archive.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>

namespace kestrune::battery {

namespace {

namespace fs = std::filesystem;

// Takes the outcomes as workers finish them and shows how far the battery is.
class Progress {
  public:
    Progress(std::size_t total, std::ostream &err, bool terminal)
        : total_(total), err_(err), terminal_(terminal), start_(std::chrono::steady_clock::now()) {}

    void add(const std::string &line) {
        const std::lock_guard<std::mutex> lock(mutex_);
        Outcome outcome;
        if (!parseOutcome(line, outcome))
            return;
        failed_ += outcome["pass"].get<bool>() ? 0 : 1;
        outcomes_.push_back(std::move(outcome));
        const double now = seconds();
        if (outcomes_.size() < total_ && now - lastShown_ < (terminal_ ? 0.5 : 10.0))
            return;
        lastShown_ = now;
        char text[160];
        std::snprintf(text, sizeof text, "runs %zu/%zu, %zu fail, %.0f s", outcomes_.size(), total_, failed_,
                      now);
        if (terminal_)
            err_ << '\r' << text << "\x1b[K" << (outcomes_.size() == total_ ? "\n" : "") << std::flush;
        else
            err_ << "kestrune-battery: " << text << '\n';
    }
    double seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }
    // In run order.
    std::vector<Outcome> outcomes() {
        std::sort(outcomes_.begin(), outcomes_.end(), [](const Outcome &a, const Outcome &b) {
            return a["run"].get<std::size_t>() < b["run"].get<std::size_t>();
        });
        return outcomes_;
    }

  private:
    std::size_t total_;
    std::ostream &err_;
    bool terminal_;
    std::chrono::steady_clock::time_point start_;
    std::mutex mutex_;
    std::vector<Outcome> outcomes_;
    std::size_t failed_ = 0;
    double lastShown_ = -10.0;
};

} // namespace

int runBattery(const BatteryOptions &options, std::ostream &out, std::ostream &err, bool errIsTerminal) {
    Battery battery;
    if (std::string problem = loadBattery(options.battery, options.batteryDir, options.scenarioDir, battery);
        !problem.empty()) {
        err << "kestrune-battery: " << problem << '\n';
        return 2;
    }
    // The archive once, before any run: its edition decides how workers
    // keep their models apart.
    master::UnpackedFmu fmu;
    if (!fmu.open(options.fmu)) {
        err << "kestrune-battery: " << fmu.error() << '\n';
        return 1;
    }
    const bool fmi3 = fmu.description().isFmi3();
    const fs::path outputDir = options.outputDir;
    const fs::path runDir = outputDir / battery.name;
    std::error_code ec;
    fs::create_directories(runDir, ec);
    if (ec || !fs::is_directory(runDir)) {
        err << "kestrune-battery: cannot create the output folder " << runDir.string() << '\n';
        return 1;
    }

    const std::size_t total = battery.runs().size();
    std::vector<std::size_t> runs(total);
    for (std::size_t r = 0; r < total; ++r)
        runs[r] = r;
    unsigned jobs = options.jobs != 0 ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
    jobs = static_cast<unsigned>(std::max<std::size_t>(1, std::min<std::size_t>(jobs, total)));
    const RunContext context{options.fmu, runDir.string(), options.plot};
    Progress progress(total, err, errIsTerminal);
    auto worker = [&battery, &context] {
        return sweep::RunWorker(
            [&battery, &context](std::size_t run) { return runOutcome(battery, context, run); });
    };
    auto take = [&progress](const std::string &line) { progress.add(line); };
    const std::string problem = fmi3 ? sweep::runPoolOnThreads(runs, jobs, worker, take)
                                     : sweep::runPoolInProcesses(runs, jobs, worker, take, failedOutcome);
    if (!problem.empty()) {
        err << "kestrune-battery: " << problem << '\n';
        return 1;
    }
    const std::vector<Outcome> outcomes = progress.outcomes();
    RunFacts facts;
    facts.fmu = options.fmu;
    facts.workers = std::to_string(jobs) +
                    (fmi3 ? (jobs == 1 ? " thread" : " threads") : (jobs == 1 ? " process" : " processes"));
    facts.wallSeconds = progress.seconds();

    const std::string base = (outputDir / battery.name).string();
    for (const std::string &written :
         {writeTable(base + ".csv", battery, outcomes), writeJson(base + ".json", battery, outcomes, facts),
          writeReport(base + ".html", battery, outcomes, facts)})
        if (!written.empty()) {
            err << "kestrune-battery: " << written << '\n';
            return 1;
        }
    printSummary(out, battery, outcomes, facts);
    out << "\ntable   " << base << ".csv\nJSON    " << base << ".json\nreport  " << base << ".html\n";
    const bool allPass =
        std::all_of(outcomes.begin(), outcomes.end(), [](const Outcome &o) { return o["pass"].get<bool>(); });
    return allPass && outcomes.size() == total ? 0 : 3;
}

} // namespace kestrune::battery
