// kestrune-describe: writes the modelDescription.xml of either edition from
// the variable list both libraries are built from (fmu/variables.h), so the
// descriptions and the libraries agree by construction.
// Usage: kestrune-describe [--fmi3 | --fmi3-scheduled] OUTPUT GENERATION-DATE-AND-TIME [SOURCE...]
//        kestrune-describe --plant OUTPUT GENERATION-DATE-AND-TIME
//        kestrune-describe --check FILE...
// The FMI 2.0 description lists the SOURCE files (relative to the archive's
// sources folder) in <SourceFiles>; the FMI 3.0 archives list them in their
// sources/buildDescription.xml instead. The FMI 3.0 library offers
// co-simulation and scheduled execution; each of its two archives describes
// one of them (--fmi3 co-simulation, --fmi3-scheduled scheduled execution).
// --plant writes the plant FMU's description (plant_description.h).
// --check checks descriptions against the standard's rules that a schema
// cannot express (check.h).
#include "check.h"
#include "common/interruption.h"
#include "common/markup_text.h"
#include "common/partial_file.h"
#include "fmu/variables.h"
#include "identity.h"
#include "plant_description.h"
#include "variable_words.h"

#include <charconv>
#include <fstream>
#include <iostream>
#include <limits>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#ifndef KESTRUNE_VERSION
#define KESTRUNE_VERSION "0.0.0"
#endif

namespace {

using namespace kestrune;

using describe::causalityName;
using describe::initialName;
using describe::variabilityName;

// The shortest text that reads back as the same double.
std::string real(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::general);
    return std::string(text, result.ptr);
}

// The attributes both editions give the model after its version, name and
// identity.
void commonAttributes(std::ostringstream &x, const std::string &generationDateAndTime) {
    x << "  description=\"Fixed-step controller of a three-level neutral-point-clamped converter on a "
         "three-phase grid\"\n"
      << "  version=\"" << KESTRUNE_VERSION << "\"\n"
      << "  generationTool=\"kestrune-describe " << KESTRUNE_VERSION << "\"\n"
      << "  generationDateAndTime=\"" << kestrune::markupEscaped(generationDateAndTime) << "\"\n"
      << "  variableNamingConvention=\"flat\"";
}

void unitDefinitions(std::ostringstream &x) {
    x << "  <UnitDefinitions>\n"
      << "    <Unit name=\"A\"><BaseUnit A=\"1\"/></Unit>\n"
      << "    <Unit name=\"V\"><BaseUnit kg=\"1\" m=\"2\" s=\"-3\" A=\"-1\"/></Unit>\n"
      << "    <Unit name=\"s\"><BaseUnit s=\"1\"/></Unit>\n"
      << "  </UnitDefinitions>\n";
}

// A master that takes stepSize as its communication step holds the gates
// over each step: only the base step passes on every gate pattern the
// modulator makes. 0.1 s keeps a default run at 20,000 steps.
void defaultExperiment(std::ostringstream &x) {
    x << "  <DefaultExperiment startTime=\"0\" stopTime=\"0.1\" stepSize=\"" << real(BASE_STEP) << "\"/>\n";
}

