// kestrune-sim: closes the loop between the packed unit and the plant.
#include "options.h"
#include "run.h"

#include <iostream>
#include <string_view>
#include <unistd.h>
#include <vector>

#ifndef KESTRUNE_DEFAULT_FMU
#define KESTRUNE_DEFAULT_FMU "Kestrune.fmu"
#endif
#ifndef KESTRUNE_SCENARIO_DIR
#define KESTRUNE_SCENARIO_DIR "scenarios"
#endif

int main(int argc, char **argv) {
    using kestrune::sim::ParseResult;
    const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const ParseResult parsed = kestrune::sim::parseOptions(args, KESTRUNE_DEFAULT_FMU, KESTRUNE_SCENARIO_DIR);

    switch (parsed.action) {
    case ParseResult::Action::Help:
        std::cout << kestrune::sim::usage("kestrune-sim", KESTRUNE_DEFAULT_FMU, KESTRUNE_SCENARIO_DIR);
        return 0;
    case ParseResult::Action::Error:
        std::cerr << "kestrune-sim: " << parsed.error << "\nTry 'kestrune-sim --help'.\n";
        return 2;
    case ParseResult::Action::Run:
        break;
    }
    return kestrune::sim::runSimulation(parsed.options, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1);
}
