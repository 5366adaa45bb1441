#include "report.h"

#include "common/markup_text.h"
#include "common/number_text.h"
#include "common/partial_file.h"
#include "outputs.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace kestrune::battery {

namespace {

using json = nlohmann::ordered_json;

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string text(const json &value) {
    return value.is_string() ? value.get<std::string>() : std::string();
}

// A CSV field, quoted when it holds a comma or a quote.
std::string csvField(const std::string &field) {
    if (field.find_first_of(",\"\n") == std::string::npos)
        return field;
    std::string quoted = "\"";
    for (const char c : field) {
        if (c == '"')
            quoted += "\"\"";
        else if (c != '\n' && c != '\r')
            quoted += c;
    }
    return quoted + "\"";
}

// The criteria that failed, in a few words each: "peak current 2.84 pu
// (limit <= 1.5)".
std::string failures(const Outcome &outcome) {
    std::string list;
    for (const json &c : outcome["criteria"]) {
        if (text(c["mark"]) != "fail")
            continue;
        const std::string key = text(c["key"]), measured = text(c["measured"]), limit = text(c["limit"]);
        std::string item;
        if (key == "divergence")
            item = "diverged: " + measured;
        else if (key == "illegal")
            item = measured + " illegal patterns or direct changes";
        else if (key == "peak_current")
            item = "peak current " + measured + " pu (limit " + limit + ")";
        else if (key == "link_band")
            item = "link " + measured + " V during the event (band " + limit + " V)";
        else
            item = "recovery " + measured +
                   (!measured.empty() && measured.front() >= '0' && measured.front() <= '9' ? " s" : "") +
                   " (limit " + limit + " s)";
        list += (list.empty() ? "" : "; ") + item;
    }
    if (outcome["criteria"].empty())
        list = text(outcome["reason"]);
    return list;
}

const char *CRITERION_KEYS[] = {"divergence", "illegal", "peak_current", "link_band", "recovery"};

std::string eventsText(const sim::Scenario &scenario) {
    std::string list;
    for (const double start : sim::segmentStarts(scenario))
        list +=
            (list.empty() ? "" : "; ") + numberText(start, 6) + " s " + sim::segmentLabel(scenario, start);
    return list.empty() ? "none" : list;
}

std::string figureCell(const json &value, int decimals, double scale = 1.0) {
    return value.is_number() ? fixed(value.get<double>() * scale, decimals) : std::string("-");
}

} // namespace

std::vector<std::string> gridColumns(const Battery &battery) {
    std::vector<std::string> columns;
    for (const BatteryTest &test : battery.tests)
        for (const GridStrength &grid : test.grids)
            if (std::find(columns.begin(), columns.end(), grid.label()) == columns.end())
                columns.push_back(grid.label());
    return columns;
}

std::string base64(const std::string &bytes) {
    static constexpr char DIGITS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned n = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += DIGITS[n >> 18 & 63];
        out += DIGITS[n >> 12 & 63];
        out += DIGITS[n >> 6 & 63];
        out += DIGITS[n & 63];
    }
    if (i < bytes.size()) {
        const bool two = i + 1 < bytes.size();
        const unsigned n = static_cast<unsigned char>(bytes[i]) << 16 |
                           (two ? static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 1])) << 8 : 0u);
        out += DIGITS[n >> 18 & 63];
        out += DIGITS[n >> 12 & 63];
        out += two ? DIGITS[n >> 6 & 63] : '=';
        out += '=';
    }
    return out;
}

std::string writeTable(const std::string &path, const Battery &battery,
                       const std::vector<Outcome> &outcomes) {
    std::string table = "test,grid,result";
    for (const char *key : CRITERION_KEYS)
        table.append(",").append(key).append(",").append(key).append("_mark");
    table += ",verdict,reason\n";
    const std::vector<Battery::Run> runs = battery.runs();
    for (const Outcome &outcome : outcomes) {
        const Battery::Run &run = runs.at(outcome["run"].get<std::size_t>());
        const BatteryTest &test = battery.tests[run.test];
        table += test.name + "," + csvField(test.grids[run.grid].label()) + "," +
                 (outcome["pass"].get<bool>() ? "pass" : "fail");
        for (const char *key : CRITERION_KEYS) {
            std::string measured, mark = "-";
            for (const json &c : outcome["criteria"])
                if (text(c["key"]) == key) {
                    measured = text(c["measured"]);
                    mark = text(c["mark"]);
                }
            table.append(",").append(csvField(measured)).append(",").append(csvField(mark));
        }
        table.append(",")
            .append(text(outcome["verdict"]))
            .append(",")
            .append(csvField(text(outcome["reason"])));
        table += '\n';
    }
    return writeWholeFile(path, table);
}