std::string describeFmi2(const std::string &generationDateAndTime, const std::vector<std::string> &sources) {
    std::ostringstream x;
    x << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<fmiModelDescription\n"
      << "  fmiVersion=\"2.0\"\n"
      << "  modelName=\"Kestrune\"\n"
      << "  guid=\"" << MODEL_GUID << "\"\n";
    commonAttributes(x, generationDateAndTime);
    x << "\n  numberOfEventIndicators=\"0\">\n";
    // All model data is static and exists once per loaded library, memory
    // comes from the C heap, and there is no state save or derivative.
    x << "  <CoSimulation\n"
      << "    modelIdentifier=\"Kestrune_win64\"\n"
      << "    needsExecutionTool=\"false\"\n"
      << "    canHandleVariableCommunicationStepSize=\"true\"\n"
      << "    canInterpolateInputs=\"false\"\n"
      << "    maxOutputDerivativeOrder=\"0\"\n"
      << "    canRunAsynchronuously=\"false\"\n"
      << "    canBeInstantiatedOnlyOncePerProcess=\"true\"\n"
      << "    canNotUseMemoryManagementFunctions=\"true\"\n"
      << "    canGetAndSetFMUstate=\"false\"\n"
      << "    canSerializeFMUstate=\"false\"\n"
      << "    providesDirectionalDerivative=\"false\"";
    if (sources.empty()) {
        x << "/>\n";
    } else {
        x << ">\n    <SourceFiles>\n";
        for (const std::string &source : sources)
            x << "      <File name=\"" << kestrune::markupEscaped(source) << "\"/>\n";
        x << "    </SourceFiles>\n  </CoSimulation>\n";
    }
    unitDefinitions(x);
    x << "  <LogCategories>\n"
      << "    <Category name=\"error\" description=\"failed calls, with status fmi2Error\"/>\n"
      << "    <Category name=\"info\" description=\"value access (while logging is on) and stepping, with "
         "status fmi2OK\"/>\n"
      << "  </LogCategories>\n";
    defaultExperiment(x);
    x << "  <ModelVariables>\n";
    for (const VariableInfo &v : VARIABLES) {
        x << "    <!-- index " << v.vr + 1 << " -->\n"
          << "    <ScalarVariable name=\"" << v.name << "\" valueReference=\"" << v.vr << "\" description=\""
          << kestrune::markupEscaped(v.description) << "\" causality=\"" << causalityName(v.causality)
          << "\" variability=\"" << variabilityName(v.variability) << '"';
        if (const char *initial = initialName(v.initial))
            x << " initial=\"" << initial << '"';
        x << ">\n      <Real";
        if (*v.unit != '\0')
            x << " unit=\"" << v.unit << '"';
        if (v.hasStart)
            x << " start=\"" << real(v.start) << '"';
        x << "/>\n    </ScalarVariable>\n";
    }
    x << "  </ModelVariables>\n";
    // Variables are listed in value-reference order, so a variable's index
    // (counted from 1) is its value reference plus one.
    std::ostringstream outputs;
    std::ostringstream initialUnknowns;
    for (const VariableInfo &v : VARIABLES) {
        if (v.causality != Causality::Output)
            continue;
        outputs << "      <Unknown index=\"" << v.vr + 1 << "\"/>\n";
        if (v.initial == Initial::Calculated)
            initialUnknowns << "      <Unknown index=\"" << v.vr + 1 << "\"/>\n";
    }
    x << "  <ModelStructure>\n"
      << "    <Outputs>\n"
      << outputs.str() << "    </Outputs>\n"
      << "    <InitialUnknowns>\n"
      << initialUnknowns.str() << "    </InitialUnknowns>\n"
      << "  </ModelStructure>\n"
      << "</fmiModelDescription>\n";
    return x.str();
}

// The interface an FMI 3.0 description offers.
enum class Fmi3Interface { CoSimulation, ScheduledExecution };

// In scheduled execution the measurements and the gates belong to the
// base-rate partition: its filters read every measurement each base step,
// and it writes the gates. Clocked variables are discrete, and they stay out
// of the InitialUnknowns: the first base-rate activation sets the gates.
bool clockedInScheduledExecution(const VariableInfo &v) {
    return v.causality == Causality::Input || v.causality == Causality::Output;
}

