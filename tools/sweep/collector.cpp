#include "collector.h"

#include "common/interruption.h"
#include "common/partial_file.h"
#include "whole_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace kestrune::sweep {

namespace {

namespace fs = std::filesystem;

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
    bool fresh = !resume || !fs::exists(path, ec);
    if (!fresh) {
        // Keeps the complete rows of this sweep's table (a row cut short by
        // the interruption goes), rewritten beside it and renamed; a table
        // stopped before its header was whole starts afresh.
        std::ifstream in(path, std::ios::binary);
        std::string line;
        const bool headerWhole = std::getline(in, line) && !in.eof();
        if (!headerWhole && header.starts_with(line)) {
            fresh = true;
        } else if (!headerWhole || line + '\n' != header) {
            return path +
                   " holds no table of this sweep (its header differs); remove it or run without --resume";
        } else {
            PartialFile kept(path);
            std::ofstream outFile(kept.path(), std::ios::binary | std::ios::trunc);
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
                return "cannot write " + kept.path() + " (" + std::strerror(errno) + "); " + path +
                       " is as it was";
            if (std::string problem = kept.commit(); !problem.empty())
                return problem;
            fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        }
    }
    if (fresh) {
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
        if (fd_ >= 0 && !writeAll(fd_, header.data(), header.size()))
            return "cannot write the table " + path + ": " + std::strerror(errno);
    }
    if (fd_ < 0)
        return "cannot open the table " + path + " for writing: " + std::strerror(errno);
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
    // The row is the record a resumed sweep starts from: an interruption
    // waits until it is whole, and no row is written after one.
    const InterruptionHold hold = holdOffInterruption();
    const std::lock_guard<std::mutex> lock(mutex_);
    std::size_t run = 0;
    Verdict verdict{};
    if (!parseRow(row, plan_.definition.keys().size(), run, verdict) || run >= done_.size() || done_[run])
        return;
    if (failed_)
        return;
    done_[run] = 1;
    // One write per row: the table on disk always ends with a whole row,
    // unless the disk fills within one; nothing is written after a failure,
    // so that such a row stays the last and --resume drops it.
    const std::string line = row + '\n';
    if (!writeAll(fd_, line.data(), line.size())) {
        failure_ = "writing the table " + path_ + " failed: " + std::strerror(errno);
        failed_ = true;
        return;
    }
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

std::string Collector::failure() const {
    if (!failed_)
        return "";
    return failure_ + "; it keeps the " + std::to_string(tally_.done) +
           " rows written before: make room (or mend the folder) and run again with --resume to continue";
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
    PartialFile sorted(path_);
    std::ofstream out(sorted.path(), std::ios::binary | std::ios::trunc);
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
        return "cannot write " + sorted.path() + " (" + std::strerror(errno) + "); " + path_ +
               " keeps every row, out of run order until a --resume puts them in order";
    return sorted.commit();
}

} // namespace kestrune::sweep