std::string writeJson(const std::string &path, const Battery &battery, const std::vector<Outcome> &outcomes,
                      const RunFacts &facts) {
    const std::vector<Battery::Run> runs = battery.runs();
    json tests = json::array();
    for (std::size_t t = 0; t < battery.tests.size(); ++t) {
        const BatteryTest &test = battery.tests[t];
        const Criteria &c = test.criteria;
        json criteria{{"noDivergence", c.noDivergence},
                      {"noIllegal", c.noIllegal},
                      {"peakCurrentPu", c.peakCurrentPu ? json(*c.peakCurrentPu) : json()},
                      {"linkBand", c.linkBand ? json{(*c.linkBand)[0], (*c.linkBand)[1]} : json()},
                      {"recoveryTime", c.recoveryTime ? json(*c.recoveryTime) : json()}};
        json grids = json::array();
        for (const Outcome &outcome : outcomes) {
            const Battery::Run &run = runs.at(outcome["run"].get<std::size_t>());
            if (run.test != t)
                continue;
            json entry{{"grid", test.grids[run.grid].label()}};
            for (const auto &[key, value] : outcome.items())
                if (key != "run")
                    entry[key] = value;
            grids.push_back(entry);
        }
        tests.push_back({{"name", test.name},
                         {"title", test.title},
                         {"text", test.text},
                         {"events", eventsText(test.scenario)},
                         {"eventStart", test.eventStart},
                         {"eventEnd", test.eventEnd},
                         {"duration", test.scenario.duration},
                         {"criteria", criteria},
                         {"grids", grids}});
    }
    std::size_t passed = 0;
    for (const Outcome &outcome : outcomes)
        passed += outcome["pass"].get<bool>() ? 1 : 0;
    const json document{{"battery",
                         {{"name", battery.name},
                          {"description", battery.description},
                          {"source", battery.source},
                          {"text", battery.text}}},
                        {"run",
                         {{"fmu", facts.fmu},
                          {"workers", facts.workers},
                          {"wallSeconds", facts.wallSeconds},
                          {"runs", outcomes.size()},
                          {"passed", passed},
                          {"failed", outcomes.size() - passed}}},
                        {"tests", tests}};
    return writeWholeFile(path, document.dump(2, ' ', false, json::error_handler_t::replace) + "\n");
}

void printSummary(std::ostream &out, const Battery &battery, const std::vector<Outcome> &outcomes,
                  const RunFacts &facts) {
    out << "Battery " << battery.name;
    if (!battery.description.empty())
        out << ": " << battery.description;
    out << '\n';
    std::size_t passed = 0;
    for (const Outcome &outcome : outcomes)
        passed += outcome["pass"].get<bool>() ? 1 : 0;
    out << outcomes.size() << " runs on " << facts.workers << " in " << fixed(facts.wallSeconds, 1)
        << " s: " << passed << " pass, " << outcomes.size() - passed << " fail\n\n";
    char line[512];
    std::snprintf(line, sizeof line, "%-22s %-8s %-6s %-10s %-8s %-8s %-15s %-14s %s\n", "test", "grid",
                  "result", "diverged", "illegal", "peak I", "link [V]", "recovery [s]", "verdict");
    out << line;
    const std::vector<Battery::Run> runs = battery.runs();
    for (const Outcome &outcome : outcomes) {
        const Battery::Run &run = runs.at(outcome["run"].get<std::size_t>());
        const BatteryTest &test = battery.tests[run.test];
        std::string cells[5];
        for (std::size_t k = 0; k < 5; ++k)
            for (const json &c : outcome["criteria"])
                if (text(c["key"]) == CRITERION_KEYS[k]) {
                    const std::string mark = text(c["mark"]);
                    cells[k] =
                        (k == 0 ? (text(c["measured"]) == "none" ? "no" : "yes") : text(c["measured"])) +
                        (mark == "fail"  ? "!"
                         : mark == "off" ? "~"
                                         : "");
                }
        std::snprintf(line, sizeof line, "%-22s %-8s %-6s %-10s %-8s %-8s %-15s %-14s %s\n",
                      test.name.substr(0, 22).c_str(), test.grids[run.grid].label().c_str(),
                      outcome["pass"].get<bool>() ? "pass" : "FAIL", cells[0].c_str(), cells[1].c_str(),
                      cells[2].c_str(), cells[3].c_str(), cells[4].c_str(), text(outcome["verdict"]).c_str());
        out << line;
    }
    out << "(! a criterion failed, ~ switched off)\n";
}

