#include "battery_file.h"

#include "common/number_text.h"
#include "input_file.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kestrune::battery {

namespace {

using json = nlohmann::ordered_json;
namespace fs = std::filesystem;

bool isName(const std::string &name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-';
    });
}

// What every test takes unless it says otherwise: the battery's own keys.
struct Shared {
    json scenario;             // a name or an inline scenario; null for none
    json set = json::object(); // overrides
    std::optional<double> duration;
    json grids; // null: the stiff grid only
    json criteria = json::object();
};

// Reads a battery document; each problem names its place ("tests[3].grids[1]").
class Reader {
  public:
    Reader(std::string source, std::string scenarioDir)
        : source_(std::move(source)), scenarioDir_(std::move(scenarioDir)) {}

    std::string read(const json &document, Battery &out) {
        if (!document.is_object())
            return fail("", "must be a JSON object");
        Battery battery;
        battery.source = source_;
        Shared shared;
        const json *tests = nullptr;
        for (const auto &[key, value] : document.items()) {
            if (key == "name" || key == "description") {
                if (!value.is_string())
                    return fail(key, "must be a string");
                (key == "name" ? battery.name : battery.description) = value.get<std::string>();
            } else if (key == "text") {
                if (!readText(key, value, battery.text))
                    return error_;
            } else if (key == "scenario") {
                shared.scenario = value;
            } else if (key == "set") {
                shared.set = value;
            } else if (key == "duration") {
                if (!readPositive(key, value, shared.duration))
                    return error_;
            } else if (key == "grids") {
                shared.grids = value;
            } else if (key == "criteria") {
                shared.criteria = value;
            } else if (key == "tests") {
                tests = &value;
            } else {
                return fail(key,
                            "is not a battery key (name, description, text, scenario, set, duration, grids, "
                            "criteria, tests)");
            }
        }
        if (!isName(battery.name))
            return fail("name", battery.name.empty()
                                    ? "is missing: the battery's name names its output files"
                                    : "'" + battery.name + "' must be letters, digits, '_' and '-'");
        if (tests == nullptr || !tests->is_array() || tests->empty())
            return fail("tests", "must be a non-empty array of tests");
        Criteria defaults;
        if (!readCriteria("criteria", shared.criteria, defaults))
            return error_;
        for (std::size_t t = 0; t < tests->size(); ++t) {
            BatteryTest test;
            if (!readTest("tests[" + std::to_string(t) + "]", (*tests)[t], shared, defaults, test))
                return error_;
            for (const BatteryTest &earlier : battery.tests)
                if (earlier.name == test.name)
                    return fail("tests[" + std::to_string(t) + "].name",
                                "'" + test.name + "' names an earlier test already");
            battery.tests.push_back(std::move(test));
        }
        out = std::move(battery);
        return "";
    }

  private:
    std::string fail(const std::string &where, const std::string &problem) {
        error_ = source_ + ": " + (where.empty() ? "the document " : "\"" + where + "\" ") + problem;
        return error_;
    }

    bool readText(const std::string &where, const json &value, std::vector<std::string> &text) {
        if (value.is_string()) {
            text = {value.get<std::string>()};
            return true;
        }
        if (value.is_array() &&
            std::all_of(value.begin(), value.end(), [](const json &p) { return p.is_string(); })) {
            for (const json &p : value)
                text.push_back(p.get<std::string>());
            return true;
        }
        fail(where, "must be a string or an array of strings (paragraphs)");
        return false;
    }

    bool readPositive(const std::string &where, const json &value, std::optional<double> &out) {
        if (!value.is_number() || !(value.get<double>() > 0.0) || !std::isfinite(value.get<double>())) {
            fail(where, "must be a positive number of seconds");
            return false;
        }
        out = value.get<double>();
        return true;
    }

