// A system of co-simulation units as an .ssp describes it: its components
// (each an .fmu), their connectors, the connections between them, the
// parameter values bound to it and its default experiment.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace kestrune::ssp {

// The connector and parameter types this system carries: FMI 2.0's Real,
// Integer and Boolean (FMI 3.0's Float64, Int32 and Boolean). Other is any
// other type; such a connector may exist but may not be connected.
enum class SspType { Real, Integer, Boolean, Other };
enum class ConnectorKind { Input, Output, Parameter, Other };

const char *typeName(SspType type);
const char *kindName(ConnectorKind kind);

struct SspConnector {
    std::string name;
    ConnectorKind kind = ConnectorKind::Input;
    SspType type = SspType::Real;
};

// A value for one parameter; Integer and Boolean values are whole numbers
// (Boolean 0 or 1) held as doubles.
struct SspParameter {
    std::string name;
    SspType type = SspType::Real;
    double value = 0.0;
};

struct SspComponent {
    std::string name;
    // The .fmu on this machine: embedded by writeSsp, unpacked by readSsp.
    std::string archive;
    // Its place in the .ssp, "resources/NAME.fmu".
    std::string source;
    // "2.0" or "3.0", from its modelDescription.
    std::string fmiVersion;
    std::vector<SspConnector> connectors;
    // Bound to this component alone, under its variables' own names.
    std::vector<SspParameter> parameters;

    const SspConnector *find(const std::string &connector) const;
};

struct SspConnection {
    std::string startElement, startConnector; // an output
    std::string endElement, endConnector;     // an input
};

struct SspSystem {
    std::string name;
    std::string description;
    std::vector<SspComponent> components;
    std::vector<SspConnection> connections;
    // Bound to the system: each named "component.variable". Written to
    // resources/<parameterSetName>.ssv (the system's name when empty).
    std::vector<SspParameter> parameters;
    std::string parameterSetName;
    double startTime = 0.0;
    double stopTime = 0.0;
    // The communication step (org.kestrune.step annotation); 0 when absent.
    double step = 0.0;
    // Keeps the folder an .ssp was unpacked into while the system is used.
    std::shared_ptr<void> unpacked;

    const SspComponent *find(const std::string &component) const;
};

// The values bound to component: its own bindings, then the system's named
// "<component>.<variable>", which take precedence (the later of two values
// for one variable wins); under the variables' own names.
std::vector<SspParameter> boundParameters(const SspSystem &system, const SspComponent &component);

// The annotation type that carries the communication step in the default
// experiment, and the element and attribute inside it.
inline constexpr const char *STEP_ANNOTATION = "org.kestrune.step";
inline constexpr const char *STEP_NAMESPACE = "urn:org.kestrune:ssp";
inline constexpr const char *STEP_ELEMENT = "Step";
inline constexpr const char *STEP_ATTRIBUTE = "size";

} // namespace kestrune::ssp
