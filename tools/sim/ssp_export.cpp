#include "ssp_export.h"

#include "closed_loop_system.h"
#include "common/partial_file.h"
#include "plant_fmu_parameters.h"
#include "ssp_writer.h"

#include <filesystem>
#include <string>
#include <vector>

namespace kestrune::sim {

namespace {

ssp::SspType sspType(PlantFmuParameter::Type type) {
    switch (type) {
    case PlantFmuParameter::Type::Integer:
        return ssp::SspType::Integer;
    case PlantFmuParameter::Type::Boolean:
        return ssp::SspType::Boolean;
    case PlantFmuParameter::Type::Real:
        break;
    }
    return ssp::SspType::Real;
}

} // namespace

int exportSsp(const Options &options, std::ostream &out, std::ostream &err) {
    namespace fs = std::filesystem;
    RunPlan plan;
    if (const std::string problem = planRun(options, plan); !problem.empty()) {
        err << "kestrune-sim: " << problem << '\n';
        return 2;
    }
    const Scenario &scenario = plan.scenario;
    std::vector<PlantFmuParameter> plantParameters;
    if (const std::string problem = plantFmuParameters(scenario, plantParameters); !problem.empty()) {
        err << "kestrune-sim: " << scenario.name << " cannot be exported as an .ssp: " << problem << '\n';
        return 2;
    }
    for (const ScenarioEvent &event : plan.droppedEvents)
        err << "kestrune-sim: note: the " << eventKindName(event.kind) << " event at " << event.time
            << " s is left out: the system ends at " << scenario.duration << " s\n";

    const std::string plantArchive =
        options.plant.plantFmu.empty() ? options.defaultPlantFmu : options.plant.plantFmu;
    std::error_code ec;
    for (const std::string *archive : {&options.fmu, &plantArchive}) {
        if (!fs::is_regular_file(*archive, ec)) {
            err << "kestrune-sim: no archive at " << *archive << " to put in the .ssp\n";
            return 1;
        }
    }

    // Only what differs from the plant archive's own start values is bound:
    // the archive carries the rest, and a runner that hands a bound Boolean
    // on as a number comparison (false arriving as true) meets no Boolean
    // the plant's defaults already give.
    std::vector<PlantFmuParameter> starts;
    if (const std::string problem = plantFmuStarts(plantArchive, starts); !problem.empty()) {
        err << "kestrune-sim: " << problem << '\n';
        return 1;
    }
    std::vector<ssp::SspParameter> bound;
    for (const PlantFmuParameter &p : differingFromStarts(plantParameters, starts))
        bound.push_back({p.name, sspType(p.type), p.value});
    ssp::SspSystem system;
    if (const std::string problem = ssp::closedLoopSystem(
            scenario.name, scenario.description, scenario.duration,
            static_cast<int>(converterCount(scenario)), options.fmu, plantArchive, bound, plan.step, system);
        !problem.empty()) {
        err << "kestrune-sim: " << problem << '\n';
        return 1;
    }

    const fs::path folder = options.exportDir.empty() ? options.outputDir : options.exportDir;
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder)) {
        err << "kestrune-sim: cannot create the folder " << folder.string()
            << (ec ? ": " + ec.message() : std::string()) << '\n';
        return 1;
    }
    // Written beside its name and renamed when whole, so that an .ssp that
    // exists is never a half-written one.
    const fs::path path = fs::absolute(folder / (scenario.name + ".ssp"), ec).lexically_normal();
    PartialFile partial(path.string());
    if (const std::string problem = ssp::writeSsp(system, partial.path()); !problem.empty()) {
        err << "kestrune-sim: " << problem << '\n';
        return 1;
    }
    if (const std::string problem = partial.commit(); !problem.empty()) {
        err << "kestrune-sim: " << problem << '\n';
        return 1;
    }
    out << path.string() << '\n';
    return 0;
}

} // namespace kestrune::sim