std::string describeFmi3(const std::string &generationDateAndTime, Fmi3Interface offered) {
    const bool scheduled = offered == Fmi3Interface::ScheduledExecution;
    std::ostringstream x;
    x << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<fmiModelDescription\n"
      << "  fmiVersion=\"3.0\"\n"
      << "  modelName=\"Kestrune\"\n"
      << "  instantiationToken=\"" << INSTANTIATION_TOKEN << "\"\n";
    commonAttributes(x, generationDateAndTime);
    x << ">\n";
    // Every instance owns its model, so any number of them share a process
    // and their states can be saved; the unit steps in whole base steps,
    // without clocks, events, intermediate updates or early returns.
    if (!scheduled)
        x << "  <CoSimulation\n"
          << "    modelIdentifier=\"Kestrune_fmi3\"\n"
          << "    needsExecutionTool=\"false\"\n"
          << "    canBeInstantiatedOnlyOncePerProcess=\"false\"\n"
          << "    canGetAndSetFMUState=\"true\"\n"
          << "    canSerializeFMUState=\"true\"\n"
          << "    providesDirectionalDerivatives=\"false\"\n"
          << "    providesAdjointDerivatives=\"false\"\n"
          << "    canHandleVariableCommunicationStepSize=\"true\"\n"
          << "    fixedInternalStepSize=\"" << real(BASE_STEP) << "\"\n"
          << "    maxOutputDerivativeOrder=\"0\"\n"
          << "    providesIntermediateUpdate=\"false\"\n"
          << "    mightReturnEarlyFromDoStep=\"false\"\n"
          << "    canReturnEarlyAfterIntermediateUpdate=\"false\"\n"
          << "    hasEventMode=\"false\"/>\n";
    // The same library runs the two rates as two partitions, each activated
    // by its own input clock. FMU states are offered for co-simulation only.
    if (scheduled)
        x << "  <ScheduledExecution\n"
          << "    modelIdentifier=\"Kestrune_fmi3\"\n"
          << "    needsExecutionTool=\"false\"\n"
          << "    canBeInstantiatedOnlyOncePerProcess=\"false\"\n"
          << "    canGetAndSetFMUState=\"false\"\n"
          << "    canSerializeFMUState=\"false\"\n"
          << "    providesDirectionalDerivatives=\"false\"\n"
          << "    providesAdjointDerivatives=\"false\"/>\n";
    unitDefinitions(x);
    x << "  <LogCategories>\n"
      << "    <Category name=\"logStatusError\" description=\"why a call returned fmi3Error\"/>\n";
    // Scheduled execution has no communication steps to report.
    if (!scheduled)
        x << "    <Category name=\"logStep\" description=\"two messages per communication step: its size and "
             "its base steps\"/>\n";
    x << "    <Category name=\"logAccess\" description=\"every variable read or written\"/>\n"
      << "  </LogCategories>\n";
    defaultExperiment(x);
    x << "  <ModelVariables>\n";
    for (const VariableInfo &v : VARIABLES) {
        const bool clocked = scheduled && clockedInScheduledExecution(v);
        x << "    <Float64 name=\"" << v.name << "\" valueReference=\"" << v.vr << "\" description=\""
          << kestrune::markupEscaped(v.description) << "\" causality=\"" << causalityName(v.causality)
          << "\" variability=\"" << variabilityName(clocked ? Variability::Discrete : v.variability) << '"';
        if (clocked)
            x << " clocks=\"" << VR_BASE_RATE_CLOCK << '"';
        if (const char *initial = initialName(v.initial))
            x << " initial=\"" << initial << '"';
        if (*v.unit != '\0')
            x << " unit=\"" << v.unit << '"';
        // The one parameter takes finite positive values only.
        if (v.vr == VR_MEAN_SAMPLE_TIME)
            x << " min=\"" << real(std::numeric_limits<double>::denorm_min()) << "\" max=\""
              << real(std::numeric_limits<double>::max()) << '"';
        if (v.hasStart)
            x << " start=\"" << real(v.start) << '"';
        x << "/>\n";
    }
    // Priorities by rate: the faster clock is the more urgent (smaller is
    // more urgent).
    if (scheduled) {
        x << "    <Clock name=\"baseRateClock\" valueReference=\"" << VR_BASE_RATE_CLOCK
          << "\" description=\"activates the base-rate partition: measurement filters, modulator and gates\" "
             "causality=\"input\" intervalVariability=\"constant\" intervalDecimal=\""
          << real(BASE_STEP) << "\" priority=\"0\"/>\n";
        x << "    <Clock name=\"slowRateClock\" valueReference=\"" << VR_SLOW_RATE_CLOCK
          << "\" description=\"activates the slow-rate partition: phase-locked loop, means and regulators\" "
             "causality=\"input\" intervalVariability=\"constant\" intervalDecimal=\""
          << real(SLOW_STEP) << "\" priority=\"1\"/>\n";
    }
    x << "  </ModelVariables>\n";
    std::ostringstream outputs;
    std::ostringstream initialUnknowns;
    for (const VariableInfo &v : VARIABLES) {
        if (v.causality != Causality::Output)
            continue;
        outputs << "    <Output valueReference=\"" << v.vr << "\"/>\n";
        if (v.initial == Initial::Calculated && !(scheduled && clockedInScheduledExecution(v)))
            initialUnknowns << "    <InitialUnknown valueReference=\"" << v.vr << "\"/>\n";
    }
    x << "  <ModelStructure>\n"
      << outputs.str() << initialUnknowns.str() << "  </ModelStructure>\n"
      << "</fmiModelDescription>\n";
    return x.str();
}

int run(int argc, char **argv) {
    const std::string_view mode = argc >= 2 ? std::string_view(argv[1]) : std::string_view();
    if (mode == "--check") {
        if (argc < 3) {
            std::cerr << "usage: kestrune-describe --check FILE...\n";
            return 2;
        }
        return kestrune::describe::checkFiles(std::vector<std::string>(argv + 2, argv + argc), std::cout,
                                              std::cerr);
    }
    const bool fmi3 = mode == "--fmi3" || mode == "--fmi3-scheduled";
    const bool plant = mode == "--plant";
    const int first = fmi3 || plant ? 2 : 1;
    if (argc < first + 2) {
        std::cerr << "usage: kestrune-describe [--fmi3 | --fmi3-scheduled] OUTPUT GENERATION-DATE-AND-TIME "
                     "[SOURCE...]\n"
                     "       kestrune-describe --plant OUTPUT GENERATION-DATE-AND-TIME\n"
                     "       kestrune-describe --check FILE...\n";
        return 2;
    }
    const char *path = argv[first];
    const std::string generated = argv[first + 1];
    const std::vector<std::string> sources(argv + first + 2, argv + argc);
    const Fmi3Interface offered =
        mode == "--fmi3-scheduled" ? Fmi3Interface::ScheduledExecution : Fmi3Interface::CoSimulation;
    kestrune::setInterruptedWork(std::string("writing ") + path);
    const std::string description = plant  ? kestrune::describe::describePlant(generated, KESTRUNE_VERSION)
                                    : fmi3 ? describeFmi3(generated, offered)
                                           : describeFmi2(generated, sources);
    if (const std::string problem = kestrune::writeWholeFile(path, description); !problem.empty()) {
        std::cerr << "kestrune-describe: " << problem << '\n';
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    kestrune::watchForInterruption("kestrune-describe");
    return kestrune::runGuarded([&] { return run(argc, argv); });
}