    // Starts from `criteria` and changes what the object names; null
    // switches a criterion off.
    bool readCriteria(const std::string &where, const json &object, Criteria &criteria) {
        if (!object.is_object()) {
            fail(where, "must be an object of criteria (noDivergence, noIllegal, peakCurrentPu, linkBand, "
                        "recoveryTime)");
            return false;
        }
        for (const auto &[key, value] : object.items()) {
            const std::string place = where + "." + key;
            if (key == "noDivergence" || key == "noIllegal") {
                if (!value.is_boolean()) {
                    fail(place, "must be true or false");
                    return false;
                }
                (key == "noDivergence" ? criteria.noDivergence : criteria.noIllegal) = value.get<bool>();
            } else if (key == "peakCurrentPu" || key == "recoveryTime") {
                std::optional<double> &target =
                    key == "peakCurrentPu" ? criteria.peakCurrentPu : criteria.recoveryTime;
                if (value.is_null()) {
                    target.reset();
                } else if (value.is_number() && value.get<double>() >= 0.0 &&
                           std::isfinite(value.get<double>())) {
                    target = value.get<double>();
                } else {
                    fail(place, std::string("must be a number of ") +
                                    (key == "peakCurrentPu" ? "pu" : "seconds") +
                                    ", 0 or more, or null to switch it off");
                    return false;
                }
            } else if (key == "linkBand") {
                if (value.is_null()) {
                    criteria.linkBand.reset();
                } else if (value.is_array() && value.size() == 2 && value[0].is_number() &&
                           value[1].is_number() && std::isfinite(value[0].get<double>()) &&
                           std::isfinite(value[1].get<double>()) &&
                           value[0].get<double>() < value[1].get<double>()) {
                    criteria.linkBand = std::array<double, 2>{value[0].get<double>(), value[1].get<double>()};
                } else {
                    fail(place, "must be [low, high] in volts with low below high, or null to switch it off");
                    return false;
                }
            } else {
                fail(place,
                     "is not a criterion (noDivergence, noIllegal, peakCurrentPu, linkBand, recoveryTime)");
                return false;
            }
        }
        return true;
    }

    bool readGrids(const std::string &where, const json &value, std::vector<GridStrength> &grids) {
        if (value.is_null()) {
            grids = {GridStrength{}};
            return true;
        }
        if (!value.is_array() || value.empty()) {
            fail(where, "must be a non-empty array of grid strengths: \"stiff\" or a short-circuit ratio");
            return false;
        }
        for (std::size_t g = 0; g < value.size(); ++g) {
            const json &item = value[g];
            GridStrength grid;
            if (item.is_string() && item.get<std::string>() == "stiff") {
            } else if (item.is_number() && item.get<double>() > 0.0 && std::isfinite(item.get<double>())) {
                grid.scr = item.get<double>();
            } else {
                fail(where + "[" + std::to_string(g) + "]",
                     "must be \"stiff\" or a short-circuit ratio above 0 (got " + item.dump() + ")");
                return false;
            }
            for (const GridStrength &earlier : grids)
                if (earlier.scr == grid.scr) {
                    fail(where + "[" + std::to_string(g) + "]", "repeats the grid " + grid.label());
                    return false;
                }
            grids.push_back(grid);
        }
        return true;
    }

