#include "outputs.h"
#include "common/interruption.h"
#include "common/number_text.h"
#include "common/partial_file.h"
#include "common/temporary_paths.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace kestrune::sim {

namespace {

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string
format(const char *pattern, ...) {
    char line[512];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(line, sizeof line, pattern, args);
    va_end(args);
    return line;
}

// A dip's special phase when it is not a.
std::string specialPhaseText(int special) {
    return special == 0 ? std::string() : std::string(" at ") + static_cast<char>('a' + special);
}

std::string eventText(const ScenarioEvent &event, bool several) {
    switch (event.kind) {
    case plant::EventKind::Frequency:
        return "frequency " + numberText(event.value, 6) + " Hz";
    case plant::EventKind::PhaseJump:
        return std::string("phase jump ") + (event.value >= 0.0 ? "+" : "") + numberText(event.value, 6) +
               " deg";
    case plant::EventKind::Sag:
        return "amplitude " + numberText(event.value, 6);
    case plant::EventKind::Load:
        return (several && event.converter >= 0 ? "#" + std::to_string(event.converter) + " "
                                                : std::string()) +
               "load " + numberText(event.value / 1e3, 6) + " kW";
    case plant::EventKind::Dip:
        return std::string("dip ") + dipTypeName(event.dip) + " " + numberText(event.value, 6) +
               specialPhaseText(event.special);
    case plant::EventKind::Profile:
        return std::string("profile ") + dipTypeName(event.dip) + " " +
               numberText(event.profile.front().depth, 6) + " to " +
               numberText(event.profile.back().depth, 6) + specialPhaseText(event.special);
    case plant::EventKind::Harmonics: {
        if (event.harmonics.empty())
            return "no harmonics";
        std::string orders;
        for (const plant::Harmonic &h : event.harmonics)
            orders += (orders.empty() ? "" : ",") + std::to_string(h.order);
        return "harmonics " + orders;
    }
    case plant::EventKind::FrequencyRamp:
        return std::string(event.value >= 0.0 ? "+" : "") + numberText(event.value, 6) + " Hz/s to " +
               numberText(event.target, 6) + " Hz";
    }
    return "?";
}

// An event as the scenario writes it.
nlohmann::ordered_json eventJson(const ScenarioEvent &event) {
    using json = nlohmann::ordered_json;
    json item{{"time", event.time}, {"kind", eventKindName(event.kind)}};
    const std::string phase(1, static_cast<char>('a' + event.special));
    switch (event.kind) {
    case plant::EventKind::Dip:
        item.update({{"type", dipTypeName(event.dip)}, {"depth", event.value}, {"phase", phase}});
        break;
    case plant::EventKind::Profile: {
        json points = json::array();
        for (const plant::ProfilePoint &p : event.profile)
            points.push_back({p.time, p.depth});
        item.update({{"type", dipTypeName(event.dip)}, {"phase", phase}, {"points", points}});
        break;
    }
    case plant::EventKind::Harmonics: {
        json components = json::array();
        for (const plant::Harmonic &h : event.harmonics)
            components.push_back({{"order", h.order}, {"magnitude", h.magnitude}, {"phase", h.phase}});
        item["components"] = components;
        break;
    }
    case plant::EventKind::FrequencyRamp:
        item.update({{"rate", event.value}, {"to", event.target}});
        break;
    default:
        item["value"] = event.value;
        if (event.converter >= 0)
            item["converter"] = event.converter;
    }
    return item;
}

// A gnuplot string literal: single quotes, where only a doubled quote is
// special; control characters become spaces.
std::string gnuplotString(const std::string &text) {
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'')
            quoted += "''";
        else if (static_cast<unsigned char>(c) < 0x20)
            quoted += ' ';
        else
            quoted += c;
    }
    return quoted + "'";
}

