#include "scenario.h"
#include "common/number_text.h"
#include "input_file.h"
#include "plant/parameter_rules.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>

namespace kestrune::sim {

namespace {

using plant::EventKind;
using plant::PlantParameters;

constexpr double DEGREES = std::numbers::pi / 180.0; // [rad/deg]

using plant::DEPTH_MAX;
using plant::HARMONIC_ORDER_MAX;
using plant::Range;
using plant::rangeProblem;

struct RealField {
    const char *key;
    double PlantParameters::*member;
    double scale; // written value * scale = stored value
    Range range;
};

const RealField REAL_FIELDS[] = {
    {"gridPhasePeak", &PlantParameters::gridPhasePeak, 1.0, Range::NonNegative},
    {"gridFrequency", &PlantParameters::gridFrequency, 1.0, Range::Positive},
    {"gridAngle", &PlantParameters::gridAngle, DEGREES, Range::Any},
    {"inductance", &PlantParameters::inductance, 1.0, Range::Positive},
    {"resistance", &PlantParameters::resistance, 1.0, Range::NonNegative},
    {"turnsRatio", &PlantParameters::turnsRatio, 1.0, Range::Positive},
    {"capacitance", &PlantParameters::capacitance, 1.0, Range::Positive},
    {"loadPower", &PlantParameters::loadPower, 1.0, Range::NonNegative},
    {"precharge", &PlantParameters::precharge, 1.0, Range::NonNegative},
};

constexpr const char *SPLIT_LINK = "splitLink";

const RealField *findReal(std::string_view key) {
    for (const RealField &field : REAL_FIELDS)
        if (key == field.key)
            return &field;
    return nullptr;
}

struct KindName {
    const char *name;
    EventKind kind;
    Range range;
};

// The kinds with one "value"; the others have keys of their own.
const KindName KINDS[] = {
    {"frequency", EventKind::Frequency, Range::Positive},
    {"phase_jump", EventKind::PhaseJump, Range::Any},
    {"sag", EventKind::Sag, Range::NonNegative},
    {"load", EventKind::Load, Range::NonNegative},
    {"dip", EventKind::Dip, Range::Any},
    {"profile", EventKind::Profile, Range::Any},
    {"harmonics", EventKind::Harmonics, Range::Any},
    {"frequency_ramp", EventKind::FrequencyRamp, Range::Any},
};

bool hasValue(EventKind kind) {
    return kind == EventKind::Frequency || kind == EventKind::PhaseJump || kind == EventKind::Sag ||
           kind == EventKind::Load;
}

// The keys of an event of each kind, as messages list them.
const char *eventKeys(EventKind kind) {
    switch (kind) {
    case EventKind::Dip:
        return "time, kind, type, depth, phase";
    case EventKind::Profile:
        return "time, kind, type, phase, points";
    case EventKind::Harmonics:
        return "time, kind, components";
    case EventKind::FrequencyRamp:
        return "time, kind, rate, to";
    default:
        return "time, kind, value, converter";
    }
}

const char *const DIP_TYPES[] = {"A", "B", "C", "D", "E", "F", "G"};

const char *const GRID_KEYS[] = {"gridPhasePeak", "gridFrequency", "gridAngle"};

using nlohmann::json;

// Reading a JSON document, each problem names where it is ("events[2].time").
class Reader {
  public:
    explicit Reader(std::string source) : source_(std::move(source)) {}

