#include "sweep.h"

#include "run_pool.h"

#include "master/fmu_archive.h"
#include "outputs.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace kestrune::sweep {

namespace {

namespace fs = std::filesystem;

bool writeAll(int fd, const void *data, std::size_t size) {
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string absolutePath(const fs::path &path) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    return ec ? path.string() : absolute.lexically_normal().string();
}

std::string duration(double seconds) {
    char buffer[32];
    if (seconds < 120.0)
        std::snprintf(buffer, sizeof buffer, "%.0f s", seconds);
    else if (seconds < 7200.0)
        std::snprintf(buffer, sizeof buffer, "%.0f min", seconds / 60.0);
    else
        std::snprintf(buffer, sizeof buffer, "%.1f h", seconds / 3600.0);
    return buffer;
}

} // namespace

// --- Collector ---------------------------------------------------------------

Collector::Collector(const SweepPlan &plan, std::ostream &err, bool terminal)
    : plan_(plan), err_(err), terminal_(terminal), done_(plan.definition.runCount(), 0),
      start_(std::chrono::steady_clock::now()) {
    if (plan.definition.axes.size() == 2)
        tally_.verdicts.assign(plan.definition.runCount(), -1);
    const std::string name = figureName();
    const std::size_t keys = plan.definition.keys().size();
    for (std::size_t c = 0; c < plan.figureColumns.size(); ++c)
        if (plan.figureColumns[c] == name)
            figureColumn_ = keys + 2 + c;
}

Collector::~Collector() {
    if (fd_ >= 0)
        ::close(fd_);
}

std::string Collector::figureName() const {
    if (!plan_.definition.figure.empty())
        return plan_.definition.figure;
    return (plan_.converters > 1 ? "c0_" : "") + std::string("s") + std::to_string(plan_.segments - 1) +
           "_vdc_min";
}

double Collector::seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

std::string Collector::open(const std::string &path, bool resume) {
    path_ = path;
    const std::string header = csvHeader(plan_) + '\n';
    std::error_code ec;
    if (resume && fs::exists(path, ec)) {
        // Keeps the complete rows of this sweep's table (a row cut short by
        // the interruption goes), rewritten beside it and renamed.
        std::ifstream in(path, std::ios::binary);
        std::string line;
        if (!std::getline(in, line) || line + '\n' != header)
            return path +
                   " holds no table of this sweep (its header differs); remove it or run without --resume";
        const std::string kept = path + ".resume";
        std::ofstream outFile(kept, std::ios::binary | std::ios::trunc);
        outFile << header;
        const std::size_t keys = plan_.definition.keys().size();
        while (std::getline(in, line)) {
            if (in.eof())
                break; // no line end: cut short
            std::size_t run = 0;
            Verdict verdict{};
            if (!parseRow(line, keys, run, verdict) || run >= done_.size() || done_[run])
                continue;
            done_[run] = 1;
            count(line, run, verdict);
            ++resumed_;
            outFile << line << '\n';
        }
        outFile.close();
        if (!outFile)
            return "cannot write " + kept;
        fs::rename(kept, path, ec);
        if (ec)
            return "cannot rename " + kept + " to " + path + ": " + ec.message();
        fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    } else {
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
        if (fd_ >= 0 && !writeAll(fd_, header.data(), header.size()))
            return "cannot write " + path;
    }
    if (fd_ < 0)
        return "cannot open " + path + " for writing: " + std::strerror(errno);
    return "";
}

std::vector<std::size_t> Collector::pending() const {
    std::vector<std::size_t> runs;
    for (std::size_t r = 0; r < done_.size(); ++r)
        if (!done_[r])
            runs.push_back(r);
    return runs;
}

void Collector::count(const std::string &row, std::size_t run, Verdict verdict) {
    ++tally_.counts[static_cast<std::size_t>(verdict)];
    ++tally_.done;
    if (!tally_.verdicts.empty())
        tally_.verdicts[run] = static_cast<std::int8_t>(verdict);
    const std::string_view field = rowField(row, figureColumn_);
    if (!field.empty()) {
        const std::optional<double> value = sim::parseReal(field);
        if (value) {
            if (tally_.figureCount == 0)
                tally_.figureMin = tally_.figureMax = *value;
            tally_.figureMin = std::min(tally_.figureMin, *value);
            tally_.figureMax = std::max(tally_.figureMax, *value);
            tally_.figureSum += *value;
            ++tally_.figureCount;
        }
    }
}

