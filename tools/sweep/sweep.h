// kestrune-sweep's run: the table streamed as rows arrive from the workers
// (threads, processes or MPI ranks), sorted at the end, the summary (terminal
// and JSON), the boundary of a two-axis map and the plot.
#pragma once

#include "sweep_run.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace kestrune::sweep {

struct SweepOptions {
    std::string sweep;       // a shipped sweep's name or a file
    std::string sweepDir;    // where names are looked up
    std::string scenarioDir; // where the base scenario's name is looked up
    std::string fmu;         // the unit's archive
    std::string outputDir = "out";
    unsigned jobs = 0; // 0: every core
    bool resume = false;
    bool plot = true;
    bool branch = true; // runs that share their first steps continue from them
};

// Takes the rows as they come: appends each to the CSV at once, counts the
// verdicts, keeps what the summary needs (never the rows themselves) and
// shows the progress.
class Collector {
  public:
    Collector(const SweepPlan &plan, std::ostream &err, bool terminal);
    ~Collector();
    Collector(const Collector &) = delete;
    Collector &operator=(const Collector &) = delete;

    // Creates the CSV, or with resume keeps the complete rows of an earlier
    // run of the same sweep and marks their runs done. "" or what failed.
    std::string open(const std::string &path, bool resume);
    // The runs still to do, in index order.
    std::vector<std::size_t> pending() const;

    void add(const std::string &row); // thread-safe
    // Rewrites the CSV with its rows in run order. "" or what failed.
    std::string finish();

    struct Tally {
        std::array<std::size_t, VERDICT_COUNT> counts{};
        std::vector<std::int8_t> verdicts; // per run with two axes; -1 not run
        double figureMin = 0.0, figureMax = 0.0, figureSum = 0.0;
        std::size_t figureCount = 0;
        std::size_t done = 0;
    };
    const Tally &tally() const { return tally_; }
    std::size_t resumed() const { return resumed_; }
    double seconds() const;
    std::size_t figureColumn() const { return figureColumn_; } // 0-based
    std::string figureName() const;

  private:
    void count(const std::string &row, std::size_t run, Verdict verdict);
    void progress(bool last);

    const SweepPlan &plan_;
    std::ostream &err_;
    bool terminal_;
    std::string path_;
    int fd_ = -1;
    std::mutex mutex_;
    std::vector<char> done_;
    Tally tally_;
    std::size_t resumed_ = 0;
    std::size_t figureColumn_ = 0;
    std::chrono::steady_clock::time_point start_;
    double lastShown_ = -10.0;
    bool shown_ = false;
};

// The ways the runs are spread. Each returns "" or what failed.
std::string runOnThreads(const SweepPlan &plan, const std::vector<std::size_t> &runs, unsigned jobs,
                         Collector &collector);
std::string runInProcesses(const SweepPlan &plan, const std::vector<std::size_t> &runs, unsigned jobs,
                           Collector &collector);

// Where the two-axis map changes its verdict: per value of the second axis,
// each change along the first, between two neighbouring runs.
struct BoundaryChange {
    Verdict before{};
    double beforeAt = 0.0; // the first axis's value of the run before the change
    Verdict after{};
    double afterAt = 0.0;
};
struct BoundaryRow {
    double value = 0.0; // the second axis's
    std::vector<BoundaryChange> changes;
    int only = -1; // with no change: the one verdict all along (-1: no runs)
};
std::vector<BoundaryRow> boundary(const SweepPlan &plan, const Collector::Tally &tally);
// The same, one line per value of the second axis.
std::vector<std::string> boundaryLines(const SweepPlan &plan, const Collector::Tally &tally);

// Writes NAME.json, NAME.gp and draws NAME.png, prints the summary to out.
// workers: "2 threads", "3 ranks"; workerCount: those that ran runs.
// Returns the exit status.
int finishSweep(const SweepPlan &plan, const SweepOptions &options, Collector &collector,
                const std::string &workers, std::size_t workerCount, std::ostream &out, std::ostream &err);

// The whole sweep on this machine. Returns the exit status: 0 done, 1 when
// the archive or an output fails, 2 for a sweep file or option that is not
// valid.
int runLocalSweep(const SweepOptions &options, std::ostream &out, std::ostream &err, bool errIsTerminal);

// Reads the sweep and lays out its table; exit status 0, or 2 with the
// problem in err.
int prepareSweep(const SweepOptions &options, SweepPlan &plan, std::ostream &err);

} // namespace kestrune::sweep