    std::string read(const json &document, Scenario &out) {
        if (!document.is_object())
            return fail("", "must be a JSON object");
        Scenario scenario;
        scenario.source = source_;
        const json *converters = nullptr;
        bool haveName = false;
        bool haveDuration = false;
        for (const auto &[key, value] : document.items()) {
            if (key == "name") {
                if (!value.is_string())
                    return fail(key, "must be a string");
                scenario.name = value.get<std::string>();
                haveName = true;
            } else if (key == "description") {
                if (!value.is_string())
                    return fail(key, "must be a string");
                scenario.description = value.get<std::string>();
            } else if (key == "duration") {
                if (!readReal(key, value, Range::Positive, scenario.duration))
                    return error_;
                haveDuration = true;
            } else if (key == "parameters") {
                if (!readParameters(value, scenario.parameters))
                    return error_;
            } else if (key == "events") {
                if (!readEvents(value, scenario.events))
                    return error_;
            } else if (key == "grid") {
                if (!readGrid(value, scenario.grid))
                    return error_;
            } else if (key == "converters") {
                if (!value.is_array() || value.empty())
                    return fail(key, "must be a non-empty array of converters (objects of parameters)");
                converters = &value;
            } else {
                return fail(key, "is not a scenario key (name, description, duration, parameters, grid, "
                                 "converters, events)");
            }
        }
        // Each converter starts from the scenario's parameters, read by now
        // whatever the keys' order.
        if (converters != nullptr) {
            for (std::size_t j = 0; j < converters->size(); ++j) {
                plant::PlantParameters p = scenario.parameters;
                if (!readParameters((*converters)[j], p, "converters[" + std::to_string(j) + "]"))
                    return error_;
                scenario.converters.push_back(p);
            }
        }
        const std::size_t count = converterCount(scenario);
        for (std::size_t i = 0; i < scenario.events.size(); ++i) {
            const ScenarioEvent &event = scenario.events[i];
            const std::string where = "events[" + std::to_string(i) + "]";
            if (event.converter >= 0 && static_cast<std::size_t>(event.converter) >= count)
                return fail(where + ".converter", "is " + std::to_string(event.converter) +
                                                      ", but the scenario has " + std::to_string(count) +
                                                      " converter" + (count == 1 ? "" : "s") +
                                                      " (numbered from 0)");
            if (event.kind == EventKind::Load && event.converter < 0 && count > 1)
                return fail(where, "is a load event of a scenario with several converters: it must name its "
                                   "\"converter\"");
        }
        if (const std::optional<EventProblem> problem = rampProblem(scenario))
            return fail("events[" + std::to_string(problem->index) + "]." + problem->where, problem->what);
        if (!haveName)
            return fail("name", "is missing");
        if (!haveDuration)
            return fail("duration", "is missing");
        if (std::string problem = checkName(scenario.name); !problem.empty())
            return fail("name", problem);
        for (std::size_t i = 0; i < scenario.events.size(); ++i)
            if (!(scenario.events[i].time < scenario.duration))
                return fail("events[" + std::to_string(i) + "].time",
                            "is " + numberText(scenario.events[i].time) +
                                " s, not before the end of the run (" + numberText(scenario.duration) +
                                " s)");
        out = std::move(scenario);
        return "";
    }

  private:
    std::string fail(const std::string &where, const std::string &what) {
        error_ =
            source_ + ": " + (where.empty() ? std::string("the document") : "\"" + where + "\"") + " " + what;
        return error_;
    }

    static std::string checkName(const std::string &name) {
        if (name.empty())
            return "must not be empty";
        for (const char c : name)
            if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-'))
                return "\"" + name +
                       "\" may hold only letters, digits, '_' and '-' (it names the output files)";
        return "";
    }

    bool readReal(const std::string &where, const json &value, Range range, double &out) {
        if (!value.is_number()) {
            fail(where, "must be a number");
            return false;
        }
        const double v = value.get<double>();
        if (std::string problem = rangeProblem(v, range); !problem.empty()) {
            fail(where, problem);
            return false;
        }
        out = v;
        return true;
    }

    // The scenario's parameters (every key) or a converter's (its own keys,
    // not the grid's), named by `place` in messages.
    bool readParameters(const json &object, PlantParameters &parameters,
                        const std::string &place = "parameters") {
        const bool converter = place != "parameters";
        if (!object.is_object()) {
            fail(place, "must be an object of parameter names and values");
            return false;
        }
        for (const auto &[key, value] : object.items()) {
            const std::string where = place + "." + key;
            if (converter && isGridKey(key)) {
                fail(where, "is the grid's, the same for every converter: give it in \"parameters\"");
                return false;
            }
            if (key == SPLIT_LINK) {
                if (!value.is_boolean()) {
                    fail(where, "must be true or false");
                    return false;
                }
                parameters.splitLink = value.get<bool>();
            } else if (const RealField *field = findReal(key)) {
                double written = 0.0;
                if (!readReal(where, value, field->range, written))
                    return false;
                parameters.*(field->member) = written * field->scale;
            } else {
                fail(where, "is not a plant parameter (" + keyList() + ")");
                return false;
            }
        }
        return true;
    }

