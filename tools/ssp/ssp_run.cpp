// The fixed-step loop over a system's components: initialization with the
// bound parameters, the exchanges of either coupling, and the CSV rows.
#include "ssp_run.h"

#include "common/partial_file.h"
#include "component.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <map>
#include <memory>
#include <optional>

namespace kestrune::ssp {

namespace {

constexpr SspType VALUE_TYPES[] = {SspType::Real, SspType::Integer, SspType::Boolean};

// The connectors of one component that the run reads or writes, by type,
// with the column each has in the table of values.
struct Ports {
    std::vector<std::uint32_t> vrs;
    std::vector<std::size_t> columns;
};

struct Participant {
    std::unique_ptr<Component> unit;
    Ports outputs[3];
    // The connected Real inputs and the column each takes its value from.
    Ports inputs;
    std::vector<std::size_t> sources;
    std::vector<double> scratch;
};

std::string number(double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

class Run {
  public:
    Run(const SspSystem &system, const SspRunOptions &options) : system_(system), options_(options) {}

    SspRunResult go() {
        if (std::string problem = setUp(); !problem.empty())
            return fail(problem);
        long long every = 1;
        if (options_.outputInterval > 0.0)
            every = std::max(1LL, std::llround(options_.outputInterval / step_));
        for (long long k = 1; k <= steps_; ++k) {
            const double time = system_.startTime + static_cast<double>(k - 1) * step_;
            const std::string problem =
                options_.coupling == Coupling::Jacobi ? jacobiStep(time) : sequentialStep(time);
            if (!problem.empty())
                return fail(problem);
            if (stopper_ != nullptr) {
                // The outputs stay readable: the row shows where the unit stopped.
                result_.endTime = stopper_->stopTime();
                result_.stopped = stopper_->message();
                for (Participant &participant : participants_) {
                    if (std::string read = readOutputs(participant); !read.empty())
                        return fail(read);
                }
                if (result_.endTime != lastRow_)
                    writeRow(result_.endTime);
                break;
            }
            result_.steps = k;
            result_.endTime = system_.startTime + static_cast<double>(k) * step_;
            if (k % every == 0 || k == steps_)
                writeRow(result_.endTime);
        }
        return finish();
    }

  private:
    SspRunResult fail(const std::string &problem) {
        result_.error = problem;
        finish();
        return result_;
    }

    // The CSV takes its name only when the run has completed: a run that
    // fails leaves an earlier CSV of the name as it was.
    SspRunResult finish() {
        if (csv_.is_open()) {
            csv_.close();
            if (!csv_ && result_.error.empty())
                result_.error = "cannot write " + options_.csvPath;
        }
        if (partial_) {
            if (!result_.error.empty())
                partial_->discard();
            else if (std::string problem = partial_->commit(); !problem.empty())
                result_.error = problem;
            partial_.reset();
        }
        return result_;
    }

    std::string setUp() {
        step_ = options_.step > 0.0 ? options_.step : system_.step;
        if (!(step_ > 0.0))
            return std::string("no communication step: the system carries no ") + STEP_ANNOTATION +
                   " annotation, so give one";
        const double stop = options_.stopTime >= 0.0 ? options_.stopTime : system_.stopTime;
        if (!(stop > system_.startTime))
            return "the stop time " + number(stop) + " s is not after the start time " +
                   number(system_.startTime) + " s";
        const double count = (stop - system_.startTime) / step_;
        steps_ = std::llround(count);
        if (std::fabs(count - static_cast<double>(steps_)) > 1e-6 || steps_ < 1)
            return "the run of " + number(stop - system_.startTime) + " s is no whole number of " +
                   number(step_) + " s steps";

        std::vector<std::string> header{"time"};
        for (const SspComponent &component : system_.components) {
            Participant participant;
            participant.unit = std::make_unique<Component>();
            if (std::string problem = participant.unit->open(component); !problem.empty())
                return problem;
            const FmuVariables &variables = participant.unit->variables();
            for (const SspConnector &connector : component.connectors) {
                const FmuVariable *variable = variables.find(connector.name);
                if (variable == nullptr || variable->type == SspType::Other ||
                    (connector.kind != ConnectorKind::Input && connector.kind != ConnectorKind::Output))
                    continue;
                const std::size_t column = values_.size();
                columnOf_[component.name + "." + connector.name] = column;
                header.push_back(component.name + "." + connector.name);
                values_.push_back(variable->start);
                if (connector.kind == ConnectorKind::Output) {
                    Ports &ports = participant.outputs[static_cast<int>(variable->type)];
                    ports.vrs.push_back(variable->vr);
                    ports.columns.push_back(column);
                }
            }
            participants_.push_back(std::move(participant));
        }
        warnUnboundParameters();
        for (const SspConnection &connection : system_.connections) {
            const auto from = columnOf_.find(connection.startElement + "." + connection.startConnector);
            const auto to = columnOf_.find(connection.endElement + "." + connection.endConnector);
            std::size_t index = 0;
            while (index < system_.components.size() &&
                   system_.components[index].name != connection.endElement)
                ++index;
            if (from == columnOf_.end() || to == columnOf_.end() || index == system_.components.size())
                return "the connection " + connection.startElement + "." + connection.startConnector +
                       " -> " + connection.endElement + "." + connection.endConnector +
                       " joins no output to an input";
            Participant &participant = participants_[index];
            participant.inputs.vrs.push_back(participant.unit->variables().find(connection.endConnector)->vr);
            participant.inputs.columns.push_back(to->second);
            participant.sources.push_back(from->second);
        }
        for (std::size_t i = 0; i < participants_.size(); ++i) {
            const SspComponent &component = system_.components[i];
            if (std::string problem = participants_[i].unit->initialize(system_.startTime, stop,
                                                                        boundParameters(system_, component));
                !problem.empty())
                return problem;
        }
        for (Participant &participant : participants_) {
            if (std::string problem = readOutputs(participant); !problem.empty())
                return problem;
        }
        if (!options_.csvPath.empty()) {
            partial_.emplace(options_.csvPath);
            csv_.open(partial_->path(), std::ios::trunc);
            if (!csv_)
                return "cannot write " + options_.csvPath;
            for (std::size_t i = 0; i < header.size(); ++i)
                csv_ << (i == 0 ? "" : ",") << header[i];
            csv_ << '\n';
        }
        writeRow(system_.startTime);
        return "";
    }

    void warnUnboundParameters() {
        for (std::size_t i = 0; i < participants_.size(); ++i) {
            for (const SspParameter &parameter : system_.components[i].parameters) {
                if (participants_[i].unit->variables().find(parameter.name) == nullptr)
                    result_.warnings.push_back("component " + system_.components[i].name +
                                               ": the parameter " + parameter.name +
                                               " names no variable of its unit; ignored");
            }
        }
        for (const SspParameter &parameter : system_.parameters) {
            bool bound = false;
            for (std::size_t i = 0; i < participants_.size() && !bound; ++i) {
                const std::string &name = system_.components[i].name;
                bound = parameter.name.size() > name.size() && parameter.name.rfind(name + ".", 0) == 0 &&
                        participants_[i].unit->variables().find(parameter.name.substr(name.size() + 1)) !=
                            nullptr;
            }
            if (!bound)
                result_.warnings.push_back("the parameter " + parameter.name +
                                           " names no variable of any component; ignored");
        }
    }

    std::string readOutputs(Participant &participant) {
        for (SspType type : VALUE_TYPES) {
            Ports &ports = participant.outputs[static_cast<int>(type)];
            if (std::string problem = participant.unit->get(type, ports.vrs, participant.scratch);
                !problem.empty())
                return problem;
            for (std::size_t i = 0; i < ports.columns.size(); ++i)
                values_[ports.columns[i]] = participant.scratch[i];
        }
        return "";
    }

    std::string writeInputs(Participant &participant) {
        participant.scratch.resize(participant.sources.size());
        for (std::size_t i = 0; i < participant.sources.size(); ++i) {
            values_[participant.inputs.columns[i]] = values_[participant.sources[i]];
            participant.scratch[i] = values_[participant.sources[i]];
        }
        return participant.unit->set(SspType::Real, participant.inputs.vrs, participant.scratch);
    }

    // Steps one unit; false when the run ends here (stopper_ set, or the
    // problem returned).
    std::string step(Participant &participant, double time) {
        switch (participant.unit->doStep(time, step_)) {
        case StepOutcome::Done:
            return "";
        case StepOutcome::Stopped:
            stopper_ = participant.unit.get();
            return "";
        case StepOutcome::Failed:
            break;
        }
        return participant.unit->message();
    }

    std::string jacobiStep(double time) {
        for (Participant &participant : participants_) {
            if (std::string problem = step(participant, time); !problem.empty() || stopper_ != nullptr)
                return problem;
        }
        for (Participant &participant : participants_) {
            if (std::string problem = readOutputs(participant); !problem.empty())
                return problem;
        }
        for (Participant &participant : participants_) {
            if (std::string problem = writeInputs(participant); !problem.empty())
                return problem;
        }
        return "";
    }

    std::string sequentialStep(double time) {
        for (Participant &participant : participants_) {
            if (std::string problem = writeInputs(participant); !problem.empty())
                return problem;
            if (std::string problem = step(participant, time); !problem.empty() || stopper_ != nullptr)
                return problem;
            if (std::string problem = readOutputs(participant); !problem.empty())
                return problem;
        }
        return "";
    }

    void writeRow(double time) {
        lastRow_ = time;
        if (!csv_.is_open())
            return;
        csv_ << number(time);
        for (double value : values_)
            csv_ << ',' << number(value);
        csv_ << '\n';
    }

    const SspSystem &system_;
    const SspRunOptions &options_;
    double step_ = 0.0;
    long long steps_ = 0;
    std::vector<Participant> participants_;
    std::vector<double> values_;
    std::map<std::string, std::size_t> columnOf_;
    std::optional<PartialFile> partial_;
    std::ofstream csv_;
    Component *stopper_ = nullptr;
    double lastRow_ = 0.0;
    SspRunResult result_;
};

} // namespace

SspRunResult runSsp(const SspSystem &system, const SspRunOptions &options) {
    return Run(system, options).go();
}

} // namespace kestrune::ssp