    // The scenario as a JSON object: an inline one, or the file a name or
    // path leads to.
    bool scenarioDocument(const std::string &where, const json &value, json &document, std::string &from) {
        if (value.is_object()) {
            document = value;
            from = source_ + ": " + where;
            return true;
        }
        if (!value.is_string() || value.get<std::string>().empty()) {
            fail(where, "must be a scenario's name, a scenario file, or a scenario (an object)");
            return false;
        }
        const std::string name = value.get<std::string>();
        const bool byName = name.find('/') == std::string::npos && !name.ends_with(".json");
        const fs::path path =
            byName ? fs::path(scenarioDir_) / (name + ".json") : fs::path(source_).parent_path() / name;
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            fail(where, "'" + name + "': no such scenario (looked for " + path.string() + ")");
            return false;
        }
        std::ostringstream text;
        text << file.rdbuf();
        if (!sim::parseJsonText(text.str(), path.string(), document).empty())
            document = json(); // the scenario reader says what is wrong
        if (!document.is_object()) {
            sim::Scenario ignored;
            error_ = sim::parseScenario(text.str(), path.string(), ignored);
            if (error_.empty())
                fail(where, "'" + name + "' is no scenario");
            return false;
        }
        from = path.string();
        return true;
    }

    bool readTest(const std::string &where, const json &item, const Shared &shared, const Criteria &defaults,
                  BatteryTest &test) {
        if (!item.is_object()) {
            fail(where, "must be an object: name, scenario, events, grids, criteria, ...");
            return false;
        }
        json scenario = shared.scenario;
        std::string scenarioWhere = "scenario";
        json set = shared.set;
        std::string setWhere = "set";
        std::optional<double> duration = shared.duration;
        json grids = shared.grids;
        std::string gridsWhere = "grids";
        json events = json::array();
        std::optional<double> eventStart, eventEnd;
        test.criteria = defaults;
        const json *criteria = nullptr;
        for (const auto &[key, value] : item.items()) {
            const std::string place = where + "." + key;
            if (key == "name" || key == "title" || key == "text") {
                if (!value.is_string()) {
                    fail(place, "must be a string");
                    return false;
                }
                (key == "name"    ? test.name
                 : key == "title" ? test.title
                                  : test.text) = value.get<std::string>();
            } else if (key == "scenario") {
                scenario = value;
                scenarioWhere = place;
            } else if (key == "set") {
                set = json::object();
                for (const auto &[k, v] : shared.set.items())
                    set[k] = v;
                if (!value.is_object()) {
                    fail(place, "must be an object of parameter keys and values");
                    return false;
                }
                for (const auto &[k, v] : value.items())
                    set[k] = v;
                setWhere = place;
            } else if (key == "duration") {
                if (!readPositive(place, value, duration))
                    return false;
            } else if (key == "grids") {
                grids = value;
                gridsWhere = place;
            } else if (key == "events") {
                if (!value.is_array()) {
                    fail(place, "must be an array of events");
                    return false;
                }
                events = value;
            } else if (key == "eventStart" || key == "eventEnd") {
                std::optional<double> &target = key == "eventStart" ? eventStart : eventEnd;
                if (!value.is_number() || !(value.get<double>() >= 0.0) ||
                    !std::isfinite(value.get<double>())) {
                    fail(place, "must be a time in seconds, 0 or more");
                    return false;
                }
                target = value.get<double>();
            } else if (key == "criteria") {
                criteria = &value;
            } else {
                fail(place, "is not a test key (name, title, text, scenario, set, duration, grids, events, "
                            "eventStart, eventEnd, criteria)");
                return false;
            }
        }
        if (!isName(test.name)) {
            fail(where + ".name", test.name.empty()
                                      ? "is missing: a test's name names its files"
                                      : "'" + test.name + "' must be letters, digits, '_' and '-'");
            return false;
        }
        if (criteria != nullptr && !readCriteria(where + ".criteria", *criteria, test.criteria))
            return false;
        if (!readGrids(gridsWhere, grids, test.grids))
            return false;
        if (scenario.is_null()) {
            fail(where + ".scenario", "is missing (and the battery names no \"scenario\" for every test)");
            return false;
        }
        // The test's events alone first, so that a problem is named by its
        // place in the test.
        if (!events.empty()) {
            sim::Scenario alone;
            const json probe{{"name", "events"}, {"duration", 1e9}, {"events", events}};
            if (std::string problem = sim::parseScenario(probe.dump(), source_ + ": " + where, alone);
                !problem.empty()) {
                error_ = problem;
                return false;
            }
        }
        json document;
        std::string from;
        if (!scenarioDocument(scenarioWhere, scenario, document, from))
            return false;
        document["name"] = test.name;
        if (!test.title.empty())
            document["description"] = test.title;
        if (duration)
            document["duration"] = *duration;
        if (!events.empty()) {
            json merged = document.contains("events") && document["events"].is_array() ? document["events"]
                                                                                       : json::array();
            for (const json &event : events)
                merged.push_back(event);
            document["events"] = merged;
        }
        if (std::string problem =
                sim::parseScenario(document.dump(), from + " (test " + test.name + ")", test.scenario);
            !problem.empty()) {
            error_ = problem;
            return false;
        }
        std::stable_sort(
            test.scenario.events.begin(), test.scenario.events.end(),
            [](const sim::ScenarioEvent &a, const sim::ScenarioEvent &b) { return a.time < b.time; });
        for (const auto &[key, value] : set.items()) {
            std::string text;
            if (value.is_boolean())
                text = value.get<bool>() ? "true" : "false";
            else if (value.is_number())
                text = value.dump();
            else {
                fail(setWhere + "." + key, "must be a number (or true/false for splitLink)");
                return false;
            }
            if (std::string problem = sim::applyOverride(test.scenario, key, text); !problem.empty()) {
                fail(setWhere + "." + key, problem);
                return false;
            }
        }
        if (std::string problem = sim::validateScenario(test.scenario); !problem.empty()) {
            fail(where, problem);
            return false;
        }
        // The event's span: the test's own events unless it names it.
        double first = test.scenario.duration, last = 0.0;
        for (const json &event : events)
            if (event.contains("time") && event["time"].is_number()) {
                first = std::min(first, event["time"].get<double>());
                last = std::max(last, event["time"].get<double>());
            }
        if (events.empty() && (!eventStart || !eventEnd)) {
            fail(where,
                 "has no events of its own: give \"eventStart\" and \"eventEnd\" for the criteria's span");
            return false;
        }
        test.eventStart = eventStart.value_or(first);
        test.eventEnd = eventEnd.value_or(events.size() > 1 ? last : test.scenario.duration);
        if (!(test.eventEnd > test.eventStart)) {
            fail(where + (eventEnd ? ".eventEnd" : ".events"),
                 "leaves the event no span: it ends at " + numberText(test.eventEnd) +
                     " s, not after its start at " + numberText(test.eventStart) + " s");
            return false;
        }
        if (!(test.eventStart < test.scenario.duration)) {
            fail(where + (eventStart ? ".eventStart" : ".events"),
                 "starts the event at " + numberText(test.eventStart) + " s, not before the run's end at " +
                     numberText(test.scenario.duration) + " s");
            return false;
        }
        if (test.title.empty())
            test.title = test.name;
        return true;
    }

    std::string source_;
    std::string scenarioDir_;
    std::string error_;
};

} // namespace

