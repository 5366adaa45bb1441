// kestrune-describe: writes the unit's modelDescription.xml from the variable
// list the library itself is built from (fmu/variables.h), so the two agree by
// construction. Usage: kestrune-describe OUTPUT GENERATION-DATE-AND-TIME
#include "fmu/instance.h"
#include "fmu/variables.h"
#include "model/records.h"

#include <charconv>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

#ifndef KESTRUNE_VERSION
#define KESTRUNE_VERSION "0.0.0"
#endif

namespace {

using namespace kestrune;

const char *causalityName(Causality c) {
    switch (c) {
    case Causality::Input:
        return "input";
    case Causality::Output:
        return "output";
    case Causality::Parameter:
        return "parameter";
    case Causality::Independent:
        return "independent";
    }
    return "local";
}

const char *variabilityName(Variability v) {
    switch (v) {
    case Variability::Continuous:
        return "continuous";
    case Variability::Discrete:
        return "discrete";
    case Variability::Tunable:
        return "tunable";
    }
    return "continuous";
}

const char *initialName(Initial i) {
    switch (i) {
    case Initial::Exact:
        return "exact";
    case Initial::Calculated:
        return "calculated";
    case Initial::None:
        break;
    }
    return nullptr;
}

// The shortest text that reads back as the same double.
std::string real(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::general);
    return std::string(text, result.ptr);
}

std::string escaped(std::string_view text) {
    std::string out;
    for (char ch : text) {
        switch (ch) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += ch;
        }
    }
    return out;
}

std::string describe(const std::string &generationDateAndTime) {
    std::ostringstream x;
    x << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<fmiModelDescription\n"
      << "  fmiVersion=\"2.0\"\n"
      << "  modelName=\"Kestrune\"\n"
      << "  guid=\"" << MODEL_GUID << "\"\n"
      << "  description=\"Fixed-step controller of a three-level neutral-point-clamped converter on a "
         "three-phase grid\"\n"
      << "  version=\"" << KESTRUNE_VERSION << "\"\n"
      << "  generationTool=\"kestrune-describe " << KESTRUNE_VERSION << "\"\n"
      << "  generationDateAndTime=\"" << escaped(generationDateAndTime) << "\"\n"
      << "  variableNamingConvention=\"flat\"\n"
      << "  numberOfEventIndicators=\"0\">\n";
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
      << "    providesDirectionalDerivative=\"false\"/>\n";
    x << "  <UnitDefinitions>\n"
      << "    <Unit name=\"A\"><BaseUnit A=\"1\"/></Unit>\n"
      << "    <Unit name=\"V\"><BaseUnit kg=\"1\" m=\"2\" s=\"-3\" A=\"-1\"/></Unit>\n"
      << "    <Unit name=\"s\"><BaseUnit s=\"1\"/></Unit>\n"
      << "  </UnitDefinitions>\n";
    x << "  <LogCategories>\n"
      << "    <Category name=\"error\" description=\"failed calls, with status fmi2Error\"/>\n"
      << "    <Category name=\"info\" description=\"value access (while logging is on) and stepping, with "
         "status fmi2OK\"/>\n"
      << "  </LogCategories>\n";
    // A master that takes stepSize as its communication step holds the gates
    // over each step: only the base step passes on every gate pattern the
    // modulator makes. 0.1 s keeps a default run at 20,000 steps.
    x << "  <DefaultExperiment startTime=\"0\" stopTime=\"0.1\" stepSize=\"" << real(BASE_STEP) << "\"/>\n";
    x << "  <ModelVariables>\n";
    for (const VariableInfo &v : VARIABLES) {
        x << "    <!-- index " << v.vr + 1 << " -->\n"
          << "    <ScalarVariable name=\"" << v.name << "\" valueReference=\"" << v.vr << "\" description=\""
          << escaped(v.description) << "\" causality=\"" << causalityName(v.causality) << "\" variability=\""
          << variabilityName(v.variability) << '"';
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

} // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::cerr << "usage: kestrune-describe OUTPUT GENERATION-DATE-AND-TIME\n";
        return 2;
    }
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out << describe(argv[2]);
    out.close();
    if (!out) {
        std::cerr << "kestrune-describe: cannot write " << argv[1] << '\n';
        return 1;
    }
    return 0;
}
