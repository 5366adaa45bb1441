#include "check.h"

#include <pugixml.hpp>

#include <charconv>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string_view>

namespace kestrune::describe {

namespace {

using Names = std::set<std::string_view>;

struct Variable {
    std::string name;
    std::string type; // the element's name: Float64, Clock, ... (FMI 2.0: Real, Integer, ...)
    std::optional<unsigned long long> vr; // none when not a whole number
    std::string causality;                // as written, else the standard's default
    std::string variability;              // as written, else the standard's default
    std::string initial;                  // as written, "" when absent
    bool hasStart = false;
    std::optional<std::string> clocks; // FMI 3.0: the clocks= list as written
    bool derivative = false;           // has a derivative= attribute
    pugi::xml_node node;

    bool isClock() const { return type == "Clock"; }
    bool isFloat() const { return type == "Float64" || type == "Float32" || type == "Real"; }
};

std::optional<unsigned long long> wholeNumber(std::string_view text) {
    unsigned long long value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size())
        return std::nullopt;
    return value;
}

// An FMI 2.0 ScalarVariable's type element (Real, Integer, ...).
pugi::xml_node firstElement(pugi::xml_node node) {
    return node.find_child([](pugi::xml_node child) { return child.type() == pugi::node_element; });
}

std::vector<std::string_view> words(std::string_view text) {
    std::vector<std::string_view> out;
    while (!text.empty()) {
        const std::size_t start = text.find_first_not_of(" \t\r\n");
        if (start == std::string_view::npos)
            break;
        text.remove_prefix(start);
        const std::size_t end = std::min(text.find_first_of(" \t\r\n"), text.size());
        out.push_back(text.substr(0, end));
        text.remove_prefix(end);
    }
    return out;
}

// The initial a variable has when the attribute is absent: the same table in
// both editions, except that an FMI 2.0 input has none.
std::string defaultInitial(const Variable &v, bool fmi3) {
    const std::string &c = v.causality;
    if (c == "independent" || (c == "input" && !fmi3))
        return "";
    if (v.variability == "constant" || c == "parameter" || c == "structuralParameter" || c == "input")
        return "exact";
    return "calculated";
}

// The values initial may take for the variable's causality and variability.
Names allowedInitials(const Variable &v, bool fmi3) {
    const std::string &c = v.causality;
    const std::string &var = v.variability;
    if (c == "parameter" || c == "structuralParameter")
        return {"exact"};
    if (c == "calculatedParameter")
        return {"calculated", "approx"};
    if (c == "input")
        return fmi3 ? Names{"exact"} : Names{};
    if (c == "independent")
        return {};
    if (var == "constant")
        return {"exact"};
    if (var == "fixed" || var == "tunable")
        return {"calculated", "approx"};
    return {"calculated", "exact", "approx"};
}

bool allowedPair(const std::string &causality, const std::string &variability) {
    if (causality == "parameter" || causality == "calculatedParameter" || causality == "structuralParameter")
        return variability == "fixed" || variability == "tunable";
    if (causality == "input")
        return variability == "discrete" || variability == "continuous";
    if (causality == "output")
        return variability == "constant" || variability == "discrete" || variability == "continuous";
    if (causality == "independent")
        return variability == "continuous";
    return true; // local
}

class Checker {
  public:
    Checker(pugi::xml_node root, bool fmi3) : root_(root), fmi3_(fmi3) {}

    std::vector<std::string> run() {
        readVariables();
        checkValueReferences();
        for (const Variable &v : variables_)
            checkVariable(v);
        checkIndependent();
        if (fmi3_)
            checkClocks();
        checkStructure();
        return std::move(problems_);
    }

  private:
    void fail(std::string problem) { problems_.push_back(std::move(problem)); }
    static std::string quoted(const Variable &v) { return "'" + v.name + "'"; }

