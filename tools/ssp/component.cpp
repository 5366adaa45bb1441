// Driving one FMI 2.0 or FMI 3.0 co-simulation unit through its library's
// functions.
#include "component.h"

#include <cmath>
#include <iterator>
#include <memory>

namespace kestrune::ssp {

namespace {

const char *statusText(int status) {
    static const char *names[] = {"OK", "Warning", "Discard", "Error", "Fatal", "Pending"};
    return status >= 0 && status <= 5 ? names[status] : "an unknown status";
}

} // namespace

Component::~Component() {
    if (instance_ == nullptr)
        return;
    if (fmi3_) {
        if (initialised_)
            library_.fmi3().fmi3Terminate(instance_);
        library_.fmi3().fmi3FreeInstance(instance_);
    } else {
        if (initialised_)
            library_.fmi().terminate(instance_);
        library_.fmi().freeInstance(instance_);
    }
}

std::string Component::logged() const {
    std::string text;
    for (const master::LogRecord &record : logger_.messages) {
        if (record.status != fmi2OK)
            text += (text.empty() ? "" : "; ") + record.message;
    }
    return text;
}

std::string Component::failure(const std::string &call, int status) {
    const std::string said = logged();
    return "component " + name_ + ": " + call + " returned " + statusText(status) +
           (said.empty() ? "" : " (" + said + ")");
}

std::string Component::open(const SspComponent &component) {
    name_ = component.name;
    if (!fmu_.open(component.archive))
        return "component " + name_ + ": " + fmu_.error();
    if (std::string problem = parseFmuVariables(fmu_.descriptionText(), variables_); !problem.empty())
        return "component " + name_ + ": " + problem;
    fmi3_ = variables_.isFmi3();
    if (!fmu_.description().offersCoSimulation())
        return "component " + name_ + ": the unit offers no co-simulation";
    if (!library_.load(fmu_.libraryPath(), fmi3_ ? master::FmiEdition::Fmi3 : master::FmiEdition::Fmi2))
        return "component " + name_ + ": " + library_.error();
    // Logging on, so that a unit says why it refuses something; its
    // messages of status OK are dropped unformatted.
    logger_.setRecordOk(false);
    const std::string &token = fmu_.description().guid;
    if (fmi3_) {
        // FMI 3.0 takes the resources folder as a path ending in a separator.
        const std::string resources = fmu_.directory() + "/resources/";
        instance_ = library_.fmi3().fmi3InstantiateCoSimulation(
            name_.c_str(), token.c_str(), resources.c_str(), fmi3False, fmi3True, fmi3False, fmi3False,
            nullptr, 0, &logger_, master::RecordingLogger::fmi3Callback(), nullptr);
    } else {
        instance_ =
            library_.fmi().instantiate(name_.c_str(), fmi2CoSimulation, token.c_str(),
                                       fmu_.resourceUri().c_str(), logger_.callbacks(), fmi2False, fmi2True);
    }
    if (instance_ == nullptr) {
        const std::string said = logged();
        return "component " + name_ + ": the unit could not be instantiated" +
               (said.empty() ? "" : " (" + said + ")");
    }
    return "";
}

std::string Component::initialize(double startTime, double stopTime,
                                  const std::vector<SspParameter> &parameters) {
    if (!fmi3_) {
        if (const fmi2Status status =
                library_.fmi().setupExperiment(instance_, fmi2False, 0.0, startTime, fmi2True, stopTime);
            status > fmi2Warning)
            return failure("fmi2SetupExperiment", status);
    }
    for (const SspParameter &parameter : parameters) {
        const FmuVariable *variable = variables_.find(parameter.name);
        if (variable == nullptr)
            continue; // a value for no variable of this unit is ignored
        if (variable->type != parameter.type &&
            !(variable->type == SspType::Real && parameter.type == SspType::Integer))
            return "component " + name_ + ": parameter " + parameter.name + " is given as " +
                   typeName(parameter.type) + " but the variable is " + typeName(variable->type);
        if (std::string problem = set(variable->type, {variable->vr}, {parameter.value}); !problem.empty())
            return problem + " writing parameter " + parameter.name;
    }
    const int entered = fmi3_ ? static_cast<int>(library_.fmi3().fmi3EnterInitializationMode(
                                    instance_, fmi3False, 0.0, startTime, fmi3True, stopTime))
                              : static_cast<int>(library_.fmi().enterInitializationMode(instance_));
    if (entered > fmi2Warning)
        return failure(fmi3_ ? "fmi3EnterInitializationMode" : "fmi2EnterInitializationMode", entered);
    initialised_ = true;
    const int left = fmi3_ ? static_cast<int>(library_.fmi3().fmi3ExitInitializationMode(instance_))
                           : static_cast<int>(library_.fmi().exitInitializationMode(instance_));
    if (left > fmi2Warning)
        return failure(fmi3_ ? "fmi3ExitInitializationMode" : "fmi2ExitInitializationMode", left);
    return "";
}

std::string Component::get(SspType type, const std::vector<std::uint32_t> &vrs, std::vector<double> &values) {
    values.assign(vrs.size(), 0.0);
    if (vrs.empty())
        return "";
    const std::size_t n = vrs.size();
    int status = 0;
    const char *call = "";
    switch (type) {
    case SspType::Real:
        call = fmi3_ ? "fmi3GetFloat64" : "fmi2GetReal";
        status =
            fmi3_
                ? static_cast<int>(library_.fmi3().fmi3GetFloat64(instance_, vrs.data(), n, values.data(), n))
                : static_cast<int>(library_.fmi().getReal(instance_, vrs.data(), n, values.data()));
        break;
    case SspType::Integer: {
        std::vector<std::int32_t> read(n);
        call = fmi3_ ? "fmi3GetInt32" : "fmi2GetInteger";
        status =
            fmi3_ ? static_cast<int>(library_.fmi3().fmi3GetInt32(instance_, vrs.data(), n, read.data(), n))
                  : static_cast<int>(library_.fmi().getInteger(instance_, vrs.data(), n, read.data()));
        for (std::size_t i = 0; i < n; ++i)
            values[i] = read[i];
        break;
    }
    case SspType::Boolean:
        if (fmi3_) {
            const std::unique_ptr<fmi3Boolean[]> read(new fmi3Boolean[n]());
            call = "fmi3GetBoolean";
            status = library_.fmi3().fmi3GetBoolean(instance_, vrs.data(), n, read.get(), n);
            for (std::size_t i = 0; i < n; ++i)
                values[i] = read[i] ? 1.0 : 0.0;
        } else {
            std::vector<fmi2Boolean> read(n);
            call = "fmi2GetBoolean";
            status = library_.fmi().getBoolean(instance_, vrs.data(), n, read.data());
            for (std::size_t i = 0; i < n; ++i)
                values[i] = read[i] != fmi2False ? 1.0 : 0.0;
        }
        break;
    case SspType::Other:
        return "component " + name_ +
               ": a value of a type other than Real, Integer or Boolean cannot be read";
    }
    return status > fmi2Warning ? failure(call, status) : "";
}

std::string Component::set(SspType type, const std::vector<std::uint32_t> &vrs,
                           const std::vector<double> &values) {
    if (vrs.empty())
        return "";
    const std::size_t n = vrs.size();
    int status = 0;
    const char *call = "";
    switch (type) {
    case SspType::Real:
        call = fmi3_ ? "fmi3SetFloat64" : "fmi2SetReal";
        status =
            fmi3_
                ? static_cast<int>(library_.fmi3().fmi3SetFloat64(instance_, vrs.data(), n, values.data(), n))
                : static_cast<int>(library_.fmi().setReal(instance_, vrs.data(), n, values.data()));
        break;
    case SspType::Integer: {
        std::vector<std::int32_t> written(n);
        for (std::size_t i = 0; i < n; ++i) {
            if (!(std::fabs(values[i]) < 2147483648.0))
                return "component " + name_ + ": the value " + std::to_string(values[i]) +
                       " is no 32-bit Integer";
            written[i] = static_cast<std::int32_t>(values[i]);
        }
        call = fmi3_ ? "fmi3SetInt32" : "fmi2SetInteger";
        status =
            fmi3_
                ? static_cast<int>(library_.fmi3().fmi3SetInt32(instance_, vrs.data(), n, written.data(), n))
                : static_cast<int>(library_.fmi().setInteger(instance_, vrs.data(), n, written.data()));
        break;
    }
    case SspType::Boolean:
        if (fmi3_) {
            const std::unique_ptr<fmi3Boolean[]> written(new fmi3Boolean[n]());
            for (std::size_t i = 0; i < n; ++i)
                written[i] = values[i] != 0.0;
            call = "fmi3SetBoolean";
            status = library_.fmi3().fmi3SetBoolean(instance_, vrs.data(), n, written.get(), n);
        } else {
            std::vector<fmi2Boolean> written(n);
            for (std::size_t i = 0; i < n; ++i)
                written[i] = values[i] != 0.0 ? fmi2True : fmi2False;
            call = "fmi2SetBoolean";
            status = library_.fmi().setBoolean(instance_, vrs.data(), n, written.data());
        }
        break;
    case SspType::Other:
        return "component " + name_ +
               ": a value of a type other than Real, Integer or Boolean cannot be written";
    }
    return status > fmi2Warning ? failure(call, status) : "";
}

StepOutcome Component::doStep(double time, double step) {
    message_.clear();
    logger_.clear();
    if (fmi3_) {
        fmi3Boolean eventHandlingNeeded = fmi3False;
        fmi3Boolean terminate = fmi3False;
        fmi3Boolean earlyReturn = fmi3False;
        double lastSuccessfulTime = time;
        const fmi3Status status =
            library_.fmi3().fmi3DoStep(instance_, time, step, fmi3True, &eventHandlingNeeded, &terminate,
                                       &earlyReturn, &lastSuccessfulTime);
        if (status > fmi3Discard) {
            message_ = failure("fmi3DoStep", status);
            return StepOutcome::Failed;
        }
        if (status == fmi3Discard || terminate) {
            stopTime_ = lastSuccessfulTime;
            const std::string said = logged();
            message_ = "component " + name_ + " ended the run" + (said.empty() ? "" : ": " + said);
            return StepOutcome::Stopped;
        }
        return StepOutcome::Done;
    }
    const fmi2Status status = library_.fmi().doStep(instance_, time, step, fmi2True);
    if (status == fmi2Discard) {
        fmi2Real last = time;
        if (library_.fmi().getRealStatus(instance_, fmi2LastSuccessfulTime, &last) > fmi2Warning)
            last = time;
        stopTime_ = last;
        const std::string said = logged();
        message_ = "component " + name_ + " ended the run" + (said.empty() ? "" : ": " + said);
        return StepOutcome::Stopped;
    }
    if (status > fmi2Warning) {
        message_ = failure("fmi2DoStep", status);
        return StepOutcome::Failed;
    }
    return StepOutcome::Done;
}

} // namespace kestrune::ssp
