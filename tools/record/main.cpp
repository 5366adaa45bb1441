// kestrune-record: drives a unit library base step by base step from a file
// of inputs and records the 12 gates after every step, so that the libraries
// of different platforms can be compared bit for bit on the same inputs.
//
//   kestrune-record inputs FILE [SECONDS]     writes the inputs of a balanced
//       600 V line-to-line, 60 Hz grid with 500 V DC, one row of 7 doubles per
//       base step (default one second: 200000 steps)
//   kestrune-record gates [--fmi3] LIBRARY INPUTS OUT  runs the library (of
//       the FMI 2.0 edition, or of the FMI 3.0 one with --fmi3) on the
//       inputs and writes one 16-bit word per step (bit k = gate k), the
//       first word after initialization
//   kestrune-record compare A B               compares two gate recordings
//
// The inputs are computed once and read by both platforms, so that the two
// runs see the same bits whatever each platform's sine returns.
#include "common/interruption.h"
#include "common/partial_file.h"
#include "master/fmu_library.h"
#include "master/grid.h"
#include "master/recording_logger.h"
#include "master/session.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace kestrune;

bool readFile(const std::string &path, std::vector<char> &bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool writeFile(const std::string &path, const void *data, std::size_t size) {
    return kestrune::writeWholeFile(path, std::string_view(static_cast<const char *>(data), size)).empty();
}

int writeInputs(const std::string &path, double seconds) {
    const auto steps = static_cast<std::size_t>(std::llround(seconds / BASE_STEP));
    std::vector<double> rows(steps * INPUT_COUNT, 0.0);
    for (std::size_t k = 0; k < steps; ++k) {
        const master::Inputs inputs = master::gridInputs({}, static_cast<double>(k) * BASE_STEP);
        std::copy(inputs.begin(), inputs.end(), &rows[k * INPUT_COUNT]);
    }
    if (!writeFile(path, rows.data(), rows.size() * sizeof(double))) {
        std::cerr << "kestrune-record: cannot write " << path << '\n';
        return 1;
    }
    return 0;
}

int recordGates(const std::string &libraryPath, const std::string &inputsPath, const std::string &outPath,
                bool fmi3) {
    std::vector<char> bytes;
    if (!readFile(inputsPath, bytes) || bytes.size() % (sizeof(double) * INPUT_COUNT) != 0) {
        std::cerr << "kestrune-record: cannot read inputs from " << inputsPath << '\n';
        return 1;
    }
    const std::size_t steps = bytes.size() / (sizeof(double) * INPUT_COUNT);
    std::vector<master::Inputs> inputs(steps);
    for (std::size_t k = 0; k < steps; ++k)
        std::memcpy(inputs[k].data(), &bytes[k * sizeof(master::Inputs)], sizeof(master::Inputs));

    master::FmuLibrary library;
    if (!library.load(libraryPath, fmi3 ? master::FmiEdition::Fmi3 : master::FmiEdition::Fmi2)) {
        std::cerr << "kestrune-record: " << library.error() << '\n';
        return 1;
    }
    master::RecordingLogger logger;
    std::unique_ptr<master::UnitSession> unit;
    if (fmi3)
        unit = std::make_unique<master::Session3>(library, logger);
    else
        unit = std::make_unique<master::Session>(library, logger);
    master::UnitSession &session = *unit;
    if (!session.instantiate() || session.initialize(0.0, steps > 0 ? &inputs[0] : nullptr) != fmi2OK) {
        std::cerr << "kestrune-record: the unit did not initialize\n";
        return 1;
    }
    std::vector<std::uint16_t> words;
    words.reserve(steps + 1);
    master::Gates gates{};
    auto record = [&]() {
        if (session.readGates(gates) != fmi2OK)
            return false;
        std::uint16_t word = 0;
        for (std::size_t i = 0; i < gates.size(); ++i) {
            if (gates[i] != 0.0 && gates[i] != 1.0) {
                std::cerr << "kestrune-record: gate " << i << " is " << gates[i] << " after step "
                          << words.size() << '\n';
                return false;
            }
            if (gates[i] == 1.0)
                word = static_cast<std::uint16_t>(word | (1u << i));
        }
        words.push_back(word);
        return true;
    };
    if (!record())
        return 1;
    for (std::size_t k = 0; k < steps; ++k) {
        const double t = static_cast<double>(k) * BASE_STEP;
        if (session.setInputs(inputs[k]) != fmi2OK || session.doStep(t, BASE_STEP) != fmi2OK) {
            std::cerr << "kestrune-record: the step from t = " << t << " failed\n";
            return 1;
        }
        logger.clear();
        if (!record())
            return 1;
    }
    session.freeInstance();
    // Little-endian words, whatever the host.
    std::vector<unsigned char> out;
    out.reserve(words.size() * 2);
    for (std::uint16_t word : words) {
        out.push_back(static_cast<unsigned char>(word & 0xFF));
        out.push_back(static_cast<unsigned char>(word >> 8));
    }
    if (!writeFile(outPath, out.data(), out.size())) {
        std::cerr << "kestrune-record: cannot write " << outPath << '\n';
        return 1;
    }
    return 0;
}

int compare(const std::string &a, const std::string &b) {
    std::vector<char> first;
    std::vector<char> second;
    if (!readFile(a, first) || !readFile(b, second) || first.size() % 2 != 0 || second.size() % 2 != 0) {
        std::cerr << "kestrune-record: cannot read both recordings\n";
        return 1;
    }
    if (first.size() != second.size()) {
        std::cout << "recordings differ in length: " << first.size() / 2 << " and " << second.size() / 2
                  << " steps\n";
        return 1;
    }
    const std::size_t steps = first.size() / 2;
    std::size_t differing = 0;
    std::size_t firstDifference = steps;
    for (std::size_t k = 0; k < steps; ++k) {
        if (first[2 * k] != second[2 * k] || first[2 * k + 1] != second[2 * k + 1]) {
            ++differing;
            if (firstDifference == steps)
                firstDifference = k;
        }
    }
    std::cout << steps - differing << " of " << steps << " recorded base steps agree in all 12 gates\n";
    if (differing == 0)
        return 0;
    // Record k is the state after k base steps.
    std::cout << "first difference after base step " << firstDifference
              << " (t = " << static_cast<double>(firstDifference) * BASE_STEP << " s)\n";
    return 1;
}

int run(int argc, char **argv) {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (args.size() >= 2 && args.size() <= 3 && args[0] == "inputs")
        return writeInputs(args[1], args.size() == 3 ? std::stod(args[2]) : 1.0);
    if (args.size() == 4 && args[0] == "gates")
        return recordGates(args[1], args[2], args[3], false);
    if (args.size() == 5 && args[0] == "gates" && args[1] == "--fmi3")
        return recordGates(args[2], args[3], args[4], true);
    if (args.size() == 3 && args[0] == "compare")
        return compare(args[1], args[2]);
    std::cerr
        << "usage: kestrune-record inputs FILE [SECONDS] | gates [--fmi3] LIBRARY INPUTS OUT | compare A B\n";
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    kestrune::watchForInterruption("kestrune-record");
    if (argc > 2 && std::string_view(argv[1]) == "inputs")
        kestrune::setInterruptedWork(std::string("writing ") + argv[2]);
    else if (argc > 2 && std::string_view(argv[1]) == "gates")
        kestrune::setInterruptedWork(std::string("recording ") + argv[argc - 1]);
    return kestrune::runGuarded([&] { return run(argc, argv); });
}
