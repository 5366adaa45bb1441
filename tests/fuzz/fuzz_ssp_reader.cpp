// Fuzzes the reading of an .ssp's SystemStructure.ssd and the .ssv it binds,
// both from memory: the input is the .ssd text, then a NUL byte, then the
// text of resources/s.ssv. Every .fmu the .ssd names is one stand-in unit
// archive (an input, an output and parameters of each type). A read either
// fails with a message or gives a system whose connections join components
// it holds.
#include "ssp_reader.h"
#include "zip_files.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using namespace kestrune::ssp;

#define CHECK(condition)                                                                                     \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "check failed at line %d: %s\n", __LINE__, #condition);                     \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)

const char *const UNIT_DESCRIPTION = R"(<fmiModelDescription fmiVersion="2.0" modelName="m" guid="{1}">
<CoSimulation modelIdentifier="m"/><ModelVariables>
<ScalarVariable name="u" valueReference="0" causality="input"><Real start="0"/></ScalarVariable>
<ScalarVariable name="y" valueReference="1" causality="output"><Real/></ScalarVariable>
<ScalarVariable name="g" valueReference="2" causality="parameter" variability="fixed"><Real start="1"/></ScalarVariable>
<ScalarVariable name="n" valueReference="3" causality="parameter" variability="fixed"><Integer start="1"/></ScalarVariable>
<ScalarVariable name="b" valueReference="4" causality="parameter" variability="fixed"><Boolean start="false"/></ScalarVariable>
</ModelVariables></fmiModelDescription>)";

// The stand-in unit archive, written once and removed at exit.
struct StandIn {
    TemporaryFolder folder;
    std::string archive;
    StandIn() {
        CHECK(folder.create("kestrune-fuzz-ssp-").empty());
        archive = folder.path() + "/unit.fmu";
        CHECK(writeZip(archive, {{"modelDescription.xml", "", UNIT_DESCRIPTION}}).empty());
    }
};

class MemoryFiles : public SspFiles {
  public:
    MemoryFiles(std::string ssv, const std::string &unit) : ssv_(std::move(ssv)), unit_(unit) {}
    bool holds(const std::string &source) override {
        return source == "resources/s.ssv" || (source.size() > 4 && source.ends_with(".fmu"));
    }
    // A binding may name a .fmu and a component the .ssv: each is then
    // refused as what it holds would be.
    std::string read(const std::string &source, std::string &text) override {
        text = source == "resources/s.ssv" ? ssv_ : "PK";
        return "";
    }
    std::string file(const std::string &source, std::string &path) override {
        if (!source.ends_with(".fmu"))
            return source + " is no unit archive";
        path = unit_;
        return "";
    }

  private:
    std::string ssv_;
    const std::string &unit_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static const StandIn standIn;
    const std::string input(reinterpret_cast<const char *>(data), size);
    const std::size_t split = input.find('\0');
    const std::string ssd = input.substr(0, split);
    MemoryFiles files(split == std::string::npos ? "" : input.substr(split + 1), standIn.archive);
    SspSystem system;
    const std::string problem = readSystemStructure(ssd, files, system);
    if (problem.empty()) {
        for (const SspConnection &connection : system.connections) {
            CHECK(system.find(connection.startElement) != nullptr);
            CHECK(system.find(connection.endElement) != nullptr);
        }
        for (const SspComponent &component : system.components)
            CHECK(component.archive == standIn.archive);
    }
    return 0;
}
