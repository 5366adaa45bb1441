#include "sweep_file.h"

#include "closed_loop.h"
#include "input_file.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kestrune::sweep {

namespace {

using json = nlohmann::json;

// The runs of one sweep stay below this, so that an index, a grid of
// verdicts and the CSV's offsets fit comfortably.
constexpr double MAX_RUNS = 1e8;

std::uint64_t splitMix(std::uint64_t &state) {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// A uniform double in [0, 1) from 53 random bits.
double unit(std::uint64_t &state) {
    return static_cast<double>(splitMix(state) >> 11) * 0x1.0p-53;
}

// Reads a sweep document; each problem names its place ("axes[1].count").
class Reader {
  public:
    Reader(std::string source, std::string scenarioDir)
        : source_(std::move(source)), scenarioDir_(std::move(scenarioDir)) {}

    std::string read(const json &document, SweepDefinition &out) {
        if (!document.is_object())
            return fail("", "must be a JSON object");
        SweepDefinition definition;
        definition.source = source_;
        const json *axes = nullptr;
        const json *monteCarlo = nullptr;
        const json *set = nullptr;
        std::optional<double> duration;
        for (const auto &[key, value] : document.items()) {
            if (key == "name" || key == "description" || key == "scenario" || key == "figure") {
                if (!value.is_string())
                    return fail(key, "must be a string");
                (key == "name"          ? definition.name
                 : key == "description" ? definition.description
                 : key == "scenario"    ? definition.scenario
                                        : definition.figure) = value.get<std::string>();
            } else if (key == "duration") {
                if (!value.is_number() || !(value.get<double>() > 0.0))
                    return fail(key, "must be a positive number of seconds");
                duration = value.get<double>();
            } else if (key == "set") {
                set = &value;
            } else if (key == "axes") {
                axes = &value;
            } else if (key == "montecarlo") {
                monteCarlo = &value;
            } else {
                return fail(key, "is not a sweep key (name, description, scenario, duration, set, axes, "
                                 "montecarlo, figure)");
            }
        }
        if (definition.name.empty())
            return fail("name", "is missing: the sweep's name names its output files");
        for (const char c : definition.name)
            if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-'))
                return fail("name", "'" + definition.name + "' must be letters, digits, '_' and '-'");
        if (definition.scenario.empty())
            return fail("scenario", "is missing: a shipped scenario's name or a scenario file");
        if ((axes == nullptr) == (monteCarlo == nullptr))
            return fail("",
                        "needs either \"axes\" (a grid) or \"montecarlo\" (a sample), not both or neither");

        // The base: the scenario, with a path relative to the sweep file.
        std::string scenarioPath = definition.scenario;
        const bool byName = scenarioPath.find('/') == std::string::npos && !scenarioPath.ends_with(".json");
        if (!byName && std::filesystem::path(scenarioPath).is_relative())
            scenarioPath = (std::filesystem::path(source_).parent_path() / scenarioPath).string();
        sim::Scenario base;
        if (std::string problem = sim::loadScenario(scenarioPath, scenarioDir_, base); !problem.empty())
            return fail("scenario", problem);

        sim::Options options;
        if (set != nullptr) {
            if (!set->is_object())
                return fail("set", "must be an object of parameter keys and values");
            for (const auto &[key, value] : set->items()) {
                std::string text;
                if (value.is_number())
                    text = valueText(value.get<double>());
                else if (value.is_boolean())
                    text = value.get<bool>() ? "true" : "false";
                else
                    return fail("set." + key, "must be a number (or true/false for splitLink)");
                if (std::string problem = sim::checkOverrideKey(key); !problem.empty())
                    return fail("set." + key, problem);
                options.overrides.emplace_back(key, text);
            }
        }
        definition.fixed = options.overrides;
        options.duration = duration;
        sim::RunPlan plan;
        if (std::string problem = sim::planRun(options, base, plan); !problem.empty())
            return fail("set", problem);
        definition.base = plan.scenario;

        if (axes != nullptr) {
            if (!readAxes(*axes, definition))
                return error_;
        } else if (!readMonteCarlo(*monteCarlo, definition)) {
            return error_;
        }
        if (!definition.figure.empty() && !figureKnown(definition))
            return fail("figure", "'" + definition.figure +
                                      "' is no column of the table: sJ_NAME (segment J from 0) " +
                                      "or cI_sJ_NAME with several converters, NAME one of " + figureList());
        out = std::move(definition);
        return "";
    }

  private:
    std::string fail(const std::string &where, const std::string &problem) {
        error_ = source_ + ": " + (where.empty() ? "the document " : "\"" + where + "\" ") + problem;
        return error_;
    }

    // A value of key must make a valid scenario of the base.
    bool checkValue(const SweepDefinition &definition, const std::string &where, const std::string &key,
                    double value) {
        sim::Scenario scenario = definition.base;
        std::string problem = sim::applyOverride(scenario, key, valueText(value));
        if (problem.empty())
            problem = sim::validateScenario(scenario);
        if (!problem.empty()) {
            fail(where, "value " + valueText(value) + ": " + problem);
            return false;
        }
        return true;
    }

    bool readKey(const json &object, const std::string &where, std::string &key) {
        const auto it = object.find("key");
        if (it == object.end() || !it->is_string()) {
            fail(where + ".key", "must be a parameter key as --set takes it");
            return false;
        }
        key = it->get<std::string>();
        if (std::string problem = sim::checkOverrideKey(key); !problem.empty()) {
            fail(where + ".key", problem);
            return false;
        }
        return true;
    }

    bool readAxes(const json &axes, SweepDefinition &definition) {
        if (!axes.is_array() || axes.empty()) {
            fail("axes", "must be a non-empty array of axes");
            return false;
        }
        double runs = 1.0;
        for (std::size_t a = 0; a < axes.size(); ++a) {
            const std::string where = "axes[" + std::to_string(a) + "]";
            const json &axis = axes[a];
            if (!axis.is_object()) {
                fail(where, "must be an object: key, and values or from/to/count");
                return false;
            }
            Axis out;
            if (!readKey(axis, where, out.key))
                return false;
            for (const Axis &other : definition.axes)
                if (other.key == out.key) {
                    fail(where + ".key", "'" + out.key + "' is swept by an earlier axis already");
                    return false;
                }
            const bool listed = axis.contains("values");
            for (const auto &[name, value] : axis.items()) {
                const bool known = name == "key" || (listed ? name == "values"
                                                            : name == "from" || name == "to" ||
                                                                  name == "count" || name == "spacing");
                if (!known) {
                    fail(where + "." + name,
                         listed ? "does not go with \"values\" (an axis has key and values, "
                                  "or key, from, to, count and spacing)"
                                : "is not an axis key (key, values, from, to, count, spacing)");
                    return false;
                }
            }
            if (listed) {
                const json &values = axis["values"];
                if (!values.is_array() || values.empty()) {
                    fail(where + ".values", "must be a non-empty array of numbers");
                    return false;
                }
                for (std::size_t i = 0; i < values.size(); ++i) {
                    if (!values[i].is_number()) {
                        fail(where + ".values[" + std::to_string(i) + "]", "must be a number");
                        return false;
                    }
                    out.values.push_back(values[i].get<double>());
                }
            } else {
                for (const char *name : {"from", "to", "count"})
                    if (!axis.contains(name) || !axis[name].is_number()) {
                        fail(where + "." + name, "must be a number (or give the axis \"values\")");
                        return false;
                    }
                const double from = axis["from"].get<double>();
                const double to = axis["to"].get<double>();
                const double count = axis["count"].get<double>();
                if (!(count >= 2.0 && count <= MAX_RUNS && std::floor(count) == count)) {
                    fail(where + ".count", "must be a whole number of values, at least 2");
                    return false;
                }
                std::string spacing = "linear";
                if (axis.contains("spacing")) {
                    if (!axis["spacing"].is_string() ||
                        (axis["spacing"] != "linear" && axis["spacing"] != "log")) {
                        fail(where + ".spacing", "must be \"linear\" or \"log\"");
                        return false;
                    }
                    spacing = axis["spacing"].get<std::string>();
                }
                if (spacing == "log" && !(from > 0.0 && to > 0.0)) {
                    fail(where, "spaced logarithmically needs from and to above 0");
                    return false;
                }
                out.log = spacing == "log";
                const auto n = static_cast<std::size_t>(count);
                for (std::size_t i = 0; i < n; ++i) {
                    const double f = static_cast<double>(i) / static_cast<double>(n - 1);
                    double v = spacing == "log" ? from * std::pow(to / from, f) : from + (to - from) * f;
                    if (i == 0)
                        v = from;
                    if (i + 1 == n)
                        v = to;
                    out.values.push_back(v);
                }
            }
            for (std::size_t i = 0; i < out.values.size(); ++i)
                if (!checkValue(definition,
                                where + (listed ? ".values[" + std::to_string(i) + "]" : std::string()),
                                out.key, out.values[i]))
                    return false;
            runs *= static_cast<double>(out.values.size());
            if (runs > MAX_RUNS) {
                fail("axes", "make more than 1e8 runs");
                return false;
            }
            definition.axes.push_back(std::move(out));
        }
        return true;
    }

    bool readMonteCarlo(const json &mc, SweepDefinition &definition) {
        if (!mc.is_object()) {
            fail("montecarlo", "must be an object: count, seed, parameters");
            return false;
        }
        for (const auto &[name, value] : mc.items())
            if (name != "count" && name != "seed" && name != "parameters") {
                fail("montecarlo." + name, "is not a Monte Carlo key (count, seed, parameters)");
                return false;
            }
        const auto count = mc.find("count");
        if (count == mc.end() || !count->is_number() || !(count->get<double>() >= 1.0) ||
            count->get<double>() > MAX_RUNS || std::floor(count->get<double>()) != count->get<double>()) {
            fail("montecarlo.count", "must be a whole number of runs from 1 to 1e8");
            return false;
        }
        const auto seed = mc.find("seed");
        if (seed == mc.end() || !seed->is_number_unsigned()) {
            fail("montecarlo.seed", "must be a whole number, 0 or more");
            return false;
        }
        const auto parameters = mc.find("parameters");
        if (parameters == mc.end() || !parameters->is_object() || parameters->empty()) {
            fail("montecarlo.parameters", "must be an object with a distribution per parameter key");
            return false;
        }
        definition.monteCarlo = true;
        definition.samples = static_cast<std::int64_t>(count->get<double>());
        definition.seed = seed->get<std::uint64_t>();
        for (const auto &[key, value] : parameters->items()) {
            const std::string where = "montecarlo.parameters." + key;
            Distribution d;
            d.key = key;
            if (std::string problem = sim::checkOverrideKey(key); !problem.empty()) {
                fail(where, problem);
                return false;
            }
            if (!value.is_object() || !value.contains("distribution") || !value["distribution"].is_string()) {
                fail(where, "must be an object with \"distribution\": \"uniform\" (min, max) or \"normal\" "
                            "(mean, sd, min, max)");
                return false;
            }
            const std::string kind = value["distribution"].get<std::string>();
            if (kind != "uniform" && kind != "normal") {
                fail(where + ".distribution", "must be \"uniform\" or \"normal\"");
                return false;
            }
            d.kind = kind == "normal" ? Distribution::Kind::Normal : Distribution::Kind::Uniform;
            const std::vector<std::string> needed = d.kind == Distribution::Kind::Normal
                                                        ? std::vector<std::string>{"mean", "sd", "min", "max"}
                                                        : std::vector<std::string>{"min", "max"};
            for (const auto &[name, field] : value.items()) {
                if (name == "distribution")
                    continue;
                if (std::find(needed.begin(), needed.end(), name) == needed.end()) {
                    fail(where + "." + name, "is not a key of a " + kind + " distribution");
                    return false;
                }
                if (!field.is_number()) {
                    fail(where + "." + name, "must be a number");
                    return false;
                }
            }
            for (const std::string &name : needed)
                if (!value.contains(name)) {
                    fail(where + "." + name, "is missing");
                    return false;
                }
            d.min = value["min"].get<double>();
            d.max = value["max"].get<double>();
            if (!(d.min < d.max)) {
                fail(where, "needs min below max");
                return false;
            }
            if (d.kind == Distribution::Kind::Normal) {
                d.mean = value["mean"].get<double>();
                d.sd = value["sd"].get<double>();
                if (!(d.sd > 0.0) || !(d.mean >= d.min && d.mean <= d.max)) {
                    fail(where, "needs sd above 0 and the mean within min and max");
                    return false;
                }
            }
            if (!checkValue(definition, where + ".min", key, d.min) ||
                !checkValue(definition, where + ".max", key, d.max))
                return false;
            definition.distributions.push_back(d);
        }
        return true;
    }

    static std::string figureList() {
        std::string list;
        for (const char *name : figureNames())
            list += (list.empty() ? "" : ", ") + std::string(name);
        return list;
    }

    // A figure column of the table: sK_NAME, or cJ_sK_NAME with several
    // converters, J and K within the converters and segments.
    static bool figureKnown(const SweepDefinition &definition) {
        const std::size_t converters = sim::converterCount(definition.base);
        const std::size_t segments = sim::segmentStarts(definition.base).size() + 1;
        std::string_view f = definition.figure;
        auto index = [&f](char letter, std::size_t limit) {
            if (f.size() < 3 || f[0] != letter)
                return false;
            std::size_t n = 0;
            std::size_t at = 1;
            while (at < f.size() && at < 6 && f[at] >= '0' && f[at] <= '9')
                n = n * 10 + static_cast<std::size_t>(f[at++] - '0');
            if (at == 1 || at >= f.size() || f[at] != '_' || n >= limit)
                return false;
            f.remove_prefix(at + 1);
            return true;
        };
        if (converters > 1 && !index('c', converters))
            return false;
        if (!index('s', segments))
            return false;
        for (const char *known : figureNames())
            if (f == known)
                return true;
        return false;
    }

    std::string source_;
    std::string scenarioDir_;
    std::string error_;
};

} // namespace

const std::vector<const char *> &figureNames() {
    static const std::vector<const char *> names{"vdc_min", "vdc_max", "settling", "ripple",
                                                 "swing",   "peak_i",  "rms_i",    "pf",
                                                 "thd",     "illegal", "direct"};
    return names;
}

std::string valueText(double value) {
    // Plain digits for the magnitudes parameters have (200000 rather than
    // 2e+05), the exponent form beyond them.
    char buffer[64];
    const double magnitude = std::abs(value);
    const bool plain = value == 0.0 || (magnitude >= 1e-5 && magnitude < 1e12);
    const auto result = plain ? std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed)
                              : std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::size_t SweepDefinition::runCount() const {
    if (monteCarlo)
        return static_cast<std::size_t>(samples);
    std::size_t runs = 1;
    for (const Axis &axis : axes)
        runs *= axis.values.size();
    return runs;
}

std::vector<std::string> SweepDefinition::keys() const {
    std::vector<std::string> keys;
    if (monteCarlo)
        for (const Distribution &d : distributions)
            keys.push_back(d.key);
    else
        for (const Axis &axis : axes)
            keys.push_back(axis.key);
    return keys;
}

std::vector<double> SweepDefinition::values(std::size_t run) const {
    std::vector<double> values;
    if (!monteCarlo) {
        for (const Axis &axis : axes) {
            values.push_back(axis.values[run % axis.values.size()]);
            run /= axis.values.size();
        }
        return values;
    }
    // Each run draws from a generator of its own, seeded from the sweep's
    // seed and the run's index: the same values whoever computes the run.
    std::uint64_t state = seed ^ (0xd1b54a32d192ed03ULL * (static_cast<std::uint64_t>(run) + 1));
    splitMix(state);
    for (const Distribution &d : distributions) {
        double v = 0.0;
        if (d.kind == Distribution::Kind::Uniform) {
            v = d.min + (d.max - d.min) * unit(state);
        } else {
            // Box-Muller, redrawn while outside the bounds (a truncated
            // normal); after many misses the mean.
            v = d.mean;
            for (int attempt = 0; attempt < 1000; ++attempt) {
                const double u1 = 1.0 - unit(state);
                const double u2 = unit(state);
                const double z = std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * 3.14159265358979323846 * u2);
                const double candidate = d.mean + d.sd * z;
                if (candidate >= d.min && candidate <= d.max) {
                    v = candidate;
                    break;
                }
            }
        }
        values.push_back(v);
    }
    return values;
}

std::string parseSweep(const std::string &text, const std::string &source, const std::string &scenarioDir,
                       SweepDefinition &definition) {
    json document;
    if (std::string problem = sim::parseJsonText(text, source, document); !problem.empty())
        return problem;
    return Reader(source, scenarioDir).read(document, definition);
}

std::string loadSweep(const std::string &nameOrPath, const std::string &sweepDir,
                      const std::string &scenarioDir, SweepDefinition &definition) {
    namespace fs = std::filesystem;
    bool byName = false;
    const fs::path path = sim::inputFilePath(nameOrPath, sweepDir, byName);
    std::error_code ec;
    if (!fs::is_regular_file(path, ec))
        return byName ? "unknown sweep '" + nameOrPath + "' (none such in " + sweepDir + ")"
                      : path.string() + ": no such sweep file";
    std::string text;
    if (std::string problem = sim::readInputFile(path, text); !problem.empty())
        return problem;
    return parseSweep(text, path.string(), scenarioDir, definition);
}

} // namespace kestrune::sweep