std::string GridStrength::label() const {
    return scr ? "SCR " + numberText(*scr, 6) : std::string("stiff");
}

std::string GridStrength::tag() const {
    if (!scr)
        return "stiff";
    std::string text = "scr" + numberText(*scr, 6);
    std::replace(text.begin(), text.end(), '.', 'p');
    std::replace(text.begin(), text.end(), '+', '_');
    return text;
}

std::vector<Battery::Run> Battery::runs() const {
    std::vector<Run> list;
    for (std::size_t t = 0; t < tests.size(); ++t)
        for (std::size_t g = 0; g < tests[t].grids.size(); ++g)
            list.push_back({t, g});
    return list;
}

sim::Scenario Battery::runScenario(const Run &run) const {
    const BatteryTest &test = tests[run.test];
    sim::Scenario scenario = test.scenario;
    scenario.grid.scr = test.grids[run.grid].scr;
    scenario.name = test.name + "-" + test.grids[run.grid].tag();
    return scenario;
}

std::string parseBattery(const std::string &text, const std::string &source, const std::string &scenarioDir,
                         Battery &battery) {
    json document;
    if (std::string problem = sim::parseJsonText(text, source, document); !problem.empty())
        return problem;
    return Reader(source, scenarioDir).read(document, battery);
}

std::string loadBattery(const std::string &nameOrPath, const std::string &batteryDir,
                        const std::string &scenarioDir, Battery &battery) {
    bool byName = false;
    const fs::path path = sim::inputFilePath(nameOrPath, batteryDir, byName);
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
        if (!byName)
            return path.string() + ": no such battery file";
        std::string known;
        for (const auto &entry : fs::directory_iterator(batteryDir, ec))
            if (entry.path().extension() == ".json")
                known += (known.empty() ? "" : ", ") + entry.path().stem().string();
        return "unknown battery '" + nameOrPath + "' (" +
               (known.empty() ? "none in " + batteryDir : "known in " + batteryDir + ": " + known) + ")";
    }
    std::string text;
    if (std::string problem = sim::readInputFile(path, text); !problem.empty())
        return problem;
    return parseBattery(text, path.string(), scenarioDir, battery);
}

} // namespace kestrune::battery