    bool readGrid(const json &object, GridSection &grid) {
        if (!object.is_object()) {
            fail("grid", "must be an object with scr and xOverR");
            return false;
        }
        for (const auto &[key, value] : object.items()) {
            if (key == "scr") {
                double scr = 0.0;
                if (!readReal("grid.scr", value, Range::Positive, scr))
                    return false;
                grid.scr = scr;
            } else if (key == "xOverR") {
                if (!readReal("grid.xOverR", value, Range::NonNegative, grid.xOverR))
                    return false;
            } else {
                fail("grid." + key, "is not a grid key (scr, xOverR)");
                return false;
            }
        }
        return true;
    }

    bool readEvents(const json &array, std::vector<ScenarioEvent> &events) {
        if (!array.is_array()) {
            fail("events", "must be an array of events");
            return false;
        }
        for (std::size_t i = 0; i < array.size(); ++i) {
            const std::string where = "events[" + std::to_string(i) + "]";
            const json &item = array[i];
            if (!item.is_object()) {
                fail(where, "must be an object with time, kind and value");
                return false;
            }
            ScenarioEvent event;
            const KindName *kind = nullptr;
            if (const auto named = item.find("kind"); named != item.end()) {
                if (!named->is_string()) {
                    fail(where + ".kind", "must be a string");
                    return false;
                }
                const std::string name = named->get<std::string>();
                for (const KindName &k : KINDS)
                    if (name == k.name)
                        kind = &k;
                if (kind == nullptr) {
                    fail(where + ".kind",
                         "\"" + name +
                             "\" is not an event kind (frequency, phase_jump, sag, load, dip, "
                             "profile, harmonics, frequency_ramp)");
                    return false;
                }
            }
            // The kinds with a value, and an event without a kind, take
            // today's keys.
            const EventKind k = kind != nullptr ? kind->kind : EventKind::Load;
            bool haveTime = false;
            std::vector<std::string> seen;
            json valueItem;
            for (const auto &[key, value] : item.items()) {
                const std::string place = where + "." + key;
                if (key == "time") {
                    if (!readReal(place, value, Range::NonNegative, event.time))
                        return false;
                    haveTime = true;
                } else if (key == "kind") {
                    // read above
                } else if (key == "converter") {
                    if (!value.is_number_integer() || value.get<std::int64_t>() < 0 ||
                        value.get<std::int64_t>() > 1000000) {
                        fail(place, "must be a converter's index: 0, 1, ...");
                        return false;
                    }
                    event.converter = static_cast<int>(value.get<std::int64_t>());
                } else if (key == "value" && hasValue(k)) {
                    valueItem = value;
                } else if ((key == "type" || key == "phase") &&
                           (k == EventKind::Dip || k == EventKind::Profile)) {
                    if (!(key == "type" ? readDipType(place, value, event.dip)
                                        : readSpecialPhase(place, value, event.special)))
                        return false;
                } else if (key == "depth" && k == EventKind::Dip) {
                    if (!readDepth(place, value, event.value))
                        return false;
                } else if (key == "points" && k == EventKind::Profile) {
                    if (!readProfile(place, value, event.profile))
                        return false;
                } else if (key == "components" && k == EventKind::Harmonics) {
                    if (!readHarmonics(place, value, event.harmonics))
                        return false;
                } else if (key == "rate" && k == EventKind::FrequencyRamp) {
                    if (!readReal(place, value, Range::Any, event.value))
                        return false;
                    if (event.value == 0.0) {
                        fail(place, "must not be 0");
                        return false;
                    }
                } else if (key == "to" && k == EventKind::FrequencyRamp) {
                    if (!readReal(place, value, Range::Positive, event.target))
                        return false;
                } else {
                    fail(place, kind == nullptr || hasValue(k)
                                    ? std::string("is not an event key (time, kind, value, converter)")
                                    : std::string("is not a key of a ") + kind->name + " event (" +
                                          eventKeys(k) + ")");
                    return false;
                }
                seen.push_back(key);
            }
            if (event.converter >= 0 && kind != nullptr && kind->kind != EventKind::Load) {
                fail(where + ".converter", std::string("names a converter, but a ") + kind->name +
                                               " event concerns the whole grid");
                return false;
            }
            auto has = [&seen](const char *key) {
                return std::find(seen.begin(), seen.end(), key) != seen.end();
            };
            const char *missing = !haveTime                   ? "time"
                                  : kind == nullptr           ? "kind"
                                  : hasValue(k)               ? (has("value") ? nullptr : "value")
                                  : k == EventKind::Dip       ? (!has("type")    ? "type"
                                                                 : !has("depth") ? "depth"
                                                                                 : nullptr)
                                  : k == EventKind::Profile   ? (has("points") ? nullptr : "points")
                                  : k == EventKind::Harmonics ? (has("components") ? nullptr : "components")
                                  : !has("rate")              ? "rate"
                                  : !has("to")                ? "to"
                                                              : nullptr;
            if (missing != nullptr) {
                fail(where, std::string("lacks its ") + missing);
                return false;
            }
            event.kind = kind->kind;
            if (hasValue(k) && !readReal(where + ".value", valueItem, kind->range, event.value))
                return false;
            if (!events.empty() && event.time < events.back().time) {
                fail(where + ".time", "is " + numberText(event.time) + " s, before the event ahead of it (" +
                                          numberText(events.back().time) + " s): events go in time order");
                return false;
            }
            events.push_back(std::move(event));
        }
        return true;
    }