void Collector::add(const std::string &row) {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::size_t run = 0;
    Verdict verdict{};
    if (!parseRow(row, plan_.definition.keys().size(), run, verdict) || run >= done_.size() || done_[run])
        return;
    done_[run] = 1;
    // One write per row: the table on disk always ends with a whole row.
    const std::string line = row + '\n';
    if (!writeAll(fd_, line.data(), line.size()))
        err_ << "kestrune-sweep: writing " << path_ << " failed: " << std::strerror(errno) << '\n';
    count(row, run, verdict);
    progress(false);
}

void Collector::progress(bool last) {
    const double now = seconds();
    if (!last && now - lastShown_ < (terminal_ ? 0.5 : 10.0))
        return;
    lastShown_ = now;
    const std::size_t total = done_.size();
    const std::size_t doneNow = tally_.done - resumed_;
    const std::size_t left = total - tally_.done;
    const double rate = now > 0.0 ? static_cast<double>(doneNow) / now : 0.0;
    char line[200];
    std::snprintf(line, sizeof line, "runs %zu/%zu, %zu failed, %.2f runs/s, %s left", tally_.done, total,
                  tally_.counts[static_cast<std::size_t>(Verdict::Failed)], rate,
                  rate > 0.0 ? duration(static_cast<double>(left) / rate).c_str() : "?");
    if (terminal_)
        err_ << '\r' << line << "\x1b[K" << (last ? "\n" : "") << std::flush;
    else
        err_ << line << '\n';
    shown_ = true;
}

std::string Collector::finish() {
    if (shown_ && terminal_)
        progress(true);
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    // Sorted by run index through each row's place in the file: the rows
    // themselves stay on disk.
    std::ifstream in(path_, std::ios::binary);
    std::string line;
    std::getline(in, line);
    const std::string header = line;
    struct Place {
        std::size_t run;
        std::streamoff offset;
        std::size_t length;
    };
    std::vector<Place> places;
    const std::size_t keys = plan_.definition.keys().size();
    std::streamoff offset = in.tellg();
    while (std::getline(in, line)) {
        std::size_t run = 0;
        Verdict verdict{};
        if (parseRow(line, keys, run, verdict))
            places.push_back({run, offset, line.size()});
        offset = in.tellg();
    }
    if (std::is_sorted(places.begin(), places.end(),
                       [](const Place &a, const Place &b) { return a.run < b.run; }))
        return "";
    std::sort(places.begin(), places.end(), [](const Place &a, const Place &b) { return a.run < b.run; });
    in.clear();
    const std::string sorted = path_ + ".sorted";
    std::ofstream out(sorted, std::ios::binary | std::ios::trunc);
    out << header << '\n';
    std::string row;
    for (const Place &place : places) {
        in.seekg(place.offset);
        row.resize(place.length);
        in.read(row.data(), static_cast<std::streamsize>(place.length));
        out << row << '\n';
    }
    out.close();
    if (!out || !in)
        return "cannot write " + sorted;
    std::error_code ec;
    fs::rename(sorted, path_, ec);
    return ec ? "cannot rename " + sorted + " to " + path_ + ": " + ec.message() : "";
}

// --- Workers -------------------------------------------------------------------

std::string runOnThreads(const SweepPlan &plan, const std::vector<std::size_t> &runs, unsigned jobs,
                         Collector &collector) {
    return runPoolOnThreads(
        runs, jobs, [&plan] { return RunWorker([&plan](std::size_t run) { return runRow(plan, run); }); },
        [&collector](const std::string &row) { collector.add(row); });
}

std::string runInProcesses(const SweepPlan &plan, const std::vector<std::size_t> &runs, unsigned jobs,
                           Collector &collector) {
    // A dead worker's run is a row saying so.
    auto failed = [&plan](std::size_t run, const std::string &reason) {
        std::string row = std::to_string(run);
        for (const double v : plan.definition.values(run))
            row.append(",").append(valueText(v));
        row.append(",failed")
            .append(plan.figureColumns.size(), ',')
            .append(",\"")
            .append(reason)
            .append("\"");
        return row;
    };
    return runPoolInProcesses(
        runs, jobs, [&plan] { return RunWorker([&plan](std::size_t run) { return runRow(plan, run); }); },
        [&collector](const std::string &row) { collector.add(row); }, failed);
}

// --- Outputs -------------------------------------------------------------------

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

namespace {

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
    s += "verdict(s) = s eq 'holds' ? 0 : s eq 'unsettled' ? 1 : s eq 'oscillating' ? 2 : s eq 'illegal' ? 3 "
         ": "
         "s eq 'diverged' ? 4 : 5\n";
    const std::string verdictPalette =
        "set palette maxcolors 6\nset palette defined (0 '#2ca02c', 1 '#e6c200', 2 '#ff7f0e', 3 '#9467bd', 4 "
        "'#d62728', 5 '#7f7f7f')\n"
        "set cbrange [-0.5:5.5]\nset cbtics ('holds' 0, 'unsettled' 1, 'oscillating' 2, 'illegal' 3, "
        "'diverged' 4, 'failed' 5)\nset colorbox\n";
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

} // namespace