    void readVariables() {
        for (pugi::xml_node node : root_.child("ModelVariables").children()) {
            if (node.type() != pugi::node_element ||
                (!fmi3_ && std::strcmp(node.name(), "ScalarVariable") != 0))
                continue;
            Variable v;
            v.node = node;
            v.name = node.attribute("name").value();
            const pugi::xml_node typed = fmi3_ ? node : firstElement(node);
            v.type = typed.name();
            v.vr = wholeNumber(node.attribute("valueReference").value());
            if (!v.vr)
                fail("variable '" + v.name + "' has no valid valueReference");
            v.causality = node.attribute("causality").as_string("local");
            const bool parameter = v.causality == "parameter" || v.causality == "calculatedParameter" ||
                                   v.causality == "structuralParameter";
            const char *variability = !fmi3_ || v.isFloat() ? "continuous" : "discrete";
            v.variability =
                node.attribute("variability").as_string(fmi3_ && parameter ? "fixed" : variability);
            v.initial = node.attribute("initial").value();
            v.hasStart = typed.attribute("start") || typed.child("Start");
            if (const pugi::xml_attribute clocks = node.attribute("clocks"))
                v.clocks = clocks.value();
            v.derivative = static_cast<bool>(typed.attribute("derivative"));
            variables_.push_back(std::move(v));
        }
        for (std::size_t i = 0; i < variables_.size(); ++i) {
            if (variables_[i].vr)
                byVr_.emplace(*variables_[i].vr, i);
        }
    }

    // FMI 3.0 value references name one variable each; in FMI 2.0, variables
    // of one type that share one are aliases.
    void checkValueReferences() {
        if (!fmi3_)
            return;
        std::map<unsigned long long, const Variable *> seen;
        for (const Variable &v : variables_) {
            if (!v.vr)
                continue;
            const auto [at, fresh] = seen.emplace(*v.vr, &v);
            if (!fresh)
                fail("value reference " + std::to_string(*v.vr) + " is used by both " + quoted(*at->second) +
                     " and " + quoted(v));
        }
    }

    void checkVariable(const Variable &v) {
        if (v.isClock()) {
            if (v.variability != "discrete")
                fail("Clock " + quoted(v) + " has variability " + v.variability + "; clocks are discrete");
            return;
        }
        if (v.variability == "continuous" && !v.isFloat())
            fail(quoted(v) + " is a continuous " + v.type + "; only floating-point variables are continuous");
        if (!allowedPair(v.causality, v.variability)) {
            fail(quoted(v) + ": causality " + v.causality + " with variability " + v.variability +
                 " is not an allowed combination");
            return;
        }
        const Names allowed = allowedInitials(v, fmi3_);
        if (!v.initial.empty() && allowed.count(v.initial) == 0)
            fail(quoted(v) + " (" + v.causality + ", " + v.variability + ") must not have initial=\"" +
                 v.initial + "\"");
        const std::string initial = v.initial.empty() ? defaultInitial(v, fmi3_) : v.initial;
        const bool needsStart = initial == "exact" || initial == "approx" || v.causality == "input";
        const bool refusesStart = initial == "calculated" || v.causality == "independent";
        if (needsStart && !v.hasStart)
            fail(quoted(v) + " (" + v.causality + (initial.empty() ? "" : ", initial " + initial) +
                 ") needs a start value");
        if (refusesStart && v.hasStart)
            fail(quoted(v) + " (" + v.causality + (initial.empty() ? "" : ", initial " + initial) +
                 ") must not have a start value");
        if (v.clocks && v.variability != "discrete" && v.variability != "tunable")
            fail(quoted(v) + " is clocked but " + v.variability +
                 "; clocked variables are discrete or tunable");
    }

    void checkIndependent() {
        int count = 0;
        for (const Variable &v : variables_) {
            if (v.causality != "independent")
                continue;
            ++count;
            if (!v.isFloat())
                fail("the independent variable " + quoted(v) + " is no floating-point variable");
            if (!v.initial.empty())
                fail("the independent variable " + quoted(v) + " must not have initial");
        }
        if (count > 1 || (fmi3_ && count == 0))
            fail(std::to_string(count) + " independent variables; an FMU has " +
                 (fmi3_ ? "exactly" : "at most") + " one");
    }

