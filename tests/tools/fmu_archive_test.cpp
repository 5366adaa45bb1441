// Reading a .fmu as kestrune-sim does: the packed Kestrune.fmu opens, binds
// and agrees with its library; damaged or mismatched archives give clear
// errors instead of a crash or a run of the wrong thing; and a unit whose
// value references are permuted runs as the real one.
#include "closed_loop.h"
#include "fmu_binding.h"
#include "master/fmu_archive.h"
#include "permuted_references.h"
#include "run.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>
#include <zip.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>

#ifndef KESTRUNE_FMU_PATH
#error "KESTRUNE_FMU_PATH must name the packed unit"
#endif

namespace kestrune::sim {
namespace {

namespace fs = std::filesystem;
using Entries = std::map<std::string, std::string>;

std::string replaced(std::string text, const std::string &from, const std::string &to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << "\"" << from << "\" not in the text";
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

// The entries of a packed unit, name to content.
Entries packedEntries(const char *path = KESTRUNE_FMU_PATH) {
    Entries entries;
    int error = 0;
    zip_t *archive = zip_open(path, ZIP_RDONLY, &error);
    EXPECT_NE(archive, nullptr) << "cannot open " << path;
    if (archive == nullptr)
        return entries;
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        const std::string name = zip_get_name(archive, index, 0);
        if (name.back() == '/')
            continue;
        zip_stat_t stat;
        zip_stat_index(archive, index, 0, &stat);
        std::string content(stat.size, '\0');
        zip_file_t *file = zip_fopen_index(archive, index, 0);
        zip_fread(file, content.data(), stat.size);
        zip_fclose(file);
        entries[name] = content;
    }
    zip_discard(archive);
    return entries;
}

class FmuArchiveTest : public ::testing::Test {
  protected:
    // A folder of this run's own: test runs of other build trees may share
    // the temporary directory at the same time.
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "kestrune-archive-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    std::string write(const std::string &name, const Entries &entries) {
        const std::string path = (folder / name).string();
        int error = 0;
        zip_t *archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
        EXPECT_NE(archive, nullptr);
        for (const auto &[entry, content] : entries) {
            zip_source_t *source = zip_source_buffer(archive, content.data(), content.size(), 0);
            EXPECT_GE(zip_file_add(archive, entry.c_str(), source, ZIP_FL_ENC_UTF_8), 0) << entry;
        }
        EXPECT_EQ(zip_close(archive), 0);
        return path;
    }