int finishSweep(const SweepPlan &plan, const SweepOptions &options, Collector &collector,
                const std::string &workers, std::ostream &out, std::ostream &err) {
    const double seconds = collector.seconds();
    int status = 0;
    if (std::string problem = collector.finish(); !problem.empty()) {
        err << "kestrune-sweep: " << problem << '\n';
        status = 1;
    }
    const SweepDefinition &definition = plan.definition;
    const std::string &name = definition.name;
    const fs::path directory = options.outputDir;
    const Collector::Tally &tally = collector.tally();
    const std::size_t ranNow = tally.done - collector.resumed();
    const double rate = seconds > 0.0 ? static_cast<double>(ranNow) / seconds : 0.0;
    const std::vector<std::string> boundaryText = boundaryLines(plan, tally);

    std::string png;
    std::error_code ec;
    fs::remove(directory / (name + ".png"), ec);
    if (options.plot && (definition.monteCarlo || definition.axes.size() <= 2)) {
        std::ofstream script(directory / (name + ".gp"), std::ios::trunc);
        script << plotScript(plan, collector, name, (directory / (name + ".csv")).string());
        script.close();
        std::string message;
        switch (sim::drawPlot(directory.string(), name, message)) {
        case sim::PlotOutcome::Drawn:
            png = absolutePath(directory / (name + ".png"));
            break;
        case sim::PlotOutcome::NoGnuplot:
            err << "kestrune-sweep: note: " << message << '\n';
            break;
        case sim::PlotOutcome::Failed:
            err << "kestrune-sweep: " << message << '\n';
            status = 1;
            break;
        }
    }

    nlohmann::ordered_json summary;
    summary["sweep"] = {{"name", name},
                        {"description", definition.description},
                        {"file", absolutePath(definition.source)},
                        {"scenario", definition.scenario},
                        {"duration", definition.base.duration}};
    nlohmann::ordered_json fixed = nlohmann::ordered_json::object();
    for (const auto &[key, value] : definition.fixed)
        fixed[key] = value;
    summary["sweep"]["set"] = fixed;
    if (definition.monteCarlo) {
        nlohmann::ordered_json parameters = nlohmann::ordered_json::object();
        for (const Distribution &d : definition.distributions) {
            nlohmann::ordered_json p = {
                {"distribution", d.kind == Distribution::Kind::Normal ? "normal" : "uniform"}};
            if (d.kind == Distribution::Kind::Normal) {
                p["mean"] = d.mean;
                p["sd"] = d.sd;
            }
            p["min"] = d.min;
            p["max"] = d.max;
            parameters[d.key] = p;
        }
        summary["sweep"]["montecarlo"] = {
            {"count", definition.samples}, {"seed", definition.seed}, {"parameters", parameters}};
    } else {
        nlohmann::ordered_json axes = nlohmann::ordered_json::array();
        for (const Axis &axis : definition.axes)
            axes.push_back({{"key", axis.key}, {"values", axis.values}});
        summary["sweep"]["axes"] = axes;
    }
    summary["fmu"] = absolutePath(plan.fmu);
    nlohmann::ordered_json counts = nlohmann::ordered_json::object();
    for (std::size_t v = 0; v < VERDICT_COUNT; ++v)
        counts[verdictName(static_cast<Verdict>(v))] = tally.counts[v];
    summary["runs"] = {{"total", definition.runCount()},
                       {"done", tally.done},
                       {"resumed", collector.resumed()},
                       {"verdicts", counts}};
    summary["session"] = {{"workers", workers}, {"wallSeconds", seconds}, {"runsPerSecond", rate}};
    if (tally.figureCount > 0)
        summary["figure"] = {{"name", collector.figureName()},
                             {"runs", tally.figureCount},
                             {"min", tally.figureMin},
                             {"max", tally.figureMax},
                             {"mean", tally.figureSum / static_cast<double>(tally.figureCount)}};
    if (!boundaryText.empty()) {
        // Per value of the second axis, each change along the first.
        nlohmann::ordered_json rows = nlohmann::ordered_json::array();
        for (const BoundaryRow &row : boundary(plan, tally)) {
            nlohmann::ordered_json changes = nlohmann::ordered_json::array();
            for (const BoundaryChange &change : row.changes)
                changes.push_back({{"from", verdictName(change.before)},
                                   {"at", change.beforeAt},
                                   {"to", verdictName(change.after)},
                                   {"next", change.afterAt}});
            rows.push_back({{definition.axes[1].key, row.value}, {"changes", changes}});
        }
        summary["boundary"] = {
            {"along", definition.axes[0].key}, {"per", definition.axes[1].key}, {"rows", rows}};
    }
    const std::string csv = absolutePath(directory / (name + ".csv"));
    const std::string jsonPath = absolutePath(directory / (name + ".json"));
    summary["files"] = {{"csv", csv},
                        {"plot", png.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(png)}};
    std::ofstream json(jsonPath, std::ios::trunc);
    json << summary.dump(2) << '\n';
    json.close();
    if (!json) {
        err << "kestrune-sweep: cannot write " << jsonPath << '\n';
        status = 1;
    }

    out << "Sweep " << name << (definition.description.empty() ? "" : ": " + definition.description) << '\n';
    out << tally.done << " of " << definition.runCount() << " runs";
    if (collector.resumed() > 0)
        out << " (" << collector.resumed() << " from the earlier table)";
    char rateText[64];
    std::snprintf(rateText, sizeof rateText, "%.1f s, %.2f runs/s", seconds, rate);
    out << "; this session " << ranNow << " runs on " << workers << " in " << rateText << '\n';
    for (std::size_t v = 0; v < VERDICT_COUNT; ++v)
        if (tally.counts[v] > 0)
            out << "  " << verdictName(static_cast<Verdict>(v))
                << std::string(12 - std::strlen(verdictName(static_cast<Verdict>(v))), ' ') << tally.counts[v]
                << '\n';
    if (tally.figureCount > 0) {
        char line[160];
        std::snprintf(line, sizeof line, "%s over %zu runs: min %.6g, mean %.6g, max %.6g",
                      collector.figureName().c_str(), tally.figureCount, tally.figureMin,
                      tally.figureSum / static_cast<double>(tally.figureCount), tally.figureMax);
        out << line << '\n';
    }
    if (!boundaryText.empty()) {
        out << "Boundary along " << definition.axes[0].key << " (where the verdict changes):\n";
        for (const std::string &line : boundaryText)
            out << "  " << line << '\n';
    }
    out << "\nCSV   " << csv << "\nJSON  " << jsonPath << '\n';
    if (!png.empty())
        out << "plot  " << png << '\n';
    return status;
}