    bool readDipType(const std::string &where, const json &value, plant::DipType &type) {
        if (value.is_string())
            for (std::size_t t = 0; t < std::size(DIP_TYPES); ++t)
                if (value.get<std::string>() == DIP_TYPES[t]) {
                    type = static_cast<plant::DipType>(t);
                    return true;
                }
        fail(where, "must be a dip type: \"A\", \"B\", \"C\", \"D\", \"E\", \"F\" or \"G\"");
        return false;
    }

    bool readSpecialPhase(const std::string &where, const json &value, int &special) {
        const char *const phases[] = {"a", "b", "c"};
        if (value.is_string())
            for (int p = 0; p < 3; ++p)
                if (value.get<std::string>() == phases[p]) {
                    special = p;
                    return true;
                }
        fail(where, "must be \"a\", \"b\" or \"c\": the phase the dip singles out");
        return false;
    }

    bool readDepth(const std::string &where, const json &value, double &depth) {
        if (!readReal(where, value, Range::NonNegative, depth))
            return false;
        if (depth > DEPTH_MAX) {
            fail(where, "must lie within 0-2 (got " + numberText(depth) + ")");
            return false;
        }
        return true;
    }

    // [[0, h0], [t1, h1], ...]: times from the event, from 0, strictly
    // increasing.
    bool readProfile(const std::string &where, const json &value, std::vector<plant::ProfilePoint> &points) {
        if (!value.is_array() || value.empty()) {
            fail(where, "must be a non-empty array of [time, depth] points");
            return false;
        }
        for (std::size_t j = 0; j < value.size(); ++j) {
            const std::string place = where + "[" + std::to_string(j) + "]";
            const json &point = value[j];
            if (!point.is_array() || point.size() != 2) {
                fail(place, "must be a point [time, depth]: seconds from the event and the retained voltage");
                return false;
            }
            plant::ProfilePoint p{};
            if (!readReal(place + "[0]", point[0], Range::NonNegative, p.time) ||
                !readDepth(place + "[1]", point[1], p.depth))
                return false;
            if (j == 0 && p.time != 0.0) {
                fail(place + "[0]",
                     "is " + numberText(p.time) + " s: the first point is at 0, the event's time");
                return false;
            }
            if (j > 0 && !(p.time > points.back().time)) {
                fail(place + "[0]", "is " + numberText(p.time) + " s, not after the point ahead of it (" +
                                        numberText(points.back().time) + " s): times increase strictly");
                return false;
            }
            points.push_back(p);
        }
        return true;
    }

