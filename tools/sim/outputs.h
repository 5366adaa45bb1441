// What a closed-loop run leaves behind: the CSV of the plant's signals, the
// summary of the figures per segment (a table on the terminal and a JSON
// file), and the plot that gnuplot draws from the CSV.
#pragma once

#include "closed_loop.h"
#include "handoff_queue.h"

#include <fstream>
#include <memory>
#include <ostream>
#include <string>

namespace kestrune::sim {

// The CSV columns of one converter on the stiff grid: time, e_a, e_b, e_c,
// i_a, i_b, i_c, Vdc, P, Q, level_a, level_b, level_c, and V1, V2 with the
// split link.
std::string csvHeader(bool splitLink);

// Several converters, or a weak grid: time, the source's e_a, e_b, e_c, the
// PCC's v_a, v_b, v_c, then per converter J (from 0) i_a_J, i_b_J, i_c_J,
// Vdc_J, P_J, Q_J (against the PCC voltage), level_a_J, level_b_J,
// level_c_J, and V1_J, V2_J with its split link.
bool networkLayout(const Scenario &scenario);
std::string csvHeader(const Scenario &scenario);
// The 1-based CSV column of converter j's i_a (its other columns follow in
// the header's order).
int converterColumn(const Scenario &scenario, std::size_t converter);

// Writes a row of the plant per call, formatted without allocating, through
// a large buffer. Direct: on the caller's thread. Background: the caller only
// hands each row to a queue, and a thread of the CSV's own formats and
// writes it (the same bytes); close() waits for it.
class CsvRows : public RowSink {
  public:
    enum class Writer { Direct, Background };
    CsvRows(const std::string &path, bool splitLink, Writer writer = Writer::Direct);
    CsvRows(const std::string &path, const Scenario &scenario, Writer writer = Writer::Direct);
    ~CsvRows() override;
    CsvRows(const CsvRows &) = delete;
    CsvRows &operator=(const CsvRows &) = delete;
    // Whether the file was opened and its header written.
    bool ok() const { return opened_; }
    void row(const PlantSignals &signals) override;
    // Writes every row handed over, flushes and closes; false when anything
    // failed to be written.
    bool close();

  private:
    static constexpr std::size_t BUFFER_SIZE = std::size_t{1} << 20;
    // Rows the loop may be ahead of the CSV's thread: at a row per base step,
    // several of the thread's pauses.
    static constexpr std::size_t ROW_SLOTS = 2048;
    std::unique_ptr<char[]> buffer_;
    std::ofstream stream_;
    void open(const std::string &path, const std::string &header, std::size_t converters, Writer writer);
    void write(const PlantSignals &signals);
    void networkRow(const PlantSignals &signals);

    bool splitLink_;
    bool network_ = false;
    std::vector<bool> splitLinks_; // per converter, in the network layout
    bool opened_ = false;
    std::unique_ptr<HandoffQueue<PlantSignals>> queue_; // Background
};

// Shows how far a run is on err once it has taken a second: one line
// rewritten in place on a terminal, a plain line every few seconds
// elsewhere.
class ProgressLine : public ProgressSink {
  public:
    ProgressLine(std::ostream &err, bool terminal) : err_(err), terminal_(terminal) {}
    void progress(double simulated, double duration, double wallSeconds) override;
    // Ends the line on a terminal, if one was shown.
    void finish();

  private:
    std::ostream &err_;
    bool terminal_;
    bool shown_ = false;
    double lastShown_ = 0.0;
};

// Where the outputs of a run went; empty for those not written.
struct OutputPaths {
    std::string csv;
    std::string json;
    std::string plotScript;
    std::string png;
    std::string svg;
};

// "load 400 kW", "phase jump +30 deg", ... for the events that begin the
// segment at time start ("start" for the first segment).
std::string segmentLabel(const Scenario &scenario, double start);

// "grid at SCR 5, X/R 10 (R_g ..., L_g ...); 2 converters, ..." or "stiff grid; 1 converter".
std::string gridText(const Scenario &scenario);

// The table of figures per segment and the run's facts: one table per
// converter and the PCC voltage's figures for several converters or a weak
// grid.
void printSummary(std::ostream &out, const RunPlan &plan, const ClosedLoopResult &result,
                  const OutputPaths &paths);

// The same as JSON. Returns "" or what went wrong.
std::string writeSummaryJson(const std::string &path, const std::string &fmu, const RunPlan &plan,
                             const ClosedLoopResult &result, const OutputPaths &paths);

// Writes the gnuplot script for the scenario's CSV (both in directory).
// Returns "" or what went wrong.
// A run that stopped as diverged (stoppedAt >= 0) has the stop marked.
// The script draws NAME.png and, with svg, NAME.svg.
std::string writePlotScript(const std::string &directory, const RunPlan &plan, double stoppedAt = -1.0,
                            bool svg = true);

enum class PlotOutcome { Drawn, NoGnuplot, Failed };
// Runs gnuplot on NAME.gp in directory; message says what happened when it
// was not drawn.
PlotOutcome drawPlot(const std::string &directory, const std::string &name, std::string &message);

} // namespace kestrune::sim
