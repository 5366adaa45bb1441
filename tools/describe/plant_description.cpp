#include "plant_description.h"

#include "common/markup_text.h"
#include "identity.h"
#include "plant_layout.h"
#include "plant_variables.h"

#include <charconv>
#include <sstream>

namespace kestrune::describe {

namespace {

using namespace kestrune::plantfmu;

// The shortest text that reads back as the same double.
std::string real(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::general);
    return std::string(text, result.ptr);
}

void unitDefinitions(std::ostringstream &x) {
    x << "  <UnitDefinitions>\n"
      << "    <Unit name=\"V\"><BaseUnit kg=\"1\" m=\"2\" s=\"-3\" A=\"-1\"/></Unit>\n"
      << "    <Unit name=\"A\"><BaseUnit A=\"1\"/></Unit>\n"
      << "    <Unit name=\"s\"><BaseUnit s=\"1\"/></Unit>\n"
      << "    <Unit name=\"Hz\"><BaseUnit s=\"-1\"/></Unit>\n"
      << "    <Unit name=\"H\"><BaseUnit kg=\"1\" m=\"2\" s=\"-2\" A=\"-2\"/></Unit>\n"
      << "    <Unit name=\"Ohm\"><BaseUnit kg=\"1\" m=\"2\" s=\"-3\" A=\"-2\"/></Unit>\n"
      << "    <Unit name=\"F\"><BaseUnit kg=\"-1\" m=\"-2\" s=\"4\" A=\"2\"/></Unit>\n"
      << "    <Unit name=\"W\"><BaseUnit kg=\"1\" m=\"2\" s=\"-3\"/></Unit>\n"
      << "    <Unit name=\"var\"><BaseUnit kg=\"1\" m=\"2\" s=\"-3\"/></Unit>\n"
      << "    <Unit name=\"deg\"><BaseUnit rad=\"1\" factor=\"" << real(0.017453292519943295)
      << "\"/></Unit>\n"
      << "  </UnitDefinitions>\n";
}

void variable(std::ostringstream &x, const PlantVariable &v) {
    const bool parameter = v.causality == VariableCausality::Parameter;
    const bool output = v.causality == VariableCausality::Output;
    const char *causality = parameter ? "parameter" : output ? "output" : "input";
    const char *variability = parameter ? "fixed" : v.type == VariableType::Real ? "continuous" : "discrete";
    x << "    <ScalarVariable name=\"" << v.name << "\" valueReference=\"" << v.vr << "\" description=\""
      << markupEscaped(v.description) << "\" causality=\"" << causality << "\" variability=\"" << variability
      << '"';
    if (parameter)
        x << " initial=\"exact\"";
    else if (output)
        x << " initial=\"calculated\"";
    x << ">\n      <"
      << (v.type == VariableType::Real      ? "Real"
          : v.type == VariableType::Integer ? "Integer"
                                            : "Boolean");
    if (*v.unit != '\0')
        x << " unit=\"" << v.unit << '"';
    if (v.bounded)
        x << " min=\"" << v.min << "\" max=\"" << v.max << '"';
    if (!output) {
        if (v.type == VariableType::Real)
            x << " start=\"" << real(v.start) << '"';
        else if (v.type == VariableType::Integer)
            x << " start=\"" << static_cast<int>(v.start) << '"';
        else
            x << " start=\"" << (v.start != 0.0 ? "true" : "false") << '"';
    }
    x << "/>\n    </ScalarVariable>\n";
}

} // namespace

std::string describePlant(const std::string &generationDateAndTime, const std::string &version) {
    std::ostringstream x;
    x << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<fmiModelDescription\n"
      << "  fmiVersion=\"2.0\"\n"
      << "  modelName=\"" << PLANT_MODEL_NAME << "\"\n"
      << "  guid=\"" << PLANT_GUID << "\"\n"
      << "  description=\"Three-phase grid with scheduled events, stiff or behind an impedance, and up to 4 "
         "three-level converters with their DC links on its PCC\"\n"
      << "  version=\"" << version << "\"\n"
      << "  generationTool=\"kestrune-describe " << version << "\"\n"
      << "  generationDateAndTime=\"" << markupEscaped(generationDateAndTime) << "\"\n"
      << "  variableNamingConvention=\"structured\"\n"
      << "  numberOfEventIndicators=\"0\">\n";
    // Every instance owns its plant; the plant steps in whole base steps.
    x << "  <CoSimulation\n"
      << "    modelIdentifier=\"" << PLANT_MODEL_IDENTIFIER << "\"\n"
      << "    needsExecutionTool=\"false\"\n"
      << "    canHandleVariableCommunicationStepSize=\"true\"\n"
      << "    canInterpolateInputs=\"false\"\n"
      << "    maxOutputDerivativeOrder=\"0\"\n"
      << "    canRunAsynchronuously=\"false\"\n"
      << "    canBeInstantiatedOnlyOncePerProcess=\"false\"\n"
      << "    canNotUseMemoryManagementFunctions=\"true\"\n"
      << "    canGetAndSetFMUstate=\"false\"\n"
      << "    canSerializeFMUstate=\"false\"\n"
      << "    providesDirectionalDerivative=\"false\"/>\n";
    unitDefinitions(x);
    x << "  <LogCategories>\n"
      << "    <Category name=\"logStatusError\" description=\"why a call returned fmi2Error\"/>\n"
      << "    <Category name=\"logStatusDiscard\" description=\"why the plant stopped: it diverged\"/>\n"
      << "    <Category name=\"logAll\" description=\"each communication step's base steps, while logging is "
         "on\"/>\n"
      << "  </LogCategories>\n";
    x << "  <DefaultExperiment startTime=\"0\" stopTime=\"0.1\" stepSize=\"" << real(BASE_STEP) << "\"/>\n";
    x << "  <ModelVariables>\n";
    const std::vector<PlantVariable> &list = plantVariables();
    for (const PlantVariable &v : list)
        variable(x, v);
    x << "  </ModelVariables>\n";
    // ModelStructure names variables by their index in ModelVariables, from 1.
    std::ostringstream outputs;
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i].causality == VariableCausality::Output)
            outputs << "      <Unknown index=\"" << i + 1 << "\"/>\n";
    x << "  <ModelStructure>\n"
      << "    <Outputs>\n"
      << outputs.str() << "    </Outputs>\n"
      << "    <InitialUnknowns>\n"
      << outputs.str() << "    </InitialUnknowns>\n"
      << "  </ModelStructure>\n"
      << "</fmiModelDescription>\n";
    return x.str();
}

} // namespace kestrune::describe
