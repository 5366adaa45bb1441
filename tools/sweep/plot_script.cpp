#include "plot_script.h"

#include "scenario.h"

#include <algorithm>
#include <cmath>
#include <fstream>

namespace kestrune::sweep {

namespace {

// The map's colour of each verdict, in the order of Verdict: green to red,
// grey for failed.
constexpr const char *VERDICT_COLOURS[VERDICT_COUNT] = {"#2ca02c", "#e6c200", "#ff7f0e",
                                                        "#9467bd", "#d62728", "#7f7f7f"};

} // namespace

std::string plotScript(const SweepPlan &plan, const Collector &collector, const std::string &name,
                       const std::string &csvPath) {
    const SweepDefinition &definition = plan.definition;
    const std::size_t keys = definition.keys().size();
    const std::size_t verdictColumn = keys + 2; // 1-based for gnuplot
    const std::size_t figureColumn = collector.figureColumn() + 1;
    const std::string figure = collector.figureName();
    std::string s;
    s += "# Draws " + name + ".png from " + name + ".csv: cd into this folder and run gnuplot " + name +
         ".gp\n";
    s += "set terminal pngcairo size 1000,650 font ',11'\nset output '" + name + ".png'\n";
    s += "set datafile separator comma\nset grid\nset key off\n";
    s += "set title \"" + name + (definition.description.empty() ? "" : ": " + definition.description) +
         "\" noenhanced\n";
    // Each verdict's number in the palette, the last one (failed) for any
    // other text: verdict(s) = s eq 'holds' ? 0 : ... : 5.
    s += "verdict(s) = ";
    for (std::size_t k = 0; k + 1 < VERDICT_COUNT; ++k)
        s +=
            std::string("s eq '") + verdictName(static_cast<Verdict>(k)) + "' ? " + std::to_string(k) + " : ";
    s += std::to_string(VERDICT_COUNT - 1) + "\n";
    std::string colours;
    std::string names;
    for (std::size_t k = 0; k < VERDICT_COUNT; ++k) {
        const std::string number = std::to_string(k);
        colours += (k == 0 ? "" : ", ") + number + " '" + VERDICT_COLOURS[k] + "'";
        names += (k == 0 ? "'" : ", '") + std::string(verdictName(static_cast<Verdict>(k))) + "' " + number;
    }
    const std::string last = std::to_string(VERDICT_COUNT - 1);
    const std::string verdictPalette = "set palette maxcolors " + std::to_string(VERDICT_COUNT) +
                                       "\nset palette defined (" + colours + ")\nset cbrange [-0.5:" + last +
                                       ".5]\nset cbtics (" + names + ")\nset colorbox\n";
    const std::string v = "(verdict(strcol(" + std::to_string(verdictColumn) + ")))";
    const std::string f = "(column(" + std::to_string(figureColumn) + "))";
    if (definition.monteCarlo) {
        // The bins are counted here, from the table on disk one row at a
        // time, and written into the script: gnuplot's own binning would
        // restart at every run without the figure.
        const Collector::Tally &t = collector.tally();
        constexpr std::size_t BINS = 30;
        double width = (t.figureMax - t.figureMin) / static_cast<double>(BINS);
        if (!(width > 0.0))
            width = 1.0;
        std::vector<std::size_t> bins(BINS, 0);
        std::ifstream table(csvPath);
        std::string line;
        std::getline(table, line);
        while (std::getline(table, line)) {
            const std::optional<double> value = sim::parseReal(rowField(line, collector.figureColumn()));
            if (value) {
                const auto k =
                    static_cast<std::size_t>(std::max(0.0, std::floor((*value - t.figureMin) / width)));
                ++bins[std::min(k, BINS - 1)];
            }
        }
        s += "$bins << EOD\n";
        for (std::size_t k = 0; k < BINS; ++k)
            s += valueText(t.figureMin + (static_cast<double>(k) + 0.5) * width) + "," +
                 std::to_string(bins[k]) + "\n";
        s += "EOD\n";
        s +=
            "set xlabel '" + figure + "' noenhanced\nset ylabel 'runs'\nset style fill solid 0.7 border -1\n";
        s += "set boxwidth " + valueText(width) + "\nset yrange [0:*]\n";
        // The verdicts beside: the histogram holds only the runs that have
        // the figure.
        std::string counts;
        for (std::size_t k = 0; k < VERDICT_COUNT; ++k)
            if (t.counts[k] > 0)
                counts += (counts.empty() ? "" : ", ") + std::string(verdictName(static_cast<Verdict>(k))) +
                          " " + std::to_string(t.counts[k]);
        s += "set label 1 \"" + std::to_string(t.done) + " runs: " + counts + "; " +
             std::to_string(t.figureCount) + " with " + figure +
             "\" at graph 0.98, graph 0.95 right noenhanced\n";
        s += "plot $bins using 1:2 with boxes lc rgb '#1f77b4'\n";
    } else if (definition.axes.size() == 1) {
        s += "set xlabel '" + definition.axes[0].key + "' noenhanced\nset ylabel '" + figure +
             "' noenhanced\n";
        if (definition.axes[0].log)
            s += "set logscale x\n";
        s += verdictPalette;
        s += "plot '" + name + ".csv' skip 1 using 2:" + f +
             " with lines lc rgb '#888888', '' skip 1 using 2:" + f + ":" + v +
             " with points pt 7 ps 1.5 lc palette\n";
    } else {
        s += "set xlabel '" + definition.axes[0].key + "' noenhanced\nset ylabel '" + definition.axes[1].key +
             "' noenhanced\n";
        if (definition.axes[0].log)
            s += "set logscale x\n";
        if (definition.axes[1].log)
            s += "set logscale y\n";
        s += "set offsets graph 0.03, graph 0.03, graph 0.08, graph 0.08\n";
        // An axis of a few values has a tic at each.
        for (std::size_t a = 0; a < 2; ++a) {
            if (definition.axes[a].values.size() > 12)
                continue;
            std::string tics;
            for (const double value : definition.axes[a].values)
                tics += (tics.empty() ? "" : ", ") + valueText(value);
            s += std::string(a == 0 ? "set xtics (" : "set ytics (") + tics + ")\n";
        }
        if (definition.figure.empty()) {
            s += verdictPalette;
            s += "plot '" + name + ".csv' skip 1 using 2:3:" + v + " with points pt 5 ps 2.2 lc palette\n";
        } else {
            s += "set cblabel '" + figure + "' noenhanced\nset palette rgb 33,13,10\n";
            s += "plot '" + name + ".csv' skip 1 using 2:3:" + f + " with points pt 5 ps 2.2 lc palette\n";
        }
    }
    return s;
}

} // namespace kestrune::sweep