    bool readHarmonics(const std::string &where, const json &value, std::vector<plant::Harmonic> &harmonics) {
        if (!value.is_array()) {
            fail(where, "must be an array of components {\"order\", \"magnitude\", \"phase\"} (empty: none)");
            return false;
        }
        for (std::size_t j = 0; j < value.size(); ++j) {
            const std::string place = where + "[" + std::to_string(j) + "]";
            const json &item = value[j];
            if (!item.is_object()) {
                fail(place, "must be an object with order, magnitude and phase");
                return false;
            }
            plant::Harmonic h{0, 0.0, 0.0};
            bool haveOrder = false;
            bool haveMagnitude = false;
            for (const auto &[key, field] : item.items()) {
                if (key == "order") {
                    if (!field.is_number_integer() || field.get<std::int64_t>() < 2 ||
                        field.get<std::int64_t>() > HARMONIC_ORDER_MAX) {
                        fail(place + ".order",
                             "must be an integer from 2 to " + std::to_string(HARMONIC_ORDER_MAX));
                        return false;
                    }
                    h.order = static_cast<int>(field.get<std::int64_t>());
                    haveOrder = true;
                } else if (key == "magnitude") {
                    if (!readReal(place + ".magnitude", field, Range::NonNegative, h.magnitude))
                        return false;
                    haveMagnitude = true;
                } else if (key == "phase") {
                    if (!readReal(place + ".phase", field, Range::Any, h.phase))
                        return false;
                } else {
                    fail(place + "." + key, "is not a key of a harmonic (order, magnitude, phase)");
                    return false;
                }
            }
            if (!haveOrder || !haveMagnitude) {
                fail(place, std::string("lacks its ") + (!haveOrder ? "order" : "magnitude"));
                return false;
            }
            harmonics.push_back(h);
        }
        return true;
    }

    static std::string keyList() {
        std::string list;
        for (const ParameterKey &key : parameterKeys())
            list += (list.empty() ? "" : ", ") + std::string(key.key);
        return list;
    }

    std::string source_;
    std::string error_;
};

} // namespace

const char *eventKindName(EventKind kind) {
    for (const KindName &k : KINDS)
        if (k.kind == kind)
            return k.name;
    return "?";
}

const std::vector<ParameterKey> &parameterKeys() {
    static const std::vector<ParameterKey> keys{
        {"gridPhasePeak", "V", "grid phase peak A"},
        {"gridFrequency", "Hz", "grid frequency at t = 0"},
        {"gridAngle", "deg", "grid angle theta at t = 0"},
        {"inductance", "H", "series inductance, 600 V side"},
        {"resistance", "ohm", "series resistance, 600 V side"},
        {"turnsRatio", "", "transformer ratio n, 600 V side / converter side"},
        {"capacitance", "F", "DC-link capacitance C"},
        {"loadPower", "W", "DC load at 500 V: R_load = 500^2 / P"},
        {"precharge", "V", "DC-link voltage at t = 0"},
        {SPLIT_LINK, "", "true: two link halves of 2C each, V1 and V2 in the CSV"},
    };
    return keys;
}

bool isParameterKey(std::string_view key) {
    return key == SPLIT_LINK || findReal(key) != nullptr;
}

std::string setParameter(PlantParameters &parameters, std::string_view key, std::string_view text) {
    if (key == SPLIT_LINK) {
        if (text == "true" || text == "1")
            parameters.splitLink = true;
        else if (text == "false" || text == "0")
            parameters.splitLink = false;
        else
            return "splitLink takes true or false, not '" + std::string(text) + "'";
        return "";
    }
    const RealField *field = findReal(key);
    if (field == nullptr)
        return std::string(key).insert(0, 1, '\'') + "' is not a plant parameter";
    const std::optional<double> value = parseReal(text);
    if (!value)
        return std::string(key) + " takes a finite number, not '" + std::string(text) + "'";
    parameters.*(field->member) = *value * field->scale;
    return "";
}

double parameterValue(const PlantParameters &parameters, std::string_view key) {
    if (key == SPLIT_LINK)
        return parameters.splitLink ? 1.0 : 0.0;
    const RealField *field = findReal(key);
    if (field == nullptr)
        return std::nan("");
    return parameters.*(field->member) / field->scale;
}

std::string validateParameters(const PlantParameters &parameters) {
    for (const RealField &field : REAL_FIELDS)
        if (std::string problem = rangeProblem(parameters.*(field.member), field.range); !problem.empty())
            return std::string(field.key) + " " + problem;
    return "";
}

std::string parseScenario(const std::string &text, const std::string &source, Scenario &scenario) {
    json document;
    if (std::string problem = sim::parseJsonText(text, source, document); !problem.empty())
        return problem;
    return Reader(source).read(document, scenario);
}

std::string loadScenario(const std::string &nameOrPath, const std::string &directory, Scenario &scenario) {
    namespace fs = std::filesystem;
    bool byName = false;
    const fs::path path = sim::inputFilePath(nameOrPath, directory, byName);
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
        if (!byName)
            return path.string() + ": no such scenario file";
        std::string known;
        for (const std::string &name : scenarioNames(directory))
            known += (known.empty() ? "" : ", ") + name;
        return "unknown scenario '" + nameOrPath + "' (" +
               (known.empty() ? "no scenarios in " + directory : "known in " + directory + ": " + known) +
               ")";
    }
    std::string text;
    if (std::string problem = sim::readInputFile(path, text); !problem.empty())
        return problem;
    return parseScenario(text, path.string(), scenario);
}

