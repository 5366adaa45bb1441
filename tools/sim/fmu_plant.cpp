#include "fmu_plant.h"

#include "plant_fmu_parameters.h"

#include <bit>
#include <cmath>
#include <string_view>

namespace kestrune::sim {

namespace {

// Whether two sets of gates are equal bit for bit (equal bits hold equal
// levels).
bool sameBits(const master::Gates &a, const master::Gates &b) {
    for (std::size_t k = 0; k < a.size(); ++k)
        if (std::bit_cast<std::uint64_t>(a[k]) != std::bit_cast<std::uint64_t>(b[k]))
            return false;
    return true;
}

// The plant FMU logs a divergence as "the plant diverged at t = T s: WHY";
// the loop reports WHY with the time beside it, as for the native plant.
std::string divergenceReason(const std::string &message) {
    constexpr std::string_view LEAD = "the plant diverged at t = ";
    const std::size_t end = message.find(" s: ");
    if (message.starts_with(LEAD) && end != std::string::npos)
        return message.substr(end + 4);
    return message;
}

} // namespace

std::string FmuPlant::open(const std::string &archive, const Scenario &scenario, bool verbose) {
    std::vector<PlantFmuParameter> parameters;
    if (std::string problem = plantFmuParameters(scenario, parameters); !problem.empty())
        return problem;
    converters_ = sim::converterCount(scenario);
    // Its information (each step's, with verbose) is echoed, never kept.
    logger_.setEcho(verbose);
    logger_.setRecordOk(false);
    if (std::string problem = fmu_.open(archive, converters_, logger_); !problem.empty())
        return problem;
    if (std::string problem = fmu_.instantiate("plant", verbose); !problem.empty())
        return archive + ": " + problem;
    if (std::string problem = fmu_.initialize(parameters); !problem.empty())
        return archive + ": " + problem;
    written_.assign(converters_, master::Gates{});
    writtenKnown_.assign(converters_, 0);
    fetch();
    logger_.clear();
    return failure_.empty() ? "" : archive + ": " + failure_;
}

void FmuPlant::fetch() {
    stale_ = false;
    if (!fmu_.read(outputs_) && failure_.empty())
        failure_ = fmu_.failure();
}

void FmuPlant::setGates(std::size_t converter, const master::Gates &gates) {
    // Every write counts until the first: under jacobi the plant is told the
    // zero gates it holds over the first step, as the native plant holds them.
    if (stoppedInside_ || (writtenKnown_[converter] && sameBits(written_[converter], gates)))
        return;
    if (!fmu_.setGates(converter, gates)) {
        if (failure_.empty())
            failure_ = fmu_.failure();
        return;
    }
    written_[converter] = gates;
    writtenKnown_[converter] = 1;
    stale_ = true;
}

void FmuPlant::doStep(double t, double h, PlantStepResult &result) {
    result.status = PlantStepResult::Status::Ok;
    if (!failure_.empty()) {
        result = {.status = PlantStepResult::Status::Failed,
                  .reason = "the plant FMU: " + failure_,
                  .lastSuccessfulTime = time()};
        return;
    }
    if (h != step_) {
        step_ = h;
        perStep_ = static_cast<std::int64_t>(std::llround(h / BASE_STEP));
    }
    const PlantFmu::Step status = fmu_.doStep(t, h);
    stale_ = true;
    if (status == PlantFmu::Step::Ok) {
        baseSteps_ += perStep_;
        if (!logger_.messages.empty()) // echoed information
            logger_.clear();
        return;
    }
    if (status == PlantFmu::Step::Terminated) {
        const double stop = fmu_.lastSuccessfulTime();
        const auto reached = static_cast<std::int64_t>(std::llround(stop / BASE_STEP));
        stoppedInside_ = reached < baseSteps_ + perStep_;
        baseSteps_ = reached;
        result = {.status = PlantStepResult::Status::Terminated,
                  .reason = divergenceReason(fmu_.failure()),
                  .lastSuccessfulTime = stop};
    } else {
        result = {.status = PlantStepResult::Status::Failed,
                  .reason = "the plant FMU: " + fmu_.failure(),
                  .lastSuccessfulTime = time()};
    }
    logger_.clear();
}

void FmuPlant::read(PlantSignals &signals) {
    settle();
    signals.time = time();
    signals.step = baseSteps_;
    signals.gridFrequency = outputs_.frequency;
    signals.source = outputs_.source;
    signals.pcc = outputs_.pcc;
    signals.converters.resize(converters_);
    for (std::size_t j = 0; j < converters_; ++j) {
        const PlantOutputs::Converter &o = outputs_.converters[j];
        ConverterSignals &c = signals.converters[j];
        c.measurements = o.measured;
        c.activePower = o.activePower;
        c.reactivePower = o.reactivePower;
        c.levels = o.levels;
        c.upperLinkVoltage = o.upper;
        c.lowerLinkVoltage = o.lower;
        c.illegalPatterns = o.illegalPatterns;
        c.directChanges = o.directChanges;
    }
}

void FmuPlant::finish() {
    settle();
    fmu_.terminate();
}

} // namespace kestrune::sim
