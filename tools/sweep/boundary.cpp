#include "boundary.h"

namespace kestrune::sweep {

std::vector<BoundaryRow> boundary(const SweepPlan &plan, const Collector::Tally &tally) {
    std::vector<BoundaryRow> rows;
    if (plan.definition.axes.size() != 2 || tally.verdicts.empty())
        return rows;
    const Axis &first = plan.definition.axes[0];
    const std::size_t n = first.values.size();
    for (std::size_t j = 0; j < plan.definition.axes[1].values.size(); ++j) {
        BoundaryRow row;
        row.value = plan.definition.axes[1].values[j];
        int previous = -1;
        std::size_t previousAt = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const int v = tally.verdicts[j * n + i];
            if (v < 0)
                continue;
            if (previous >= 0 && v != previous)
                row.changes.push_back({static_cast<Verdict>(previous), first.values[previousAt],
                                       static_cast<Verdict>(v), first.values[i]});
            previous = v;
            previousAt = i;
        }
        row.only = row.changes.empty() ? previous : -1;
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<std::string> boundaryLines(const SweepPlan &plan, const Collector::Tally &tally) {
    std::vector<std::string> lines;
    for (const BoundaryRow &row : boundary(plan, tally)) {
        const std::string &along = plan.definition.axes[0].key;
        std::string line = plan.definition.axes[1].key + " = " + valueText(row.value) + ": ";
        for (std::size_t c = 0; c < row.changes.size(); ++c) {
            const BoundaryChange &change = row.changes[c];
            line.append(c == 0 ? "" : "; ")
                .append(verdictName(change.before))
                .append(" at ")
                .append(along)
                .append(" = ")
                .append(valueText(change.beforeAt))
                .append(", ")
                .append(verdictName(change.after))
                .append(" at ")
                .append(valueText(change.afterAt));
        }
        if (row.changes.empty())
            line += row.only < 0
                        ? std::string("no runs")
                        : std::string(verdictName(static_cast<Verdict>(row.only))) + " all along " + along;
        lines.push_back(line);
    }
    return lines;
}

} // namespace kestrune::sweep
