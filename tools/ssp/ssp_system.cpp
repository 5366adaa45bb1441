// Names of the system's types and kinds, and lookups by name.
#include "ssp_system.h"

namespace kestrune::ssp {

const char *typeName(SspType type) {
    switch (type) {
    case SspType::Real:
        return "Real";
    case SspType::Integer:
        return "Integer";
    case SspType::Boolean:
        return "Boolean";
    case SspType::Other:
        break;
    }
    return "other";
}

const char *kindName(ConnectorKind kind) {
    switch (kind) {
    case ConnectorKind::Input:
        return "input";
    case ConnectorKind::Output:
        return "output";
    case ConnectorKind::Parameter:
        return "parameter";
    case ConnectorKind::Other:
        break;
    }
    return "other";
}

const SspConnector *SspComponent::find(const std::string &connector) const {
    for (const SspConnector &candidate : connectors) {
        if (candidate.name == connector)
            return &candidate;
    }
    return nullptr;
}

const SspComponent *SspSystem::find(const std::string &component) const {
    for (const SspComponent &candidate : components) {
        if (candidate.name == component)
            return &candidate;
    }
    return nullptr;
}

std::vector<SspParameter> boundParameters(const SspSystem &system, const SspComponent &component) {
    std::vector<SspParameter> parameters = component.parameters;
    const std::string prefix = component.name + ".";
    for (const SspParameter &parameter : system.parameters) {
        if (parameter.name.rfind(prefix, 0) == 0) {
            parameters.push_back(parameter);
            parameters.back().name.erase(0, prefix.size());
        }
    }
    return parameters;
}

} // namespace kestrune::ssp
