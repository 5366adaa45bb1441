#include "ssp_file_run.h"

#include "closed_loop_shape.h"
#include "run.h"
#include "ssp_generic_run.h"
#include "ssp_loop_plan.h"
#include "ssp_reader.h"

#include <filesystem>

namespace kestrune::sim {

namespace {

// The file as given, else a bare name among the shipped .ssp files; ""
// when neither exists.
std::string findSsp(const Options &options) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::exists(options.ssp, ec))
        return options.ssp;
    if (options.ssp.find('/') == std::string::npos && !options.sspDir.empty()) {
        const fs::path shipped = fs::path(options.sspDir) / options.ssp;
        if (fs::exists(shipped, ec))
            return shipped.string();
    }
    return "";
}

} // namespace

int runSspFile(const Options &options, std::ostream &out, std::ostream &err, bool errIsTerminal) {
    namespace fs = std::filesystem;
    const std::string path = findSsp(options);
    if (path.empty()) {
        err << "kestrune-sim: no such file: " << options.ssp;
        if (options.ssp.find('/') == std::string::npos && !options.sspDir.empty())
            err << " (nor among the shipped ones in " << options.sspDir << ")";
        err << '\n';
        return 2;
    }
    ssp::SspSystem system;
    if (const std::string problem = ssp::readSsp(path, system); !problem.empty()) {
        err << "kestrune-sim: " << path << ": " << problem << '\n';
        return 2;
    }

    ssp::ClosedLoopShape shape;
    std::string why = ssp::recogniseClosedLoop(system, shape);
    if (why.empty()) {
        // The closed loop sets no unit variable: a system that binds values
        // to its units runs where they are applied.
        for (std::size_t j = 0; j < shape.unitParameters.size() && why.empty(); ++j)
            if (!shape.unitParameters[j].empty())
                why = "values are bound to " + shape.unitComponents[j] + " (" +
                      shape.unitParameters[j].front().name +
                      ", ...), which the closed loop leaves at the unit's defaults";
    }
    if (!why.empty()) {
        if (options.verbose || shape.converters > 0)
            err << "kestrune-sim: note: " << path << " runs through the generic runner: " << why << '\n';
        return runGenericSsp(system, path, options, out, err);
    }

    SspLoop loop;
    if (const std::string problem = sspLoopPlan(system, shape, options, loop); !problem.empty()) {
        err << "kestrune-sim: " << path << ": " << problem << '\n';
        return 2;
    }
    for (const std::string &name : loop.ignored)
        err << "kestrune-sim: warning: " << path << " binds " << shape.plantComponent << "." << name
            << ", which is no parameter of the plant: ignored\n";
    std::error_code ec;
    const std::string absolute = fs::absolute(path, ec).lexically_normal().string();
    loop.plan.scenario.source = absolute;
    loop.plan.plant.plantName = absolute + ":" + loop.plantSource;
    return runPlannedLoop(options, loop.plan, loop.unitArchive, absolute + ":" + loop.unitSource, out, err,
                          errIsTerminal);
}

} // namespace kestrune::sim
