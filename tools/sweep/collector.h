// The table of a sweep on disk: each row appended as it arrives from a
// worker, the rows of an interrupted table kept on resume, the verdicts
// counted, the progress shown, and the rows put in run order at the end.
#pragma once

#include "sweep_run.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace kestrune::sweep {

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
    // Whether writing a row failed (a full disk, a folder gone): the
    // workers then stop taking runs. Thread-safe.
    bool failed() const { return failed_; }
    // What failed and how to go on, once the workers have stopped; "" when
    // nothing did.
    std::string failure() const;
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
    std::atomic<bool> failed_{false};
    std::string failure_;
    std::chrono::steady_clock::time_point start_;
    double lastShown_ = -10.0;
    bool shown_ = false;
};

} // namespace kestrune::sweep
