// kestrune-signal-digest: steps the statically linked model on the running
// grid and prints one 64-bit digest of every signal, state and output after
// every base step. Two builds of the model compute the same results exactly
// when their digests agree; an optimisation of the step must not change it.
//
//   kestrune-signal-digest [SECONDS]   (default 2)
#include "model_drive.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using namespace kestrune;

// FNV-1a over the bytes of a record.
struct Digest {
    std::uint64_t value = 14695981039346656037ULL;

    template <typename T> void add(const T &record) {
        const auto *bytes = reinterpret_cast<const unsigned char *>(&record);
        for (std::size_t i = 0; i < sizeof record; ++i) {
            value = (value ^ bytes[i]) * 1099511628211ULL;
        }
    }
};

} // namespace

int main(int argc, char **argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    const auto steps = static_cast<long>(seconds / bench::BASE_STEP_SECONDS + 0.5);
    bench::ModelDrive drive;
    Digest digest;
    for (long i = 0; i < steps; ++i) {
        drive.step();
        digest.add(libraryModel.outputs);
        digest.add(libraryModel.signals);
        digest.add(libraryModel.work.modulation);
        digest.add(libraryModel.work.control);
        digest.add(libraryModel.record.taskTimes);
    }
    std::printf("%ld base steps, digest %016" PRIx64 "\n", steps, digest.value);
    return 0;
}
