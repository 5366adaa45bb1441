#include "plant_fmu_client.h"

namespace kestrune::sim {

namespace {

constexpr const char *PLANT_MEASUREMENTS[] = {"gridVoltageA",      "gridVoltageB",      "gridVoltageC",
                                              "converterCurrentA", "converterCurrentB", "converterCurrentC",
                                              "dcVoltage"};
constexpr const char *CONVERTER_REALS[] = {"activePower", "reactivePower", "upperLinkVoltage",
                                           "lowerLinkVoltage"};
constexpr const char *CONVERTER_INTEGERS[] = {"levelA", "levelB", "levelC", "illegalPatterns",
                                              "directChanges"};
constexpr const char *GRID_REALS[] = {"sourceVoltageA", "sourceVoltageB", "sourceVoltageC", "pccVoltageA",
                                      "pccVoltageB",    "pccVoltageC",    "sourceFrequency"};
constexpr std::size_t CONVERTER_REAL_COUNT = 11;
constexpr std::size_t CONVERTER_INTEGER_COUNT = 5;
constexpr std::size_t MAX_CONVERTERS = 4;

} // namespace

PlantFmu::~PlantFmu() {
    if (instance_ != nullptr && library_.loaded())
        fmi().freeInstance(instance_);
}

bool PlantFmu::fail(std::string message) {
    failure_ = std::move(message);
    return false;
}

std::string PlantFmu::loggedOr(const std::string &fallback) const {
    if (logger_ != nullptr)
        for (auto it = logger_->messages.rbegin(); it != logger_->messages.rend(); ++it)
            if (it->instanceName == name_ && (it->status == fmi2Error || it->status == fmi2Discard))
                return it->message;
    return fallback;
}

std::string PlantFmu::open(const std::string &archive, std::size_t converters,
                           master::RecordingLogger &logger) {
    logger_ = &logger;
    if (converters == 0 || converters > MAX_CONVERTERS)
        return "the plant FMU takes 1 to 4 converters, not " + std::to_string(converters);
    if (!fmu_.open(archive))
        return fmu_.error(); // names the archive
    const master::ModelDescription &d = fmu_.description();
    if (d.isFmi3())
        return archive + ": the plant FMU is an FMI 2.0 archive, this one is FMI " + d.fmiVersion;
    if (!library_.load(fmu_.libraryPath()))
        return archive + ": " + library_.error();
    std::string missing;
    auto bind = [&](const std::string &name, bool real, fmi2ValueReference &vr) {
        const master::DescribedVariable *v = d.find(name);
        if (v == nullptr || v->isReal != real) {
            if (missing.empty())
                missing = archive + ": no plant FMU: its description has no " + (real ? "Real" : "Integer") +
                          " variable " + name;
            return;
        }
        vr = v->vr;
    };
    converters_ = converters;
    gates_.assign(converters, {});
    realReferences_.assign(converters * CONVERTER_REAL_COUNT + std::size(GRID_REALS), 0);
    integerReferences_.assign(converters * CONVERTER_INTEGER_COUNT, 0);
    for (std::size_t j = 0; j < converters; ++j) {
        const std::string prefix = "converter" + std::to_string(j) + ".";
        for (std::size_t g = 0; g < 12; ++g)
            bind(prefix + master::GATE_NAMES[g], true, gates_[j][g]);
        std::size_t r = j * CONVERTER_REAL_COUNT;
        for (const char *name : PLANT_MEASUREMENTS)
            bind(prefix + name, true, realReferences_[r++]);
        for (const char *name : CONVERTER_REALS)
            bind(prefix + name, true, realReferences_[r++]);
        std::size_t i = j * CONVERTER_INTEGER_COUNT;
        for (const char *name : CONVERTER_INTEGERS)
            bind(prefix + name, false, integerReferences_[i++]);
    }
    std::size_t r = converters * CONVERTER_REAL_COUNT;
    for (const char *name : GRID_REALS)
        bind(name, true, realReferences_[r++]);
    reals_.assign(realReferences_.size(), 0.0);
    integers_.assign(integerReferences_.size(), 0);
    return missing;
}

std::string PlantFmu::instantiate(const std::string &name, bool loggingOn) {
    if (!library_.loaded())
        return "the plant FMU is not open";
    name_ = name;
    instance_ = fmi().instantiate(name.c_str(), fmi2CoSimulation, fmu_.description().guid.c_str(),
                                  fmu_.resourceUri().c_str(), logger_->callbacks(), fmi2False,
                                  loggingOn ? fmi2True : fmi2False);
    if (instance_ == nullptr)
        return "the plant FMU refused to instantiate: " + loggedOr("no message");
    return "";
}

std::string PlantFmu::initialize(const std::vector<PlantFmuParameter> &parameters) {
    if (instance_ == nullptr)
        return "the plant FMU is not instantiated";
    const master::ModelDescription &d = fmu_.description();
    for (const PlantFmuParameter &p : parameters) {
        const master::DescribedVariable *v = d.find(p.name);
        if (v == nullptr || v->causality != "parameter")
            return "the plant FMU has no parameter " + p.name;
        fmi2Status status = fmi2Error;
        if (p.type == PlantFmuParameter::Type::Real) {
            status = fmi().setReal(instance_, &v->vr, 1, &p.value);
        } else {
            const fmi2Integer value = static_cast<fmi2Integer>(p.value);
            status = p.type == PlantFmuParameter::Type::Integer
                         ? fmi().setInteger(instance_, &v->vr, 1, &value)
                         : fmi().setBoolean(instance_, &v->vr, 1, &value);
        }
        if (status != fmi2OK)
            return "setting the plant's " + p.name + ": " + loggedOr("refused");
    }
    if (fmi().setupExperiment(instance_, fmi2False, 0.0, 0.0, fmi2False, 0.0) != fmi2OK ||
        fmi().enterInitializationMode(instance_) != fmi2OK ||
        fmi().exitInitializationMode(instance_) != fmi2OK)
        return "initializing the plant FMU: " + loggedOr("refused");
    time_ = 0.0;
    return "";
}

bool PlantFmu::setGates(std::size_t converter, const master::Gates &gates) {
    if (fmi().setReal(instance_, gates_[converter].data(), 12, gates.data()) != fmi2OK)
        return fail("writing the plant's gates: " + loggedOr("refused"));
    return true;
}

PlantFmu::Step PlantFmu::doStep(double t, double h) {
    const fmi2Status status = fmi().doStep(instance_, t, h, fmi2True);
    if (status == fmi2OK) {
        time_ = t + h;
        return Step::Ok;
    }
    fmi2Boolean terminated = fmi2False;
    if (status == fmi2Discard && fmi().getBooleanStatus(instance_, fmi2Terminated, &terminated) == fmi2OK &&
        terminated == fmi2True) {
        time_ = lastSuccessfulTime();
        failure_ = loggedOr("the plant stopped");
        return Step::Terminated;
    }
    failure_ = loggedOr(std::string("fmi2DoStep returned ") + master::statusName(status));
    return Step::Failed;
}

bool PlantFmu::read(PlantOutputs &out) {
    if (fmi().getReal(instance_, realReferences_.data(), realReferences_.size(), reals_.data()) != fmi2OK ||
        fmi().getInteger(instance_, integerReferences_.data(), integerReferences_.size(), integers_.data()) !=
            fmi2OK)
        return fail("reading the plant's outputs: " + loggedOr("refused"));
    out.converters.resize(converters_);
    for (std::size_t j = 0; j < converters_; ++j) {
        PlantOutputs::Converter &c = out.converters[j];
        const double *r = reals_.data() + j * CONVERTER_REAL_COUNT;
        std::copy(r, r + 7, c.measured.begin());
        c.activePower = r[7];
        c.reactivePower = r[8];
        c.upper = r[9];
        c.lower = r[10];
        const fmi2Integer *i = integers_.data() + j * CONVERTER_INTEGER_COUNT;
        c.levels = {i[0], i[1], i[2]};
        c.illegalPatterns = i[3];
        c.directChanges = i[4];
    }
    const double *g = reals_.data() + converters_ * CONVERTER_REAL_COUNT;
    out.time = time_;
    out.source = {g[0], g[1], g[2]};
    out.pcc = {g[3], g[4], g[5]};
    out.frequency = g[6];
    return true;
}

double PlantFmu::lastSuccessfulTime() {
    double time = 0.0;
    return fmi().getRealStatus(instance_, fmi2LastSuccessfulTime, &time) == fmi2OK ? time : time_;
}

void PlantFmu::terminate() {
    if (instance_ != nullptr)
        fmi().terminate(instance_);
}

bool PlantFmu::reset() {
    if (instance_ == nullptr || fmi().reset(instance_) != fmi2OK)
        return fail("resetting the plant FMU: " + loggedOr("refused"));
    time_ = 0.0;
    return true;
}

} // namespace kestrune::sim