int prepareSweep(const SweepOptions &options, SweepPlan &plan, std::ostream &err) {
    SweepDefinition definition;
    if (std::string problem = loadSweep(options.sweep, options.sweepDir, options.scenarioDir, definition);
        !problem.empty()) {
        err << "kestrune-sweep: " << problem << '\n';
        return 2;
    }
    planSweep(definition, options.fmu, plan);
    return 0;
}

int runLocalSweep(const SweepOptions &options, std::ostream &out, std::ostream &err, bool errIsTerminal) {
    SweepPlan plan;
    if (const int status = prepareSweep(options, plan, err); status != 0)
        return status;
    // The archive once, before any run: its edition decides how workers
    // keep their models apart.
    master::UnpackedFmu fmu;
    if (!fmu.open(options.fmu)) {
        err << "kestrune-sweep: " << fmu.error() << '\n';
        return 1;
    }
    const bool fmi3 = fmu.description().isFmi3();

    std::error_code ec;
    fs::create_directories(options.outputDir, ec);
    if (ec || !fs::is_directory(options.outputDir)) {
        err << "kestrune-sweep: cannot create the output folder " << options.outputDir << '\n';
        return 1;
    }
    Collector collector(plan, err, errIsTerminal);
    const std::string csv = (fs::path(options.outputDir) / (plan.definition.name + ".csv")).string();
    if (std::string problem = collector.open(csv, options.resume); !problem.empty()) {
        err << "kestrune-sweep: " << problem << '\n';
        return 1;
    }
    unsigned jobs = options.jobs != 0 ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
    const std::vector<std::size_t> runs = collector.pending();
    jobs = static_cast<unsigned>(std::max<std::size_t>(1, std::min<std::size_t>(jobs, runs.size())));
    const std::string problem =
        fmi3 ? runOnThreads(plan, runs, jobs, collector) : runInProcesses(plan, runs, jobs, collector);
    if (!problem.empty()) {
        err << "kestrune-sweep: " << problem << '\n';
        return 1;
    }
    const std::string workers = std::to_string(jobs) + (fmi3 ? (jobs == 1 ? " thread" : " threads")
                                                             : (jobs == 1 ? " process" : " processes"));
    return finishSweep(plan, options, collector, workers, out, err);
}

} // namespace kestrune::sweep
