// The rows of a sweep's table: the header, a run's row (one writer for
// every row, a failed run's included), and reading a row back.
#pragma once

#include "analysis/verdict.h"
#include "closed_loop.h"
#include "sweep_plan.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrune::sweep {

// The CSV's header: run, the swept keys, verdict, the figures per converter
// and segment, reason.
std::string csvHeader(const SweepPlan &plan);

// A row of the table (without the line end): the run's index and values,
// the verdict, the figures of the result and the swing of the watch (every
// figure empty without them), and the reason.
std::string tableRow(const SweepPlan &plan, std::size_t run, Verdict verdict,
                     const sim::ClosedLoopResult *result, const SwingWatch *watch, const std::string &reason);

// The run index and verdict a row starts with; false for a row that is not
// one of the table's.
bool parseRow(std::string_view row, std::size_t keyCount, std::size_t &run, Verdict &verdict);
// The text of the 0-based column of a row ("" past its end); the reason,
// quoted, is the last column and never looked at.
std::string_view rowField(std::string_view row, std::size_t column);

} // namespace kestrune::sweep
