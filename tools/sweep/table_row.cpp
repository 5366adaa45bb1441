#include "table_row.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace kestrune::sweep {

namespace {

// Figures with six significant digits: enough for a map, and the same text
// from every worker.
void appendNumber(std::string &row, double value) {
    char buffer[32];
    const int n = std::snprintf(buffer, sizeof buffer, "%.6g", value);
    row.append(buffer, static_cast<std::size_t>(n));
}

// A field in double quotes, quotes doubled, line ends dropped.
void appendQuoted(std::string &row, const std::string &text) {
    row += '"';
    for (const char c : text) {
        if (c == '"')
            row += "\"\"";
        else if (c != '\n' && c != '\r')
            row += c;
    }
    row += '"';
}

} // namespace

std::string csvHeader(const SweepPlan &plan) {
    std::string header = "run";
    for (const std::string &key : plan.definition.keys())
        header += "," + key;
    header += ",verdict";
    for (const std::string &column : plan.figureColumns)
        header += "," + column;
    header += ",reason";
    return header;
}

std::string tableRow(const SweepPlan &plan, std::size_t run, Verdict verdict,
                     const sim::ClosedLoopResult *result, const SwingWatch *watch,
                     const std::string &reason) {
    std::string row = std::to_string(run);
    for (const double v : plan.definition.values(run))
        row.append(",").append(valueText(v));
    row += ',';
    row += verdictName(verdict);
    const bool ok = result != nullptr && result->ok;
    for (std::size_t j = 0; j < plan.converters; ++j)
        for (std::size_t k = 0; k < plan.segments; ++k) {
            const bool have =
                ok && j < result->converterFigures.size() && k < result->converterFigures[j].size();
            const plant::SegmentFigures f = have ? result->converterFigures[j][k] : plant::SegmentFigures{};
            const bool swingMeasured = have && watch != nullptr && j < watch->swings().size() &&
                                       k < watch->swings()[j].size() && watch->swings()[j][k].measured;
            const double swing = swingMeasured ? watch->swings()[j][k].last : 0.0;
            const struct {
                double value;
                bool present;
            } cells[] = {{f.vdcMin, have},
                         {f.vdcMax, have},
                         {f.settlingTime, have && f.settled},
                         {f.vdcRipple, have && f.steady},
                         {swing, swingMeasured},
                         {f.peakCurrentPu, have},
                         {f.steadyRmsPu, have && f.steady},
                         {f.powerFactor, have && f.steady},
                         {f.thd * 100.0, have && f.steady},
                         {static_cast<double>(f.illegalPatterns), have},
                         {static_cast<double>(f.directChanges), have}};
            static_assert(std::size(cells) == 11);
            for (const auto &cell : cells) {
                row += ',';
                if (cell.present)
                    appendNumber(row, cell.value);
            }
        }
    row += ',';
    appendQuoted(row, reason);
    return row;
}

std::string_view rowField(std::string_view row, std::size_t column) {
    std::size_t from = 0;
    for (std::size_t c = 0; c < column; ++c) {
        const std::size_t comma = row.find(',', from);
        if (comma == std::string_view::npos)
            return {};
        from = comma + 1;
    }
    const std::size_t comma = row.find(',', from);
    return row.substr(from, comma == std::string_view::npos ? std::string_view::npos : comma - from);
}

bool parseRow(std::string_view row, std::size_t keyCount, std::size_t &run, Verdict &verdict) {
    const std::string_view index = rowField(row, 0);
    if (index.empty() || index.size() > 12 ||
        !std::all_of(index.begin(), index.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    run = static_cast<std::size_t>(std::stoull(std::string(index)));
    return verdictFromName(rowField(row, keyCount + 1), verdict) && row.ends_with('"');
}

} // namespace kestrune::sweep