    void checkClocks() {
        const pugi::xml_node coSimulation = root_.child("CoSimulation");
        const bool scheduled = static_cast<bool>(root_.child("ScheduledExecution"));
        const Variable *anyClock = nullptr;
        for (const Variable &v : variables_) {
            if (v.clocks) {
                const std::vector<std::string_view> refs = words(*v.clocks);
                if (refs.empty())
                    fail(quoted(v) + " has an empty clocks list");
                for (std::string_view ref : refs) {
                    const std::optional<unsigned long long> vr = wholeNumber(ref);
                    const auto found = vr ? byVr_.find(*vr) : byVr_.end();
                    if (found == byVr_.end())
                        fail(quoted(v) + " has clocks=\"" + *v.clocks + "\": " + std::string(ref) +
                             " names no variable");
                    else if (!variables_[found->second].isClock())
                        fail(quoted(v) + " has clocks=\"" + *v.clocks + "\": " + std::string(ref) +
                             " names " + quoted(variables_[found->second]) + ", no Clock");
                }
            }
            if (!v.isClock())
                continue;
            anyClock = anyClock != nullptr ? anyClock : &v;
            const std::string interval = v.node.attribute("intervalVariability").value();
            const bool hasPriority = static_cast<bool>(v.node.attribute("priority"));
            if (v.causality == "output" && (interval != "triggered" || hasPriority))
                fail("output Clock " + quoted(v) + " must be triggered and have no priority");
            if (v.causality == "input" && scheduled && !hasPriority)
                fail("input Clock " + quoted(v) + " has no priority, which scheduled execution requires");
            const pugi::xml_attribute decimal = v.node.attribute("intervalDecimal");
            if (interval == "constant" && !decimal)
                fail("constant Clock " + quoted(v) + " has no intervalDecimal");
            if (decimal && !(decimal.as_double(0.0) > 0.0))
                fail("Clock " + quoted(v) + " has intervalDecimal=\"" + decimal.value() +
                     "\"; it must be > 0");
        }
        if (anyClock != nullptr && coSimulation && !coSimulation.attribute("hasEventMode").as_bool(false))
            fail("the FMU has clocks (" + quoted(*anyClock) +
                 ") but <CoSimulation> does not have hasEventMode=\"true\"");
    }

    // The variable a ModelStructure entry names: by value reference (FMI
    // 3.0) or by 1-based index into ModelVariables (FMI 2.0); null, with
    // the problem reported, when it names none.
    const Variable *entryVariable(pugi::xml_node entry, const char *list) {
        const char *key = fmi3_ ? "valueReference" : "index";
        const std::optional<unsigned long long> n = wholeNumber(entry.attribute(key).value());
        if (fmi3_ && n) {
            if (const auto found = byVr_.find(*n); found != byVr_.end())
                return &variables_[found->second];
        } else if (n && *n >= 1 && *n <= variables_.size()) {
            return &variables_[*n - 1];
        }
        fail(std::string(list) + " entry " + key + "=\"" + entry.attribute(key).value() +
             "\" names no variable");
        return nullptr;
    }

    // The variables of one ModelStructure list, each reported when listed
    // twice.
    std::vector<const Variable *> structureList(const char *list) {
        const pugi::xml_node structure = root_.child("ModelStructure");
        std::vector<pugi::xml_node> entries;
        if (fmi3_) {
            for (pugi::xml_node entry : structure.children(list))
                entries.push_back(entry);
        } else {
            const std::string name = std::string(list) + "s";
            for (pugi::xml_node entry : structure.child(name.c_str()).children("Unknown"))
                entries.push_back(entry);
        }
        std::vector<const Variable *> listed;
        std::set<const Variable *> seen;
        for (pugi::xml_node entry : entries) {
            const Variable *v = entryVariable(entry, list);
            if (v == nullptr)
                continue;
            if (!seen.insert(v).second)
                fail(std::string(list) + " lists " + quoted(*v) + " twice");
            else
                listed.push_back(v);
        }
        return listed;
    }

