// What a battery leaves behind: the table (one row per test and grid, the
// measured value and mark of each criterion), the JSON, the summary on the
// terminal, and the report: one self-contained HTML page with the verdict
// matrix, each test's plots and figures, and the battery's own text.
#pragma once

#include "battery_file.h"
#include "battery_run.h"

#include <ostream>
#include <string>
#include <vector>

namespace kestrune::battery {

// What the outputs say about how the battery ran.
struct RunFacts {
    std::string fmu;
    std::string workers; // "2 threads"
    double wallSeconds = 0.0;
};

// outcomes: one per run, in run order.
std::string writeTable(const std::string &path, const Battery &battery, const std::vector<Outcome> &outcomes);
std::string writeJson(const std::string &path, const Battery &battery, const std::vector<Outcome> &outcomes,
                      const RunFacts &facts);
std::string writeReport(const std::string &path, const Battery &battery, const std::vector<Outcome> &outcomes,
                        const RunFacts &facts);
void printSummary(std::ostream &out, const Battery &battery, const std::vector<Outcome> &outcomes,
                  const RunFacts &facts);

// The grids of every test, in the order they first appear: the matrix's
// columns.
std::vector<std::string> gridColumns(const Battery &battery);

// Text for a data: URI.
std::string base64(const std::string &bytes);

} // namespace kestrune::battery