    // An archive holding name twice: zip libraries refuse to write one, so
    // the second copy goes in under a stand-in name of the same length that
    // is then overwritten in the archive's bytes.
    std::string writeTwice(const std::string &file, Entries entries, const std::string &name,
                           const std::string &secondContent) {
        std::string standIn = name;
        standIn.back() = '#';
        entries[standIn] = secondContent;
        const std::string path = write(file, entries);
        std::ifstream in(path, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        in.close();
        for (std::size_t at = bytes.find(standIn); at != std::string::npos; at = bytes.find(standIn, at))
            bytes.replace(at, standIn.size(), name);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        return path;
    }

    fs::path folder;
};

TEST_F(FmuArchiveTest, PackedUnitOpensBindsByNameAndAgreesWithItsLibrary) {
    master::UnpackedFmu fmu;
    ASSERT_TRUE(fmu.open(KESTRUNE_FMU_PATH)) << fmu.error();
    const master::ModelDescription &d = fmu.description();
    EXPECT_EQ(d.modelName, "Kestrune");
    EXPECT_EQ(d.modelIdentifier, "Kestrune_win64");
    EXPECT_EQ(d.variables.size(), 21u);
    EXPECT_EQ(fmu.resourceUri().rfind("file:///", 0), 0u) << fmu.resourceUri();
    EXPECT_TRUE(fmu.resourceUri().ends_with("/resources")) << fmu.resourceUri();

    master::VariableBindings bindings;
    ASSERT_EQ(bindVariables(d, bindings), "");
    const master::VariableBindings defaults;
    EXPECT_EQ(bindings.inputs, defaults.inputs);
    EXPECT_EQ(bindings.gates, defaults.gates);
    EXPECT_EQ(bindings.time, defaults.time);

    master::FmuLibrary library;
    ASSERT_TRUE(library.loadFreshCopy(fmu.libraryPath())) << library.error();
    master::RecordingLogger logger;
    master::Session session(library, logger, bindings);
    ASSERT_TRUE(session.instantiate("kestrune", fmu.resourceUri().c_str()));
    EXPECT_EQ(checkAgainstUnit(d, session), "");

    const std::string unpacked = fmu.directory();
    ASSERT_TRUE(fs::exists(unpacked));
    fmu.open("/nonexistent/unit.fmu");
    EXPECT_FALSE(fs::exists(unpacked)) << "the unpacked folder outlived the archive";
}

// The rules a strict master checks on the packed description: every output
// is listed in Outputs, InitialUnknowns are exactly the outputs whose initial
// is approx or calculated, inputs carry a start and no initial, the
// independent variable carries neither, and calculated variables no start.
TEST_F(FmuArchiveTest, PackedDescriptionFollowsTheRulesStrictMastersCheck) {
    const Entries entries = packedEntries();
    ASSERT_TRUE(entries.contains("modelDescription.xml"));
    const std::string &xml = entries.at("modelDescription.xml");
    pugi::xml_document document;
    ASSERT_TRUE(document.load_buffer(xml.data(), xml.size()));
    const pugi::xml_node root = document.child("fmiModelDescription");

    std::vector<pugi::xml_node> variables;
    for (const pugi::xml_node v : root.child("ModelVariables").children("ScalarVariable"))
        variables.push_back(v);
    ASSERT_EQ(variables.size(), 21u);

    std::set<unsigned> outputs;
    std::set<unsigned> calculatedOutputs;
    int independents = 0;
    for (std::size_t i = 0; i < variables.size(); ++i) {
        const pugi::xml_node v = variables[i];
        const std::string name = v.attribute("name").value();
        const std::string causality = v.attribute("causality").value();
        const std::string initial = v.attribute("initial").value();
        const bool hasStart = static_cast<bool>(v.child("Real").attribute("start"));
        EXPECT_EQ(v.attribute("valueReference").as_uint(99), i) << name;
        if (causality == "input") {
            EXPECT_TRUE(hasStart) << name;
            EXPECT_EQ(v.child("Real").attribute("start").as_double(-1.0), 0.0) << name;
            EXPECT_FALSE(v.attribute("initial")) << name;
        } else if (causality == "output") {
            outputs.insert(static_cast<unsigned>(i + 1));
            if (initial == "calculated" || initial == "approx")
                calculatedOutputs.insert(static_cast<unsigned>(i + 1));
            EXPECT_EQ(hasStart, initial == "exact" || initial == "approx") << name;
            EXPECT_STREQ(v.attribute("variability").value(), "discrete") << name;
        } else if (causality == "independent") {
            ++independents;
            EXPECT_EQ(name, "time");
            EXPECT_FALSE(hasStart);
            EXPECT_FALSE(v.attribute("initial"));
        } else if (causality == "parameter") {
            EXPECT_EQ(name, "meanSampleTime");
            EXPECT_STREQ(v.attribute("variability").value(), "tunable");
            EXPECT_EQ(v.child("Real").attribute("start").as_double(), 1e-4);
        } else {
            ADD_FAILURE() << name << " has causality " << causality;
        }
    }
    EXPECT_EQ(independents, 1);
    EXPECT_EQ(outputs.size(), 12u);

    auto listed = [&](const char *element) {
        std::set<unsigned> indices;
        for (const pugi::xml_node u : root.child("ModelStructure").child(element).children("Unknown"))
            indices.insert(u.attribute("index").as_uint());
        return indices;
    };
    EXPECT_EQ(listed("Outputs"), outputs);
    EXPECT_EQ(listed("InitialUnknowns"), calculatedOutputs);
    EXPECT_EQ(calculatedOutputs, outputs);
}

// Archives that must be refused, each with a word the error must contain.
TEST_F(FmuArchiveTest, BrokenOrForeignArchivesAreRefusedWithAClearError) {
    const Entries good = packedEntries();
    ASSERT_TRUE(good.contains("modelDescription.xml"));
    const std::string &xml = good.at("modelDescription.xml");
    auto without = [&](const std::string &name) {
        Entries e = good;
        e.erase(name);
        return e;
    };
    auto withDescription = [&](const std::string &text) {
        Entries e = good;
        e["modelDescription.xml"] = text;
        return e;
    };
    auto withExtra = [&](const std::string &name) {
        Entries e = good;
        e[name] = "x";
        return e;
    };

    struct Case {
        const char *what;
        std::function<std::string()> make; // returns the path to open
        const char *fragment;
    };
    const std::vector<Case> cases{
        {"missing file", [&] { return (folder / "absent.fmu").string(); }, "no such file"},
        {"not a zip archive",
         [&] {
             std::ofstream((folder / "text.fmu").string()) << "this is not an archive";
             return (folder / "text.fmu").string();
         },
         "not a readable .fmu"},
        {"truncated archive",
         [&] {
             const std::string path = write("whole.fmu", good);
             const auto size = fs::file_size(path);
             fs::resize_file(path, size / 2);
             return path;
         },
         "not a readable .fmu"},
        {"no description", [&] { return write("nodesc.fmu", without("modelDescription.xml")); },
         "no modelDescription.xml"},
        {"no library for this platform",
         [&] { return write("nolinux.fmu", without("binaries/linux64/Kestrune_win64.so")); }, "linux64"},
        {"description not XML", [&] { return write("badxml.fmu", withDescription("<fmiModelDescription")); },
         "not well-formed"},
        {"FMI 1.0 description",
         [&] {
             return write("v1.fmu",
                          withDescription(replaced(xml, "fmiVersion=\"2.0\"", "fmiVersion=\"1.0\"")));
         },
         "fmiVersion"},
        {"no co-simulation",
         [&] {
             // The element renamed, with its end tag where it has one.
             std::string me = replaced(xml, "<CoSimulation", "<ModelExchange");
             if (me.find("</CoSimulation>") != std::string::npos)
                 me = replaced(me, "</CoSimulation>", "</ModelExchange>");
             return write("me.fmu", withDescription(me));
         },
         "CoSimulation"},
        {"entry climbing out of the folder", [&] { return write("slip.fmu", withExtra("../escaped.txt")); },
         "refusing"},
        {"absolute entry", [&] { return write("abs.fmu", withExtra("/tmp/kestrune-absolute.txt")); },
         "refusing"},
        {"description held twice",
         [&] {
             return writeTwice("twice.fmu", good, "modelDescription.xml",
                               replaced(xml, "{5c0f3a91", "{00000000"));
         },
         "twice"},
    };
    for (const Case &c : cases) {
        master::UnpackedFmu fmu;
        EXPECT_FALSE(fmu.open(c.make())) << c.what;
        EXPECT_NE(fmu.error().find(c.fragment), std::string::npos) << c.what << ": " << fmu.error();
        EXPECT_TRUE(fmu.directory().empty()) << c.what << ": unpacked folder left behind";
    }
    EXPECT_FALSE(fs::exists(folder.parent_path() / "escaped.txt"));
}

// Descriptions that do not fit Kestrune or the library they come with, and
// where each is refused: on opening (a description that claims the unit's
// identity must describe the unit's variables), on binding by name, or by
// the library.
TEST_F(FmuArchiveTest, DescriptionThatDisagreesWithTheLibraryIsRefused) {
    const Entries good = packedEntries();
    const std::string xml = good.at("modelDescription.xml");
    const std::string foreign = replaced(xml, "{5c0f3a91", "{00000000");
    enum class Stage { Open, Bind, Library };
    struct Case {
        const char *what;
        std::string description;
        Stage refusedAt;
        const char *fragment;
    };
    const std::vector<Case> cases{
        // The master passes on the description's GUID, which the library refuses.
        {"other GUID", foreign, Stage::Library, "Wrong GUID {00000000"},
        {"renamed input of another unit", replaced(foreign, "name=\"dcVoltage\"", "name=\"dcLinkVoltage\""),
         Stage::Bind, "dcVoltage"},
        {"gate declared as input",
         replaced(xml,
                  "name=\"gateB2\" valueReference=\"12\" description=\"gate signal, second leg (phase b), "
                  "switch 2\" causality=\"output\"",
                  "name=\"gateB2\" valueReference=\"12\" description=\"gate signal, second leg (phase b), "
                  "switch 2\" causality=\"input\""),
         Stage::Open, "gateB2"},
        {"value reference the library lacks", replaced(xml, "valueReference=\"20\"", "valueReference=\"25\""),
         Stage::Open, "value reference 25"},
        {"parameter start the library does not hold", replaced(xml, "start=\"0.0001\"", "start=\"0.0002\""),
         Stage::Library, "meanSampleTime"},
    };
    for (const Case &c : cases) {
        Entries entries = good;
        entries["modelDescription.xml"] = c.description;
        master::UnpackedFmu fmu;
        std::string problem;
        if (!fmu.open(write("case.fmu", entries))) {
            EXPECT_EQ(c.refusedAt, Stage::Open) << c.what << ": " << fmu.error();
            problem = fmu.error();
        } else {
            master::VariableBindings bindings;
            problem = bindVariables(fmu.description(), bindings);
            EXPECT_EQ(!problem.empty(), c.refusedAt == Stage::Bind) << c.what << ": " << problem;
            if (problem.empty()) {
                master::FmuLibrary library;
                ASSERT_TRUE(library.loadFreshCopy(fmu.libraryPath())) << library.error();
                master::RecordingLogger logger;
                master::Session session(library, logger, bindings);
                if (session.instantiate("kestrune", fmu.resourceUri().c_str()))
                    problem = checkAgainstUnit(fmu.description(), session);
                else if (!logger.messages.empty())
                    problem = logger.messages.front().message;
            }
        }
        EXPECT_NE(problem.find(c.fragment), std::string::npos) << c.what << ": " << problem;
    }
}

// The description with one variable's attribute set to value (removed for
// null), or with the variable removed (attribute null).
std::string withVariable(const std::string &xml, const char *name, const char *attribute, const char *value) {
    pugi::xml_document document;
    EXPECT_TRUE(document.load_buffer(xml.data(), xml.size()));
    pugi::xml_node variable = document.find_node([name](pugi::xml_node node) {
        return node.parent().name() == std::string("ModelVariables") &&
               node.attribute("name").value() == std::string(name);
    });
    EXPECT_TRUE(variable) << name;
    if (attribute == nullptr)
        variable.parent().remove_child(variable);
    else if (value == nullptr)
        variable.remove_attribute(attribute);
    else if (pugi::xml_attribute a = variable.attribute(attribute))
        a.set_value(value);
    else
        variable.append_attribute(attribute).set_value(value);
    std::ostringstream text;
    document.save(text);
    return text.str();
}

// Descriptions that lie about the library they come with, packed into
// copies of the real archives: each is refused on opening, before any
// library is loaded, with the first difference or broken rule.
TEST_F(FmuArchiveTest, LyingDescriptionsAreRefusedOnOpening) {
    struct Case {
        const char *what;
        const char *archive;
        std::function<std::string(const std::string &)> lie;
        const char *fragment;
    };
    const auto swapped = [](const std::string &xml) {
        return withVariable(withVariable(xml, "gridVoltageA", "valueReference", "7"), "gateA1",
                            "valueReference", "0");
    };
    const auto shared = [](const std::string &xml) {
        return withVariable(xml, "gridVoltageB", "valueReference", "0");
    };
    const std::vector<Case> cases{
        {"two references swapped", KESTRUNE_FMU_PATH, swapped,
         "carries Kestrune's GUID but describes gridVoltageA with value reference 7, where the unit has 0"},
        {"two references swapped, FMI 3.0", KESTRUNE_FMU3_PATH, swapped, "Output lists 'gridVoltageA'"},
        {"two inputs share one reference", KESTRUNE_FMU_PATH, shared,
         "gridVoltageA and gridVoltageB share value reference 0"},
        {"two inputs share one reference, another unit's GUID", KESTRUNE_FMU_PATH,
         [&](const std::string &xml) { return shared(replaced(xml, "{5c0f3a91", "{00000000")); },
         "gridVoltageA and gridVoltageB share value reference 0"},
        {"two inputs share one reference, FMI 3.0", KESTRUNE_FMU3_PATH, shared,
         "value reference 0 is used by both 'gridVoltageA' and 'gridVoltageB'"},
        {"causality changed", KESTRUNE_FMU_PATH,
         [](const std::string &xml) { return withVariable(xml, "time", "causality", "local"); },
         "describes time as local, where the unit has it as independent"},
        {"variable renamed", KESTRUNE_FMU3_PATH,
         [](const std::string &xml) { return withVariable(xml, "dcVoltage", "name", "dcLinkVoltage"); },
         "carries Kestrune's instantiation token but does not describe dcVoltage"},
        {"variable missing", KESTRUNE_FMU_PATH,
         [](const std::string &xml) { return withVariable(xml, "meanSampleTime", nullptr, nullptr); },
         "does not describe meanSampleTime (value reference 20), which the unit has"},
        {"clocked variable unclocked", KESTRUNE_FMU3_SCHEDULED_PATH,
         [](const std::string &xml) { return withVariable(xml, "dcVoltage", "clocks", nullptr); },
         "describes dcVoltage as unclocked, where the unit clocks it by baseRateClock (21)"},
    };
    for (const Case &c : cases) {
        Entries entries = packedEntries(c.archive);
        entries["modelDescription.xml"] = c.lie(entries.at("modelDescription.xml"));
        master::UnpackedFmu fmu;
        EXPECT_FALSE(fmu.open(write("lying.fmu", entries))) << c.what;
        EXPECT_NE(fmu.error().find("modelDescription.xml: "), std::string::npos)
            << c.what << ": " << fmu.error();
        EXPECT_NE(fmu.error().find(c.fragment), std::string::npos) << c.what << ": " << fmu.error();
    }
}

TEST_F(FmuArchiveTest, ShippedArchivesAreTrusted) {
    for (const char *archive :
         {KESTRUNE_FMU_PATH, KESTRUNE_FMU3_PATH, KESTRUNE_FMU3_SCHEDULED_PATH, KESTRUNE_PLANT_FMU_PATH}) {
        master::UnpackedFmu fmu;
        EXPECT_TRUE(fmu.open(archive)) << fmu.error();
    }
}

// Clocks of scheduled execution bound by name, with their periods from the
// description, and refused clearly where the scheduler could not use them.
TEST_F(FmuArchiveTest, ClocksAreBoundByNameWithTheirPeriods) {
    const std::string xml = packedEntries(KESTRUNE_FMU3_SCHEDULED_PATH).at("modelDescription.xml");
    struct Case {
        const char *what;
        std::string description;
        const char *problem; // fragment, or "" when it binds
        double basePeriod;
        double slowPeriod;
    };
    const std::vector<Case> cases{
        {"as packed", xml, "", 5e-6, 1e-4},
        {"period as counter and resolution",
         replaced(xml, "intervalDecimal=\"5e-06\"", "intervalCounter=\"1\" resolution=\"400000\""), "",
         2.5e-6, 1e-4},
        {"no base-rate clock", replaced(xml, "name=\"baseRateClock\"", "name=\"fastClock\""),
         "no clock \"baseRateClock\"", 0.0, 0.0},
        {"slow period not whole base periods",
         replaced(xml, "intervalDecimal=\"0.0001\"", "intervalDecimal=\"1.2e-05\""), "no whole number", 0.0,
         0.0},
        {"clock without a period", replaced(xml, "intervalDecimal=\"0.0001\"", ""), "no positive period", 0.0,
         0.0},
        {"output clock",
         replaced(xml, "causality=\"input\" intervalVariability=\"constant\" intervalDecimal=\"0.0001\"",
                  "causality=\"output\" intervalVariability=\"constant\" intervalDecimal=\"0.0001\""),
         "expected a periodic input clock", 0.0, 0.0},
    };
    for (const Case &c : cases) {
        master::ModelDescription description;
        ASSERT_EQ(master::parseModelDescription(c.description, description), "") << c.what;
        master::VariableBindings bindings;
        const std::string problem = master::bindVariables(description, bindings, true);
        if (*c.problem != '\0') {
            EXPECT_NE(problem.find(c.problem), std::string::npos) << c.what << ": " << problem;
            continue;
        }
        ASSERT_EQ(problem, "") << c.what;
        ASSERT_TRUE(bindings.baseRateClock && bindings.slowRateClock) << c.what;
        EXPECT_EQ(bindings.baseRateClock->vr, VR_BASE_RATE_CLOCK) << c.what;
        EXPECT_EQ(bindings.baseRateClock->period, c.basePeriod) << c.what;
        EXPECT_EQ(bindings.slowRateClock->vr, VR_SLOW_RATE_CLOCK) << c.what;
        EXPECT_EQ(bindings.slowRateClock->period, c.slowPeriod) << c.what;
    }
}

// Every value reference of the description, and every clock a variable
// names, mapped as the permuted unit maps them; its identity the permuted
// unit's own.
std::string permutedDescription(const std::string &xml) {
    pugi::xml_document document;
    EXPECT_TRUE(document.load_buffer(xml.data(), xml.size()));
    const pugi::xml_node root = document.child("fmiModelDescription");
    if (pugi::xml_attribute guid = root.attribute("guid"))
        guid.set_value(permuted::PERMUTED_GUID);
    if (pugi::xml_attribute token = root.attribute("instantiationToken"))
        token.set_value(permuted::PERMUTED_TOKEN);
    for (const pugi::xpath_node &node : document.select_nodes("//*[@valueReference]")) {
        pugi::xml_attribute vr = node.node().attribute("valueReference");
        vr.set_value(permuted::describedReference(vr.as_uint()));
    }
    for (const pugi::xpath_node &node : document.select_nodes("//*[@clocks]")) {
        pugi::xml_attribute clocks = node.node().attribute("clocks");
        std::istringstream own(clocks.value());
        std::string described;
        for (unsigned vr = 0; own >> vr;)
            described += (described.empty() ? "" : " ") + std::to_string(permuted::describedReference(vr));
        clocks.set_value(described.c_str());
    }
    std::ostringstream text;
    document.save(text);
    return text.str();
}

// Keeps the DC-link voltage of every row.
class LinkVoltages : public RowSink {
  public:
    void row(const PlantSignals &signals) override { vdc.push_back(signals.converters[0].vdc()); }
    std::vector<double> vdc;
};

// A unit whose value references (clocks included) are all another's, with
// the description to match: the master binds by name and runs it, in every
// interface, exactly as the real unit. One swapped input or gate would
// change the link's voltage within a few steps.
TEST_F(FmuArchiveTest, UnitWithPermutedValueReferencesRunsAsTheRealOne) {
    struct Case {
        const char *what;
        const char *archive;
        const char *permutedLibrary;
        const char *interface;
    };
    const Case cases[] = {
        {"FMI 2.0", KESTRUNE_FMU_PATH, KESTRUNE_PERMUTED_FMI2_PATH, "co-simulation"},
        {"FMI 3.0", KESTRUNE_FMU3_PATH, KESTRUNE_PERMUTED_FMI3_PATH, "co-simulation"},
        {"FMI 3.0 scheduled", KESTRUNE_FMU3_SCHEDULED_PATH, KESTRUNE_PERMUTED_FMI3_PATH, "scheduled"},
    };
    for (const Case &c : cases) {
        Entries entries = packedEntries(c.archive);
        master::ModelDescription described;
        ASSERT_EQ(master::parseModelDescription(entries.at("modelDescription.xml"), described), "") << c.what;
        entries["modelDescription.xml"] = permutedDescription(entries.at("modelDescription.xml"));
        std::ifstream library(c.permutedLibrary, std::ios::binary);
        entries[std::string("binaries/") + master::platformFolder(described.isFmi3()) + "/" +
                described.libraryIdentifier() + master::librarySuffix()] =
            std::string(std::istreambuf_iterator<char>(library), std::istreambuf_iterator<char>());
        const std::string permutedArchive = write("permuted.fmu", entries);

        std::vector<LinkVoltages> rows(2);
        std::vector<ClosedLoopResult> results;
        for (const std::string &archive : {std::string(c.archive), permutedArchive}) {
            const ParseResult parsed = parseOptions({"--fmu", archive, "--scenario", "load_step",
                                                     "--duration", "0.02", "--interface", c.interface},
                                                    KESTRUNE_FMU_PATH, KESTRUNE_SCENARIO_DIR);
            ASSERT_EQ(parsed.action, ParseResult::Action::Run) << c.what << ": " << parsed.error;
            RunPlan plan;
            ASSERT_EQ(planRun(parsed.options, plan), "") << c.what;
            std::ostringstream err;
            results.push_back(runClosedLoop(archive, plan, false, &rows[results.size()], nullptr, err));
            ASSERT_TRUE(results.back().ok) << c.what << ": " << results.back().error << err.str();
        }
        EXPECT_EQ(results[1].stepsDone, results[0].stepsDone) << c.what;
        EXPECT_EQ(results[1].unitTime, results[0].unitTime) << c.what;
        EXPECT_GT(rows[0].vdc.size(), 100u) << c.what;
        EXPECT_EQ(rows[1].vdc, rows[0].vdc) << c.what;
    }
}

// A unit of another identity whose description swaps two value references
// (what no check can know of another unit) drives the converter on illegal
// patterns: kestrune-sim keeps the run's files but fails it.
TEST_F(FmuArchiveTest, RunOnMostlyIllegalGatesFails) {
    Entries entries = packedEntries();
    std::string xml = permutedDescription(entries.at("modelDescription.xml"));
    const std::string gridA = std::to_string(permuted::describedReference(VR_GRID_VOLTAGE_A));
    const std::string gateA1 = std::to_string(permuted::describedReference(VR_FIRST_GATE));
    xml = withVariable(withVariable(xml, "gridVoltageA", "valueReference", gateA1.c_str()), "gateA1",
                       "valueReference", gridA.c_str());
    entries["modelDescription.xml"] = xml;
    std::ifstream library(KESTRUNE_PERMUTED_FMI2_PATH, std::ios::binary);
    entries["binaries/linux64/Kestrune_win64.so"] =
        std::string(std::istreambuf_iterator<char>(library), std::istreambuf_iterator<char>());
    const std::string archive = write("lying.fmu", entries);
    const std::string out = (folder / "out").string();
    const ParseResult parsed =
        parseOptions({"--fmu", archive, "--duration", "0.02", "--no-plot", "--output-dir", out},
                     KESTRUNE_FMU_PATH, KESTRUNE_SCENARIO_DIR);
    ASSERT_EQ(parsed.action, ParseResult::Action::Run) << parsed.error;
    std::ostringstream summary;
    std::ostringstream err;
    EXPECT_EQ(runSimulation(parsed.options, summary, err, false), 1) << err.str();
    EXPECT_NE(err.str().find("FAILED: converter 0 applied"), std::string::npos) << err.str();
    EXPECT_TRUE(fs::exists(folder / "out" / "startup500.json"));
}

} // namespace
} // namespace kestrune::sim