    void checkStructure() {
        const std::vector<const Variable *> outputs = structureList("Output");
        const std::set<const Variable *> outputSet(outputs.begin(), outputs.end());
        for (const Variable *v : outputs) {
            if (v->causality != "output")
                fail("Output lists " + quoted(*v) + ", whose causality is " + v->causality);
        }
        const std::vector<const Variable *> initialUnknowns = structureList("InitialUnknown");
        const std::set<const Variable *> initialSet(initialUnknowns.begin(), initialUnknowns.end());
        // State derivatives and their states may be initial unknowns too.
        std::set<const Variable *> states;
        for (const Variable &v : variables_) {
            if (v.derivative) {
                states.insert(&v);
                const std::optional<unsigned long long> of =
                    wholeNumber((fmi3_ ? v.node : firstElement(v.node)).attribute("derivative").value());
                if (of && fmi3_ && byVr_.count(*of) != 0)
                    states.insert(&variables_[byVr_.at(*of)]);
                else if (of && !fmi3_ && *of >= 1 && *of <= variables_.size())
                    states.insert(&variables_[*of - 1]);
            }
        }
        for (const Variable *v : initialUnknowns) {
            const std::string initial = v->initial.empty() ? defaultInitial(*v, fmi3_) : v->initial;
            const bool computed = initial == "calculated" || initial == "approx";
            if (v->clocks)
                fail("InitialUnknown lists the clocked variable " + quoted(*v) +
                     "; clocked variables are set at their clock's first activation");
            else if (!((v->causality == "output" || states.count(v) != 0) && computed) &&
                     v->causality != "calculatedParameter")
                fail("InitialUnknown lists " + quoted(*v) + " (" + v->causality +
                     (initial.empty() ? "" : ", initial " + initial) +
                     "), which is no output, state or derivative with initial approx or calculated and no "
                     "calculated parameter");
        }
        for (const Variable &v : variables_) {
            if (v.causality == "output" && outputSet.count(&v) == 0)
                fail("the output " + quoted(v) + " is not listed among the Outputs");
            const std::string initial = v.initial.empty() ? defaultInitial(v, fmi3_) : v.initial;
            const bool computed = initial == "calculated" || initial == "approx";
            const bool required = (v.causality == "output" && computed && !v.clocks && !v.isClock()) ||
                                  v.causality == "calculatedParameter";
            if (required && initialSet.count(&v) == 0)
                fail("the " + v.causality + " " + quoted(v) + " (initial " + initial +
                     ") is not listed among the InitialUnknowns");
        }
    }

    pugi::xml_node root_;
    bool fmi3_;
    std::vector<Variable> variables_;
    std::map<unsigned long long, std::size_t> byVr_;
    std::vector<std::string> problems_;
};

} // namespace

std::vector<std::string> checkDescription(const std::string &xml) {
    pugi::xml_document document;
    const pugi::xml_parse_result parsed = document.load_buffer(xml.data(), xml.size());
    if (!parsed)
        return {std::string("not well-formed XML: ") + parsed.description() + " at byte " +
                std::to_string(parsed.offset)};
    const pugi::xml_node root = document.child("fmiModelDescription");
    if (!root)
        return {"no fmiModelDescription element"};
    const std::string version = root.attribute("fmiVersion").value();
    if (version != "2.0" && version.rfind("3.", 0) != 0)
        return {"fmiVersion is \"" + version + "\", neither \"2.0\" nor \"3.x\""};
    return Checker(root, version != "2.0").run();
}

int checkFiles(const std::vector<std::string> &paths, std::ostream &out, std::ostream &err) {
    int status = 0;
    for (const std::string &path : paths) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            err << path << ": cannot read\n";
            status = 1;
            continue;
        }
        const std::string xml((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::vector<std::string> problems = checkDescription(xml);
        for (const std::string &problem : problems)
            err << path << ": " << problem << '\n';
        if (problems.empty())
            out << path << ": ok\n";
        else
            status = 1;
    }
    return status;
}

} // namespace kestrune::describe