std::string writeReport(const std::string &path, const Battery &battery, const std::vector<Outcome> &outcomes,
                        const RunFacts &facts) {
    const std::vector<Battery::Run> runs = battery.runs();
    const std::vector<std::string> columns = gridColumns(battery);
    std::size_t passed = 0;
    for (const Outcome &outcome : outcomes)
        passed += outcome["pass"].get<bool>() ? 1 : 0;
    // Outcome of test t on the grid labelled `label`, or null.
    auto find = [&](std::size_t t, const std::string &label) -> const Outcome * {
        for (const Outcome &outcome : outcomes) {
            const Battery::Run &run = runs.at(outcome["run"].get<std::size_t>());
            if (run.test == t && battery.tests[t].grids[run.grid].label() == label)
                return &outcome;
        }
        return nullptr;
    };

    std::ostringstream page;
    page << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>"
         << markupEscaped(battery.name) << " - ride-through report</title>\n<style>\n"
         << "body{font-family:sans-serif;max-width:1150px;margin:2em auto;padding:0 "
            "1em;color:#222;line-height:1.4}\n"
         << "table{border-collapse:collapse;margin:0.8em 0}th,td{border:1px solid #ccc;padding:3px 8px;"
            "text-align:left;vertical-align:top;font-size:0.92em}th{background:#f0f0f0}\n"
         << "td.pass{background:#d8f0d8}td.fail{background:#f6d0d0}td.none{background:#f4f4f4;color:#888}\n"
         << ".mark-fail{color:#b00000;font-weight:bold}.mark-pass{color:#207020}.num{text-align:right}\n"
         << "img{max-width:100%;border:1px solid #ddd}small{color:#555}h2{border-bottom:1px solid #ccc}\n"
         << "</style>\n</head>\n<body>\n";
    page << "<h1>Ride-through battery " << markupEscaped(battery.name) << "</h1>\n";
    if (!battery.description.empty())
        page << "<p><b>" << markupEscaped(battery.description) << "</b></p>\n";
    page << "<p>" << outcomes.size() << " runs: <b>" << passed << " pass, " << outcomes.size() - passed
         << " fail</b>. Unit " << markupEscaped(facts.fmu) << "; " << markupEscaped(facts.workers) << ", "
         << fixed(facts.wallSeconds, 1) << " s.</p>\n";
    for (const std::string &paragraph : battery.text)
        page << "<p>" << markupEscaped(paragraph) << "</p>\n";

    page << "<h2>Verdict matrix</h2>\n<table id=\"matrix\">\n<tr><th>test</th>";
    for (const std::string &column : columns)
        page << "<th>" << markupEscaped(column) << "</th>";
    page << "</tr>\n";
    for (std::size_t t = 0; t < battery.tests.size(); ++t) {
        const BatteryTest &test = battery.tests[t];
        page << "<tr><td><a href=\"#test-" << markupEscaped(test.name) << "\">" << markupEscaped(test.title)
             << "</a></td>";
        for (const std::string &column : columns) {
            const Outcome *outcome = find(t, column);
            if (outcome == nullptr) {
                page << "<td class=\"none\" data-test=\"" << markupEscaped(test.name) << "\" data-grid=\""
                     << markupEscaped(column) << "\" data-verdict=\"none\">-</td>";
                continue;
            }
            const bool pass = (*outcome)["pass"].get<bool>();
            page << "<td class=\"" << (pass ? "pass" : "fail") << "\" data-test=\""
                 << markupEscaped(test.name) << "\" data-grid=\"" << markupEscaped(column)
                 << "\" data-verdict=\"" << (pass ? "pass" : "fail") << "\">"
                 << (pass ? "pass" : "<b>fail</b>");
            if (!pass)
                page << "<br><small>" << markupEscaped(failures(*outcome)) << "</small>";
            page << "</td>";
        }
        page << "</tr>\n";
    }
    page << "</table>\n";

    for (std::size_t t = 0; t < battery.tests.size(); ++t) {
        const BatteryTest &test = battery.tests[t];
        page << "<h2 id=\"test-" << markupEscaped(test.name) << "\">" << markupEscaped(test.title)
             << "</h2>\n";
        if (!test.text.empty())
            page << "<p>" << markupEscaped(test.text) << "</p>\n";
        page << "<p><small>" << markupEscaped(test.name) << ": events "
             << markupEscaped(eventsText(test.scenario)) << "; the criteria's event from "
             << numberText(test.eventStart, 6) << " s to " << numberText(test.eventEnd, 6) << " s; run of "
             << numberText(test.scenario.duration, 6) << " s.</small></p>\n";
        std::vector<const Outcome *> mine;
        std::vector<std::string> labels;
        for (const GridStrength &grid : test.grids)
            if (const Outcome *outcome = find(t, grid.label()); outcome != nullptr) {
                mine.push_back(outcome);
                labels.push_back(grid.label());
            }
        // The criteria: one column per grid.
        page << "<table class=\"criteria\">\n<tr><th>criterion</th><th>limit</th>";
        for (const std::string &label : labels)
            page << "<th>" << markupEscaped(label) << "</th>";
        page << "</tr>\n";
        for (const char *key : CRITERION_KEYS) {
            std::string title, limit;
            std::ostringstream cells;
            for (const Outcome *outcome : mine) {
                const json *found = nullptr;
                for (const json &c : (*outcome)["criteria"])
                    if (text(c["key"]) == key)
                        found = &c;
                if (found == nullptr) {
                    cells << "<td>-</td>";
                    continue;
                }
                title = text((*found)["title"]);
                limit = text((*found)["limit"]);
                const std::string mark = text((*found)["mark"]);
                cells << "<td>" << markupEscaped(text((*found)["measured"])) << " <span class=\"mark-" << mark
                      << "\">" << markupEscaped(mark) << "</span></td>";
            }
            page << "<tr><td>" << markupEscaped(title.empty() ? key : title) << "</td><td>"
                 << markupEscaped(limit.empty() ? "off" : limit) << "</td>" << cells.str() << "</tr>\n";
        }
        page << "<tr><td>verdict</td><td></td>";
        for (const Outcome *outcome : mine)
            page << "<td>" << markupEscaped(text((*outcome)["verdict"])) << "<br><small>"
                 << markupEscaped(text((*outcome)["reason"])) << "</small></td>";
        page << "</tr>\n</table>\n";
        // Per grid its plot and its figures per converter and segment.
        for (std::size_t k = 0; k < mine.size(); ++k) {
            const Outcome &outcome = *mine[k];
            page << "<h3>" << markupEscaped(test.title) << " - " << markupEscaped(labels[k]) << "</h3>\n";
            const std::string png = text(outcome.value("png", json()));
            std::string image;
            if (!png.empty()) {
                std::ifstream file(png, std::ios::binary);
                std::ostringstream bytes;
                bytes << file.rdbuf();
                image = bytes.str();
            }
            if (!image.empty())
                page << "<p><img alt=\"" << markupEscaped(test.name + " on " + labels[k])
                     << "\" src=\"data:image/png;base64," << base64(image) << "\"></p>\n";
            else
                page << "<p><small>no plot: "
                     << markupEscaped(text(outcome.value("plotProblem", json("not drawn"))))
                     << "</small></p>\n";
            const json &converters = outcome["converters"];
            for (std::size_t j = 0; j < converters.size(); ++j) {
                if (converters.size() > 1)
                    page << "<p>converter " << j << "</p>\n";
                page << "<table class=\"figures\">\n<tr><th>segment [s]</th><th>begins with</th><th>Vdc min "
                        "[V]</th>"
                        "<th>Vdc max [V]</th><th>settling [s]</th><th>peak I [pu]</th><th>rms I [pu]</th>"
                        "<th>THD [%]</th><th>I+ [pu]</th><th>I- [pu]</th><th>unbalance [%]</th>"
                        "<th>120 Hz [V pp]</th><th>PCC V- [%]</th><th>illegal</th><th>direct</th></tr>\n";
                for (const json &s : converters[j]) {
                    page << "<tr><td>" << fixed(s["start"].get<double>(), 3) << "-"
                         << fixed(s["end"].get<double>(), 3) << "</td><td>"
                         << markupEscaped(text(s["beginsWith"])) << "</td>";
                    const std::string cells[] = {figureCell(s["vdcMin"], 2),
                                                 figureCell(s["vdcMax"], 2),
                                                 s["settlingTime"].is_number()
                                                     ? figureCell(s["settlingTime"], 4)
                                                     : std::string("unsettled"),
                                                 figureCell(s["peakCurrentPu"], 3),
                                                 figureCell(s["steadyRmsPu"], 3),
                                                 figureCell(s["thd"], 1, 100.0),
                                                 figureCell(s["positiveSequencePu"], 3),
                                                 figureCell(s["negativeSequencePu"], 3),
                                                 figureCell(s["currentUnbalance"], 2),
                                                 figureCell(s["vdcRipple120"], 2),
                                                 figureCell(s["pccNegativeSequence"], 2),
                                                 std::to_string(s["illegalPatterns"].get<std::int64_t>()),
                                                 std::to_string(s["directChanges"].get<std::int64_t>())};
                    for (const std::string &cell : cells)
                        page << "<td class=\"num\">" << cell << "</td>";
                    page << "</tr>\n";
                }
                page << "</table>\n";
            }
        }
    }
    page << "</body>\n</html>\n";
    return writeWholeFile(path, page.str());
}

} // namespace kestrune::battery