std::vector<std::string> scenarioNames(const std::string &directory) {
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().extension() == ".json")
            names.push_back(it->path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<plant::GridEvent> plantEvents(const Scenario &scenario) {
    std::vector<plant::GridEvent> events;
    events.reserve(scenario.events.size());
    for (const ScenarioEvent &event : scenario.events) {
        plant::GridEvent e{event.time, event.kind,
                           event.kind == EventKind::PhaseJump ? event.value * DEGREES : event.value,
                           event.converter};
        e.dip = event.dip;
        e.special = event.special;
        e.target = event.target;
        e.profile = event.profile;
        e.harmonics = event.harmonics;
        for (plant::Harmonic &h : e.harmonics)
            h.phase *= DEGREES;
        events.push_back(std::move(e));
    }
    return events;
}

const char *dipTypeName(plant::DipType type) {
    const auto index = static_cast<std::size_t>(type);
    return index < std::size(DIP_TYPES) ? DIP_TYPES[index] : "?";
}

std::optional<EventProblem> rampProblem(const Scenario &scenario) {
    // The frequency as the plant follows it: events on their base steps, a
    // ramp moving it from its start until it reaches its target.
    double frequency = scenario.parameters.gridFrequency;
    bool ramping = false;
    double rate = 0.0;
    double target = 0.0;
    double since = 0.0;
    for (std::size_t i = 0; i < scenario.events.size(); ++i) {
        const ScenarioEvent &event = scenario.events[i];
        const double at = static_cast<double>(plant::stepIndexAtOrAfter(event.time)) * BASE_STEP;
        if (ramping) {
            const double moved = frequency + rate * (at - since);
            frequency = rate > 0.0 ? std::min(moved, target) : std::max(moved, target);
            since = at;
        }
        if (event.kind == EventKind::Frequency) {
            frequency = event.value;
            ramping = false;
        } else if (event.kind == EventKind::FrequencyRamp) {
            if ((event.target - frequency) * event.value < 0.0)
                return EventProblem{i, "rate",
                                    "is " + numberText(event.value) + " Hz/s, away from \"to\" (" +
                                        numberText(event.target) + " Hz) from the " + numberText(frequency) +
                                        " Hz the grid has at " + numberText(at) +
                                        " s: the ramp would never reach it"};
            ramping = true;
            rate = event.value;
            target = event.target;
            since = at;
        }
    }
    return std::nullopt;
}

bool isGridKey(std::string_view key) {
    return std::find(std::begin(GRID_KEYS), std::end(GRID_KEYS), key) != std::end(GRID_KEYS);
}

std::vector<plant::PlantParameters> converterParameters(const Scenario &scenario) {
    if (scenario.converters.empty())
        return {scenario.parameters};
    std::vector<plant::PlantParameters> list = scenario.converters;
    for (plant::PlantParameters &p : list) {
        p.gridPhasePeak = scenario.parameters.gridPhasePeak;
        p.gridFrequency = scenario.parameters.gridFrequency;
        p.gridAngle = scenario.parameters.gridAngle;
    }
    return list;
}

std::size_t converterCount(const Scenario &scenario) {
    return scenario.converters.empty() ? 1 : scenario.converters.size();
}

plant::GridImpedance scenarioImpedance(const Scenario &scenario) {
    if (!scenario.grid.scr)
        return {};
    return plant::gridImpedance(*scenario.grid.scr, scenario.grid.xOverR, converterCount(scenario));
}

namespace {

// A key of the form "LIST[J].KEY" split into J and KEY.
struct ConverterKey {
    std::size_t index;
    std::string_view key;
};

// PREFIX then "J].KEY", split into J and KEY; nullopt when the key has another form.
std::optional<ConverterKey> indexedKey(std::string_view key, std::string_view prefix) {
    if (!key.starts_with(prefix))
        return std::nullopt;
    key.remove_prefix(prefix.size());
    const std::size_t close = key.find("].");
    if (close == std::string_view::npos || close == 0 || close > 6)
        return std::nullopt;
    std::size_t index = 0;
    const auto [end, ec] = std::from_chars(key.data(), key.data() + close, index);
    if (ec != std::errc{} || end != key.data() + close)
        return std::nullopt;
    return ConverterKey{index, key.substr(close + 2)};
}

// "converters[J].KEY" split into J and KEY.
std::optional<ConverterKey> converterKey(std::string_view key) {
    return indexedKey(key, "converters[");
}

// "events[I].time" or "events[I].value" split into I and the field.
std::optional<ConverterKey> eventKey(std::string_view key) {
    const std::optional<ConverterKey> event = indexedKey(key, "events[");
    if (event && event->key != "time" && event->key != "value")
        return std::nullopt;
    return event;
}

} // namespace

std::string checkOverrideKey(std::string_view key) {
    if (key == "grid.scr" || key == "grid.xOverR" || isParameterKey(key))
        return "";
    if (key.starts_with("grid."))
        return "'" + std::string(key) + "' is not a grid key (grid.scr, grid.xOverR)";
    if (const std::optional<ConverterKey> c = converterKey(key)) {
        if (isGridKey(c->key))
            return "'" + std::string(key) + "': " + std::string(c->key) +
                   " is the grid's, the same for every converter; set it without converters[J].";
        if (isParameterKey(c->key))
            return "";
        return "'" + std::string(key) + "': '" + std::string(c->key) + "' is not a plant parameter";
    }
    if (key.starts_with("converters"))
        return "'" + std::string(key) + "' is not of the form converters[J].KEY";
    if (eventKey(key))
        return "";
    if (key.starts_with("events"))
        return "'" + std::string(key) + "' is not of the form events[I].time or events[I].value";
    std::string keys;
    for (const ParameterKey &k : parameterKeys())
        keys += (keys.empty() ? "" : ", ") + std::string(k.key);
    return "'" + std::string(key) + "' is not a plant parameter (" + keys +
           "; or grid.scr, grid.xOverR, converters[J].KEY, events[I].time, events[I].value)";
}

std::string applyOverride(Scenario &scenario, std::string_view key, std::string_view text) {
    if (std::string problem = checkOverrideKey(key); !problem.empty())
        return problem;
    if (key == "grid.scr" || key == "grid.xOverR") {
        const std::optional<double> value = parseReal(text);
        if (!value)
            return std::string(key) + " takes a finite number, not '" + std::string(text) + "'";
        if (key == "grid.scr")
            scenario.grid.scr = *value;
        else
            scenario.grid.xOverR = *value;
        return "";
    }
    if (const std::optional<ConverterKey> e = eventKey(key)) {
        const std::size_t count = scenario.events.size();
        if (e->index >= count)
            return "'" + std::string(key) + "': the scenario has " + std::to_string(count) + " event" +
                   (count == 1 ? "" : "s") + " (numbered from 0)";
        const std::optional<double> value = parseReal(text);
        if (!value)
            return std::string(key) + " takes a finite number, not '" + std::string(text) + "'";
        (e->key == "time" ? scenario.events[e->index].time : scenario.events[e->index].value) = *value;
        return "";
    }
    if (const std::optional<ConverterKey> c = converterKey(key)) {
        const std::size_t count = converterCount(scenario);
        if (c->index >= count)
            return "'" + std::string(key) + "': the scenario has " + std::to_string(count) + " converter" +
                   (count == 1 ? "" : "s") + " (numbered from 0)";
        if (scenario.converters.empty())
            return setParameter(scenario.parameters, c->key, text);
        return setParameter(scenario.converters[c->index], c->key, text);
    }
    if (std::string problem = setParameter(scenario.parameters, key, text); !problem.empty())
        return problem;
    if (!isGridKey(key))
        for (plant::PlantParameters &p : scenario.converters)
            setParameter(p, key, text);
    return "";
}

std::string validateScenario(const Scenario &scenario) {
    if (std::string problem = validateParameters(scenario.parameters); !problem.empty())
        return problem;
    for (std::size_t j = 0; j < scenario.converters.size(); ++j)
        if (std::string problem = validateParameters(scenario.converters[j]); !problem.empty())
            return "converters[" + std::to_string(j) + "]." + problem;
    if (scenario.grid.scr)
        if (std::string problem = rangeProblem(*scenario.grid.scr, Range::Positive); !problem.empty())
            return "grid.scr " + problem;
    if (std::string problem = rangeProblem(scenario.grid.xOverR, Range::NonNegative); !problem.empty())
        return "grid.xOverR " + problem;
    // Events changed by --set stay in time order, within the run, and
    // their values within their kind's range.
    for (std::size_t i = 0; i < scenario.events.size(); ++i) {
        const ScenarioEvent &event = scenario.events[i];
        const std::string where = "events[" + std::to_string(i) + "]";
        if (std::string problem = rangeProblem(event.time, Range::NonNegative); !problem.empty())
            return where + ".time " + problem;
        if (i > 0 && event.time < scenario.events[i - 1].time)
            return where + ".time is " + numberText(event.time) + " s, before the event ahead of it (" +
                   numberText(scenario.events[i - 1].time) + " s): events go in time order";
        if (!(event.time < scenario.duration))
            return where + ".time is " + numberText(event.time) + " s, not before the end of the run (" +
                   numberText(scenario.duration) + " s)";
        for (const KindName &k : KINDS)
            if (k.kind == event.kind)
                if (std::string problem = rangeProblem(event.value, k.range); !problem.empty())
                    return where + ".value " + problem;
        if (event.kind == EventKind::Dip && !(event.value >= 0.0 && event.value <= DEPTH_MAX))
            return where + ".value must lie within 0-2 (got " + numberText(event.value) + "): a dip's depth";
        if (event.kind == EventKind::FrequencyRamp && (!std::isfinite(event.value) || event.value == 0.0))
            return where + ".value must be a finite rate other than 0 (got " + numberText(event.value) +
                   " Hz/s)";
    }
    // A --set gridFrequency, or a ramp's rate set on the command line, can
    // turn a ramp away from its target.
    if (const std::optional<EventProblem> problem = rampProblem(scenario))
        return "events[" + std::to_string(problem->index) + "]." + problem->where + " " + problem->what;
    return "";
}

std::optional<double> parseReal(std::string_view text) {
    if (text.starts_with('+'))
        text.remove_prefix(1);
    if (text.empty() || text.front() == '+')
        return std::nullopt;
    double value = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace kestrune::sim