// The absolute path of an executable named name on PATH, or "".
std::string findOnPath(const std::string &name) {
    const char *path = std::getenv("PATH");
    if (path == nullptr)
        return "";
    std::string_view rest = path;
    while (true) {
        const std::size_t colon = rest.find(':');
        const std::string_view dir = rest.substr(0, colon);
        if (!dir.empty()) {
            const std::string candidate = std::string(dir) + "/" + name;
            if (::access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
        if (colon == std::string_view::npos)
            return "";
        rest.remove_prefix(colon + 1);
    }
}

} // namespace

std::string csvHeader(bool splitLink) {
    std::string header = "time,e_a,e_b,e_c,i_a,i_b,i_c,Vdc,P,Q,level_a,level_b,level_c";
    if (splitLink)
        header += ",V1,V2";
    return header + "\n";
}

bool networkLayout(const Scenario &scenario) {
    return converterCount(scenario) > 1 || scenario.grid.scr.has_value();
}

std::string csvHeader(const Scenario &scenario) {
    if (!networkLayout(scenario))
        return csvHeader(scenario.parameters.splitLink);
    std::string header = "time,e_a,e_b,e_c,v_a,v_b,v_c";
    const std::vector<plant::PlantParameters> converters = converterParameters(scenario);
    for (std::size_t j = 0; j < converters.size(); ++j) {
        std::string n = std::to_string(j);
        n.insert(n.begin(), '_');
        for (const char *column : {"i_a", "i_b", "i_c", "Vdc", "P", "Q", "level_a", "level_b", "level_c"})
            header.append(",").append(column).append(n);
        if (converters[j].splitLink)
            header.append(",V1").append(n).append(",V2").append(n);
    }
    return header + "\n";
}

int converterColumn(const Scenario &scenario, std::size_t converter) {
    if (!networkLayout(scenario))
        return 5;
    int column = 8;
    const std::vector<plant::PlantParameters> converters = converterParameters(scenario);
    for (std::size_t j = 0; j < converter; ++j)
        column += converters[j].splitLink ? 11 : 9;
    return column;
}

CsvRows::CsvRows(const std::string &path, bool splitLink, Writer writer)
    : buffer_(std::make_unique<char[]>(BUFFER_SIZE)), splitLink_(splitLink) {
    open(path, csvHeader(splitLink), 1, writer);
}

CsvRows::CsvRows(const std::string &path, const Scenario &scenario, Writer writer)
    : buffer_(std::make_unique<char[]>(BUFFER_SIZE)), splitLink_(scenario.parameters.splitLink),
      network_(networkLayout(scenario)) {
    for (const plant::PlantParameters &p : converterParameters(scenario))
        splitLinks_.push_back(p.splitLink);
    open(path, csvHeader(scenario), splitLinks_.size(), writer);
}

CsvRows::~CsvRows() {
    if (queue_ != nullptr)
        queue_->finish(); // the thread writes to stream_: ended before it goes
}

void CsvRows::open(const std::string &path, const std::string &header, std::size_t converters,
                   Writer writer) {
    stream_.rdbuf()->pubsetbuf(buffer_.get(), BUFFER_SIZE);
    stream_.open(path, std::ios::out | std::ios::trunc | std::ios::binary);
    if (stream_)
        stream_ << header;
    opened_ = static_cast<bool>(stream_);
    // A file that did not open takes no rows: no thread for it.
    if (opened_ && writer == Writer::Background)
        queue_ = std::make_unique<HandoffQueue<PlantSignals>>(
            ROW_SLOTS, PlantSignals{.converters = std::vector<ConverterSignals>(converters)},
            [this](const PlantSignals &signals) { write(signals); });
}

namespace {

// value rounded to Decimals places, trailing zeros dropped: integer
// arithmetic with the scale known at compile time, digits written two at a
// time from the right; several times faster than formatting with a
// precision.
template <int Decimals> char *putFixed(char *p, char *end, double value) {
    static_assert(Decimals >= 1 && Decimals <= 6);
    constexpr double SCALE = [] {
        double scale = 1.0;
        for (int d = 0; d < Decimals; ++d)
            scale *= 10.0;
        return scale;
    }();
    static constexpr char PAIRS[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    const double scaled = value * SCALE;
    if (!(std::fabs(scaled) < 9.0e15))
        return std::to_chars(p, end, value).ptr;
    // Half away from zero, without the library call.
    const std::int64_t rounded = static_cast<std::int64_t>(scaled < 0.0 ? scaled - 0.5 : scaled + 0.5);
    std::uint64_t n = static_cast<std::uint64_t>(rounded);
    if (rounded < 0) {
        *p++ = '-';
        n = static_cast<std::uint64_t>(-rounded);
    }
    const std::uint64_t scale = static_cast<std::uint64_t>(SCALE);
    std::uint64_t whole = n / scale;
    std::uint64_t fraction = n % scale;
    int wholeDigits = 1;
    for (std::uint64_t rest = whole; rest >= 10; rest /= 10)
        ++wholeDigits;
    int fractionDigits = Decimals;
    if (fraction != 0) {
        while (fraction % 10 == 0) {
            fraction /= 10;
            --fractionDigits;
        }
    }
    if (end - p < wholeDigits + 1 + fractionDigits)
        return p;
    // Digits from the right, two at a time.
    auto write = [](char *last, std::uint64_t digits, int count) {
        for (; count >= 2; count -= 2) {
            const std::uint64_t pair = digits % 100;
            digits /= 100;
            last -= 2;
            last[0] = PAIRS[2 * pair];
            last[1] = PAIRS[2 * pair + 1];
        }
        if (count == 1)
            last[-1] = static_cast<char>('0' + digits);
    };
    write(p + wholeDigits, whole, wholeDigits);
    p += wholeDigits;
    if (fraction == 0)
        return p;
    *p++ = '.';
    write(p + fractionDigits, fraction, fractionDigits);
    return p + fractionDigits;
}

// A comma, then the value as putFixed writes it.
template <int Decimals> char *putField(char *p, char *end, double value) {
    *p++ = ',';
    return putFixed<Decimals>(p, end, value);
}

} // namespace

void CsvRows::row(const PlantSignals &signals) {
    if (queue_ != nullptr)
        queue_->push(signals);
    else
        write(signals);
}

void CsvRows::write(const PlantSignals &signals) {
    if (network_) {
        networkRow(signals);
        return;
    }
    const ConverterSignals &c = signals.converters.front();
    char line[40 * 16];
    char *p = line;
    char *const end = line + sizeof line;
    // Time to the microsecond, voltages and currents to the milli-unit,
    // powers to the watt's tenth.
    p = putFixed<6>(p, end, signals.time);
    for (const double value : c.measurements)
        p = putField<3>(p, end, value);
    p = putField<1>(p, end, c.activePower);
    p = putField<1>(p, end, c.reactivePower);
    for (const int level : c.levels) {
        *p++ = ',';
        p = std::to_chars(p, end, level).ptr;
    }
    if (splitLink_) {
        p = putField<3>(p, end, c.upperLinkVoltage);
        p = putField<3>(p, end, c.lowerLinkVoltage);
    }
    *p++ = '\n';
    stream_.write(line, p - line);
}

void CsvRows::networkRow(const PlantSignals &signals) {
    char line[40 * 8];
    char *p = line;
    char *const end = line + sizeof line;
    p = putFixed<6>(p, end, signals.time);
    for (const double value : signals.source)
        p = putField<3>(p, end, value);
    for (const double value : signals.pcc)
        p = putField<3>(p, end, value);
    stream_.write(line, p - line);
    for (std::size_t j = 0; j < signals.converters.size(); ++j) {
        const ConverterSignals &c = signals.converters[j];
        p = line;
        for (std::size_t k = 3; k < 7; ++k) // i_a, i_b, i_c, Vdc
            p = putField<3>(p, end, c.measurements[k]);
        p = putField<1>(p, end, c.activePower);
        p = putField<1>(p, end, c.reactivePower);
        for (const int level : c.levels) {
            *p++ = ',';
            p = std::to_chars(p, end, level).ptr;
        }
        if (splitLinks_[j]) {
            p = putField<3>(p, end, c.upperLinkVoltage);
            p = putField<3>(p, end, c.lowerLinkVoltage);
        }
        stream_.write(line, p - line);
    }
    stream_.put('\n');
}

bool CsvRows::close() {
    if (queue_ != nullptr) {
        queue_->finish();
        queue_.reset();
    }
    stream_.flush();
    const bool good = static_cast<bool>(stream_);
    stream_.close();
    return good && static_cast<bool>(stream_);
}

void ProgressLine::progress(double simulated, double duration, double wallSeconds) {
    if (wallSeconds < 1.0)
        return;
    const double every = terminal_ ? 0.2 : 5.0;
    if (shown_ && wallSeconds - lastShown_ < every)
        return;
    const std::string text =
        format("t = %.4f of %.4f s (%3.0f %%), %6.1f x real time", simulated, duration,
               duration > 0.0 ? 100.0 * simulated / duration : 0.0, simulated / wallSeconds);
    if (terminal_)
        err_ << '\r' << text << std::flush;
    else
        err_ << "kestrune-sim: " << text << '\n';
    shown_ = true;
    lastShown_ = wallSeconds;
}

void ProgressLine::finish() {
    if (terminal_ && shown_)
        err_ << '\n';
}

std::string segmentLabel(const Scenario &scenario, double start) {
    const std::int64_t step = plant::stepIndexAtOrAfter(start);
    std::string label;
    for (const ScenarioEvent &event : scenario.events)
        if (step > 0 && plant::stepIndexAtOrAfter(event.time) == step)
            label += (label.empty() ? "" : ", ") + eventText(event, converterCount(scenario) > 1);
    return label.empty() ? "start" : label;
}

namespace {

void printSegments(std::ostream &out, const Scenario &scenario,
                   const std::vector<plant::SegmentFigures> &figures) {
    out << format("%-13s %-22s %8s %8s %9s %7s %7s %7s %6s %6s %7s %6s\n", "segment [s]", "begins with",
                  "Vdc min", "Vdc max", "settling", "ripple", "peak I", "rms I", "PF", "THD", "illegal",
                  "direct");
    out << format("%-13s %-22s %8s %8s %9s %7s %7s %7s %6s %6s\n", "", "", "[V]", "[V]", "[s]", "[V]", "[pu]",
                  "[pu]", "", "[%]");
    for (const plant::SegmentFigures &f : figures) {
        const std::string settling = f.settled ? format("%9.4f", f.settlingTime) : format("%9s", "unsettled");
        std::string label = segmentLabel(scenario, f.start);
        if (label.size() > 22)
            label = label.substr(0, 21) + "~";
        // A segment the run stopped in has no steady window: its steady
        // figures are left out.
        const std::string steady = f.steady
                                       ? format("%7.2f %7.3f %7.3f %6.3f %6.1f", f.vdcRipple, f.peakCurrentPu,
                                                f.steadyRmsPu, f.powerFactor, 100.0 * f.thd)
                                       : format("%7s %7.3f %7s %6s %6s", "-", f.peakCurrentPu, "-", "-", "-");
        out << format("%-13s %-22s %8.2f %8.2f %s %s %7lld %6lld\n",
                      format("%.3f-%.3f", f.start, f.end).c_str(), label.c_str(), f.vdcMin, f.vdcMax,
                      settling.c_str(), steady.c_str(), static_cast<long long>(f.illegalPatterns),
                      static_cast<long long>(f.directChanges));
    }
}

// The unbalance figures of one converter's segments: the sequence currents
// and the PCC voltage's negative sequence over the last six grid cycles, the
// link's 120 Hz ripple over the last two.
void printUnbalance(std::ostream &out, const Scenario &scenario,
                    const std::vector<plant::SegmentFigures> &figures) {
    out << format("%-13s %-22s %8s %8s %9s %8s %8s\n", "segment [s]", "begins with", "I+", "I-", "unbalance",
                  "120 Hz", "PCC V-");
    out << format("%-13s %-22s %8s %8s %9s %8s %8s\n", "", "", "[pu]", "[pu]", "[%]", "[V pp]", "[%]");
    for (const plant::SegmentFigures &f : figures) {
        std::string label = segmentLabel(scenario, f.start);
        if (label.size() > 22)
            label = label.substr(0, 21) + "~";
        const std::string range = format("%.3f-%.3f", f.start, f.end);
        if (f.steady)
            out << format("%-13s %-22s %8.3f %8.3f %9.2f %8.2f %8.2f\n", range.c_str(), label.c_str(),
                          f.positiveSequencePu, f.negativeSequencePu, f.currentUnbalance, f.vdcRipple120,
                          f.pccNegativeSequence);
        else
            out << format("%-13s %-22s %8s %8s %9s %8s %8s\n", range.c_str(), label.c_str(), "-", "-", "-",
                          "-", "-");
    }
}

std::string converterText(const plant::PlantParameters &p) {
    return numberText(p.loadPower / 1e3, 6) + " kW, precharge " + numberText(p.precharge, 6) + " V";
}

} // namespace

std::string gridText(const Scenario &scenario) {
    const std::size_t n = converterCount(scenario);
    std::string text = !scenario.grid.scr ? std::string("stiff grid")
                                          : "grid at SCR " + numberText(*scenario.grid.scr, 6) + ", X/R " +
                                                numberText(scenario.grid.xOverR, 6);
    if (scenario.grid.scr) {
        const plant::GridImpedance z = scenarioImpedance(scenario);
        text +=
            format(" (R_g %.3f mohm, L_g %.2f uH on the 600 V side)", z.resistance * 1e3, z.inductance * 1e6);
    }
    text += "; " + std::to_string(n) + (n == 1 ? " converter" : " converters, each with a unit of its own");
    return text;
}

void printSummary(std::ostream &out, const RunPlan &plan, const ClosedLoopResult &result,
                  const OutputPaths &paths) {
    const Scenario &scenario = plan.scenario;
    out << "Scenario " << scenario.name;
    if (!scenario.description.empty())
        out << ": " << scenario.description;
    out << '\n';
    const bool network = networkLayout(scenario);
    if (network)
        out << gridText(scenario) << '\n';
    out << format("%.6g s simulated in %lld communication steps of %.6g s (%lld base steps)\n",
                  result.simulated, static_cast<long long>(result.stepsDone), plan.step,
                  static_cast<long long>(result.stepsDone * plan.baseStepsPerStep));
    if (result.wallSeconds > 0.0)
        out << format("wall time %.3f s, real-time factor %.1f\n", result.wallSeconds,
                      result.simulated / result.wallSeconds);
    if (plan.coupling == Coupling::Jacobi)
        out << "coupling jacobi: every participant stepped on the values of the previous exchange (0 until "
               "the first)\n";
    if (plan.plant.fmu)
        out << "plant " << plan.plant.name()
            << " (the figures from its outputs at the communication points)\n";
    if (result.pacing.on)
        out << format(
            "paced at %.6g x real time: %lld of %lld steps finished after their deadline, the worst "
            "by %.3f ms\n",
            result.pacing.factor, static_cast<long long>(result.pacing.lateSteps),
            static_cast<long long>(result.stepsDone), result.pacing.worstLateness * 1e3);
    if (result.stopped)
        out << "STOPPED at t = " << numberText(result.stopTime, 10)
            << " s, the run diverged: " << result.stopReason << '\n';
    out << '\n';

    if (!network) {
        printSegments(out, scenario, result.figures);
        out << '\n';
        printUnbalance(out, scenario, result.figures);
    } else {
        const std::vector<plant::PlantParameters> converters = converterParameters(scenario);
        for (std::size_t j = 0; j < result.converterFigures.size(); ++j) {
            out << "converter " << j << " (" << converterText(converters[j]) << ")\n";
            printSegments(out, scenario, result.converterFigures[j]);
            out << '\n';
            printUnbalance(out, scenario, result.converterFigures[j]);
            out << '\n';
        }
        out << "PCC voltage, phase a, over the last 6 grid cycles of each segment\n";
        out << format("%-13s %-22s %12s %8s %12s\n", "segment [s]", "begins with", "fundamental", "THD",
                      "angle to e_a");
        out << format("%-13s %-22s %12s %8s %12s\n", "", "", "[pu]", "[%]", "[deg]");
        for (const plant::SegmentFigures &f : result.figures) {
            std::string label = segmentLabel(scenario, f.start);
            if (label.size() > 22)
                label = label.substr(0, 21) + "~";
            const std::string range = format("%.3f-%.3f", f.start, f.end);
            if (f.steady)
                out << format("%-13s %-22s %12.4f %8.1f %12.2f\n", range.c_str(), label.c_str(),
                              f.pccFundamentalPu, 100.0 * f.pccThd, f.pccAngleDegrees);
            else
                out << format("%-13s %-22s %12s %8s %12s\n", range.c_str(), label.c_str(), "-", "-", "-");
        }
    }
    out << '\n';
    if (!paths.csv.empty())
        out << "CSV   " << paths.csv << '\n';
    if (!paths.json.empty())
        out << "JSON  " << paths.json << '\n';
    if (!paths.png.empty())
        out << "plot  " << paths.png << '\n';
    if (!paths.svg.empty())
        out << "      " << paths.svg << '\n';
}

std::string writeSummaryJson(const std::string &path, const std::string &fmu, const RunPlan &plan,
                             const ClosedLoopResult &result, const OutputPaths &paths) {
    // Keys in the order written: the scenario, the run, its segments, the files.
    using json = nlohmann::ordered_json;
    const Scenario &scenario = plan.scenario;

    json parameters = json::object();
    for (const ParameterKey &key : parameterKeys()) {
        if (std::string_view(key.key) == "splitLink")
            parameters[key.key] = scenario.parameters.splitLink;
        else
            parameters[key.key] = parameterValue(scenario.parameters, key.key);
    }
    auto eventsJson = [](const std::vector<ScenarioEvent> &events) {
        json list = json::array();
        for (const ScenarioEvent &event : events) {
            list.push_back(eventJson(event));
        }
        return list;
    };
    auto segmentsJson = [&scenario](const std::vector<plant::SegmentFigures> &figures) {
        json segments = json::array();
        for (const plant::SegmentFigures &f : figures) {
            auto steady = [&f](double value) { return f.steady ? json(value) : json(); };
            segments.push_back({{"start", f.start},
                                {"end", f.end},
                                {"beginsWith", segmentLabel(scenario, f.start)},
                                {"gridFrequency", f.gridFrequency},
                                {"vdcMin", f.vdcMin},
                                {"vdcMax", f.vdcMax},
                                {"settlingTime", f.settlingTime},
                                {"settled", f.settled},
                                {"vdcRipple", steady(f.vdcRipple)},
                                {"peakCurrentPu", f.peakCurrentPu},
                                {"steadyRmsPu", steady(f.steadyRmsPu)},
                                {"fundamentalPu", steady(f.fundamentalPu)},
                                {"phaseDegrees", steady(f.phaseDegrees)},
                                {"powerFactor", steady(f.powerFactor)},
                                {"thd", steady(f.thd)},
                                {"illegalPatterns", f.illegalPatterns},
                                {"directChanges", f.directChanges},
                                {"positiveSequencePu", steady(f.positiveSequencePu)},
                                {"negativeSequencePu", steady(f.negativeSequencePu)},
                                {"currentUnbalance", steady(f.currentUnbalance)},
                                {"vdcRipple120", steady(f.vdcRipple120)},
                                {"pccNegativeSequence", steady(f.pccNegativeSequence)}});
        }
        return segments;
    };
    json pcc = json::array();
    for (const plant::SegmentFigures &f : result.figures) {
        auto steady = [&f](double value) { return f.steady ? json(value) : json(); };
        pcc.push_back({{"start", f.start},
                       {"end", f.end},
                       {"fundamentalPu", steady(f.pccFundamentalPu)},
                       {"thd", steady(f.pccThd)},
                       {"angleDegrees", steady(f.pccAngleDegrees)},
                       {"negativeSequence", steady(f.pccNegativeSequence)}});
    }
    json converters = json::array();
    const std::vector<plant::PlantParameters> converterList = converterParameters(scenario);
    for (std::size_t j = 0; j < converterList.size(); ++j) {
        json own = json::object();
        for (const ParameterKey &key : parameterKeys()) {
            if (isGridKey(key.key))
                continue;
            if (std::string_view(key.key) == "splitLink")
                own[key.key] = converterList[j].splitLink;
            else
                own[key.key] = parameterValue(converterList[j], key.key);
        }
        converters.push_back(
            {{"index", j},
             {"parameters", own},
             {"segments", j < result.converterFigures.size() ? segmentsJson(result.converterFigures[j])
                                                             : json::array()}});
    }
    const plant::GridImpedance impedance = scenarioImpedance(scenario);
    const json grid{{"scr", scenario.grid.scr ? json(*scenario.grid.scr) : json()},
                    {"xOverR", scenario.grid.xOverR},
                    {"resistance", impedance.resistance},
                    {"inductance", impedance.inductance}};
    const json stopped =
        result.stopped ? json{{"time", result.stopTime}, {"reason", result.stopReason}} : json();

    json outputs = json::object();
    auto addPath = [&outputs](const char *key, const std::string &value) {
        if (!value.empty())
            outputs[key] = value;
    };
    addPath("csv", paths.csv);
    addPath("json", paths.json);
    addPath("plotScript", paths.plotScript);
    addPath("png", paths.png);
    addPath("svg", paths.svg);

    json document{
        {"scenario",
         {{"name", scenario.name},
          {"description", scenario.description},
          {"source", scenario.source},
          {"duration", scenario.duration},
          {"parameters", parameters},
          {"grid", grid},
          {"events", eventsJson(scenario.events)},
          {"eventsLeftOut", eventsJson(plan.droppedEvents)}}},
        {"run",
         {{"fmu", fmu},
          {"communicationStep", plan.step},
          {"baseStepsPerStep", plan.baseStepsPerStep},
          {"steps", result.stepsDone},
          {"baseSteps", result.stepsDone * plan.baseStepsPerStep},
          {"simulated", result.simulated},
          {"unitTime", result.unitTime},
          {"wallSeconds", result.wallSeconds},
          {"realTimeFactor", result.wallSeconds > 0.0 ? json(result.simulated / result.wallSeconds) : json()},
          {"illegalPatterns", result.illegalPatterns},
          {"directChanges", result.directChanges},
          {"stopped", stopped},
          {"unitMessages", result.unitMessages}}},
        {"segments", segmentsJson(result.figures)},
        {"converters", converters},
        {"pcc", pcc},
        {"outputs", outputs}};
    // "segments" is converter 0's, for a run of one converter.
    if (converterList.size() != 1)
        document.erase("segments");
    // Only what departs from the default order and pace.
    if (plan.coupling == Coupling::Jacobi)
        document["run"]["coupling"] = couplingName(plan.coupling);
    if (plan.plant.fmu)
        document["run"]["plant"] = plan.plant.name();
    if (result.pacing.on)
        document["run"]["pacing"] = {{"factor", result.pacing.factor},
                                     {"lateSteps", result.pacing.lateSteps},
                                     {"worstLatenessSeconds", result.pacing.worstLateness}};

    // Paths come from the command line and the file system, where any bytes
    // may name a folder; bytes that are not UTF-8 are written as U+FFFD so
    // that the summary stays valid JSON instead of stopping the program.
    std::ofstream file(path, std::ios::out | std::ios::trunc | std::ios::binary);
    file << document.dump(2, ' ', false, json::error_handler_t::replace) << '\n';
    file.close();
    if (!file)
        return "writing " + path + " failed";
    return "";
}

std::string writePlotScript(const std::string &directory, const RunPlan &plan, double stoppedAt, bool svg) {
    const Scenario &scenario = plan.scenario;
    const std::string &name = scenario.name;
    std::ostringstream gp;
    gp << "# Draws " << name << ".png" << (svg ? " and " + name + ".svg" : std::string()) << " from " << name
       << ".csv; kestrune-sim runs it in this folder as: gnuplot " << name << ".gp\n"
       << "set datafile separator comma\n"
       << "set grid lc rgb '#dddddd'\n"
       << "set key top right horizontal opaque font ',9' samplen 2\n"
       << "set xrange [0:" << scenario.duration << "]\n"
       << "set lmargin 11\nset rmargin 3\n"
       << "data = " << gnuplotString(name + ".csv") << "\n"
       << "reference = " << plant::DC_VOLTAGE_REFERENCE << "\n";
    // The events as dashed vertical lines in every panel, named in the top one.
    const std::vector<double> marked = segmentStarts(scenario);
    for (const double time : marked)
        gp << "set arrow from " << time << ", graph 0 to " << time
           << ", graph 1 nohead dt 2 lw 1.5 lc rgb '#666666' front\n";
    if (stoppedAt >= 0.0)
        gp << "set arrow from " << stoppedAt << ", graph 0 to " << stoppedAt
           << ", graph 1 nohead lw 2 lc rgb '#cc0000' front\n"
           << "set label 99 'stopped: diverged' at " << stoppedAt
           << ", graph 0.94 right offset -0.6,0 tc rgb '#cc0000' font ',9' front\n";
    const std::string title =
        scenario.name + (scenario.description.empty() ? "" : ": " + scenario.description);

    const bool network = networkLayout(scenario);
    const std::size_t converters = converterCount(scenario);
    const std::size_t panels = network ? 2 * converters + 1 : 3;
    const std::size_t height = network ? 120 + 280 * panels : 950;
    gp << "do for [kind in '" << (svg ? "png svg" : "png") << "'] {\n"
       << "  if (kind eq 'png') {\n"
       << "    set terminal pngcairo noenhanced size 1100," << height << " font 'sans,10'\n"
       << "  } else {\n"
       << "    set terminal svg noenhanced size 1100," << height << " font 'sans,10' background '#ffffff'\n"
       << "  }\n"
       << "  set output " << gnuplotString(name + ".") << ".kind\n"
       << "  set multiplot layout " << panels << ",1 title " << gnuplotString(title) << " font ',12'\n";
    for (std::size_t i = 0; i < marked.size(); ++i)
        gp << "  set label " << (i + 1) << ' ' << gnuplotString(segmentLabel(scenario, marked[i])) << " at "
           << marked[i] << ", graph 0.06 offset 0.6,0 font ',9' front\n";
    gp << "  unset xlabel\n";
    if (!network) {
        gp << "  set ylabel 'DC link [V]'\n"
           << "  plot data skip 1 using 1:8 with lines lw 1.2 lc rgb '#1f5fbf' title 'Vdc', \\\n"
           << "       reference with lines dt 2 lw 1.2 lc rgb '#000000' title 'reference 500 V', \\\n"
           << "       reference * 1.01 with lines dt 3 lc rgb '#999999' title '+/-1 %', \\\n"
           << "       reference * 0.99 with lines dt 3 lc rgb '#999999' notitle\n";
        for (std::size_t i = 0; i < marked.size(); ++i)
            gp << "  unset label " << (i + 1) << "\n";
        gp << "  set ylabel 'grid current [A]'\n"
           << "  plot data skip 1 using 1:5 with lines lw 1 lc rgb '#d62728' title 'i_a', \\\n"
           << "       data skip 1 using 1:6 with lines lw 1 lc rgb '#2ca02c' title 'i_b', \\\n"
           << "       data skip 1 using 1:7 with lines lw 1 lc rgb '#1f77b4' title 'i_c'\n"
           << "  set ylabel 'power [kW, kvar]'\n"
           << "  set xlabel 'time [s]'\n"
           << "  plot data skip 1 using 1:($9/1000) with lines lw 1.2 lc rgb '#9467bd' title 'P [kW]', \\\n"
           << "       data skip 1 using 1:($10/1000) with lines lw 1 lc rgb '#ff7f0e' title 'Q [kvar]'\n";
    } else {
        // Per converter its DC link and its currents, then the PCC voltage.
        for (std::size_t j = 0; j < converters; ++j) {
            const int c = converterColumn(scenario, j);
            const std::string tag = " " + std::to_string(j);
            gp << "  set ylabel 'DC link" << tag << " [V]'\n"
               << "  plot data skip 1 using 1:" << c + 3 << " with lines lw 1.2 lc rgb '#1f5fbf' title 'Vdc"
               << tag << "', \\\n"
               << "       reference with lines dt 2 lw 1.2 lc rgb '#000000' title 'reference 500 V', \\\n"
               << "       reference * 1.01 with lines dt 3 lc rgb '#999999' title '+/-1 %', \\\n"
               << "       reference * 0.99 with lines dt 3 lc rgb '#999999' notitle\n";
            if (j == 0)
                for (std::size_t i = 0; i < marked.size(); ++i)
                    gp << "  unset label " << (i + 1) << "\n";
            gp << "  set ylabel 'current" << tag << " [A]'\n"
               << "  plot data skip 1 using 1:" << c << " with lines lw 1 lc rgb '#d62728' title 'i_a" << tag
               << "', \\\n"
               << "       data skip 1 using 1:" << c + 1 << " with lines lw 1 lc rgb '#2ca02c' title 'i_b"
               << tag << "', \\\n"
               << "       data skip 1 using 1:" << c + 2 << " with lines lw 1 lc rgb '#1f77b4' title 'i_c"
               << tag << "'\n";
        }
        gp << "  set ylabel 'PCC voltage [V]'\n"
           << "  set xlabel 'time [s]'\n"
           << "  plot data skip 1 using 1:5 with lines lw 1 lc rgb '#d62728' title 'v_a', \\\n"
           << "       data skip 1 using 1:6 with lines lw 1 lc rgb '#2ca02c' title 'v_b', \\\n"
           << "       data skip 1 using 1:7 with lines lw 1 lc rgb '#1f77b4' title 'v_c', \\\n"
           << "       data skip 1 using 1:2 with lines dt 2 lw 1 lc rgb '#000000' title 'source e_a'\n";
    }
    gp << "  unset multiplot\n"
       << "  unset output\n"
       << "}\n";

    return writeWholeFile(directory + "/" + name + ".gp", gp.str());
}

namespace {

// The folder gnuplot draws in: NAME.PID.plot.partial beside the outputs,
// holding links to the script and its data, so that NAME.png and NAME.svg
// reach the output folder only when whole. Removed with what it holds
// unless the plots were moved out.
class PlotFolder {
  public:
    PlotFolder(const std::string &directory, const std::string &name)
        : directory_(directory), name_(name),
          path_(directory + "/" + name + "." + std::to_string(::getpid()) + ".plot.partial") {}
    ~PlotFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
        forgetTemporary(path_);
    }
    PlotFolder(const PlotFolder &) = delete;
    PlotFolder &operator=(const PlotFolder &) = delete;

    const std::string &path() const { return path_; }

    // "" or what failed.
    std::string make() {
        std::error_code ec;
        {
            const InterruptionHold hold = holdOffInterruption();
            std::filesystem::create_directory(path_, ec);
            if (!ec)
                rememberTemporary(path_);
        }
        if (ec)
            return "cannot create " + path_ + ": " + ec.message();
        for (const char *suffix : {".gp", ".csv"}) {
            const std::string file = name_ + suffix;
            std::filesystem::create_symlink("../" + file, path_ + "/" + file, ec);
            if (ec)
                return "cannot link " + file + " into " + path_ + ": " + ec.message();
        }
        return "";
    }

    // Moves the plots gnuplot drew into the output folder: "" or what failed.
    std::string publish() const {
        for (const char *suffix : {".png", ".svg"}) {
            const std::string file = name_ + suffix;
            std::error_code ec;
            if (!std::filesystem::exists(path_ + "/" + file, ec))
                continue;
            const InterruptionHold hold = holdOffInterruption();
            std::filesystem::rename(path_ + "/" + file, directory_ + "/" + file, ec);
            if (ec)
                return "cannot move " + file + " into " + directory_ + ": " + ec.message();
        }
        return "";
    }

  private:
    std::string directory_;
    std::string name_;
    std::string path_;
};

} // namespace

PlotOutcome drawPlot(const std::string &directory, const std::string &name, std::string &message) {
    const std::string gnuplot = findOnPath("gnuplot");
    if (gnuplot.empty()) {
        message = "gnuplot is not installed (Debian: gnuplot-nox), so no plot was drawn; " + directory + "/" +
                  name + ".gp draws it once it is";
        return PlotOutcome::NoGnuplot;
    }
    PlotFolder folder(directory, name);
    if (std::string problem = folder.make(); !problem.empty()) {
        message = problem;
        return PlotOutcome::Failed;
    }
    const std::string script = name + ".gp";
    const std::string log = "../" + name + ".gnuplot.log";
    const pid_t child = ::fork();
    if (child < 0) {
        message = "cannot start gnuplot (fork failed)";
        return PlotOutcome::Failed;
    }
    if (child == 0) {
        // The child: in the plot folder, quiet input, output to the log
        // beside the outputs; gnuplot takes the signals the tool's watcher
        // takes.
        unblockInterruptionInChild();
        if (::chdir(folder.path().c_str()) != 0)
            ::_exit(126);
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0)
            ::_exit(126);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(out, 2);
        char *const argv[] = {const_cast<char *>("gnuplot"), const_cast<char *>(script.c_str()), nullptr};
        ::execv(gnuplot.c_str(), argv);
        ::_exit(127);
    }
    // An interruption ends gnuplot too.
    rememberWorkerProcess(child);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            forgetWorkerProcess(child);
            message = "lost track of gnuplot";
            return PlotOutcome::Failed;
        }
    }
    forgetWorkerProcess(child);
    const std::string logPath = directory + "/" + name + ".gnuplot.log";
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        std::remove(logPath.c_str());
        if (std::string problem = folder.publish(); !problem.empty()) {
            message = problem;
            return PlotOutcome::Failed;
        }
        return PlotOutcome::Drawn;
    }
    message = "gnuplot failed on " + directory + "/" + script + " (" +
              (WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                                 : std::string("killed by a signal")) +
              "); its messages are in " + logPath;
    return PlotOutcome::Failed;
}

} // namespace kestrune::sim
