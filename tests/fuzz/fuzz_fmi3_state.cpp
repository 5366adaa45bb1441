// Fuzzes the reading of FMU state images. The first input byte chooses the
// instance that reads (bit 1: a running one, else one just instantiated) and
// what the rest is:
// - bit 2 set: patches (offset, 2 bytes little-endian, taken modulo the
//   payload's size; length, 1 byte; the bytes) applied to a sound payload
//   (bit 3: of the instantiated instance, else of the running one), which
//   the target then seals as a forger would, with a sound header and
//   checksum: mutations change single values and reach the checks of what
//   writes and steps accept;
// - else bit 0 set: a whole payload that the target seals the same way;
// - else: the image itself.
//
// Checks: a refused image answers fmi3Error, leaves the state handle null and
// the instance exactly as it was (its state image before and after is the
// same); an accepted one is serialized back to the same bytes, becomes the
// instance's state, holds only values a master could have written or read
// (meanSampleTime finite and positive, the time finite and not before the
// earliest start, every gate 0 or 1), and the instance then gives that state
// back and steps (or refuses to step) without any sanitizer finding.
//
// With KESTRUNE_WRITE_SEEDS set to a folder, the target first writes its seed
// inputs there: images and payloads of running, instantiated and terminated
// instances, and patches of single values. With KESTRUNE_FUZZ_REASONS set, it
// prints at exit how many images it refused for each reason.
#include "fmu/fmi3/fmi3.h"
#include "fmu/fmi3/state_image.h"
#include "fmu/variables.h"
#include "identity.h"
#include "model/records.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

namespace {

using kestrune::BASE_STEP;
constexpr fmi3ValueReference TIME_VR = kestrune::VR_TIME;
constexpr fmi3ValueReference FIRST_GATE_VR = kestrune::VR_FIRST_GATE;
constexpr fmi3ValueReference MEAN_SAMPLE_TIME_VR = kestrune::VR_MEAN_SAMPLE_TIME;
constexpr double EARLIEST_START = -1e-7;
constexpr std::size_t GATE_COUNT = kestrune::GATE_COUNT;
constexpr const char *TOKEN = kestrune::INSTANTIATION_TOKEN;

#define CHECK(condition)                                                                                     \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "check failed at line %d: %s\n", __LINE__, #condition);                     \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)

// Refusals of images counted by what the message names, in this order.
constexpr const char *REASONS[] = {
    "truncated",         "foreign",        "wrong version", "checksum",       "ends inside",
    "life-cycle",        "started",        "rate counter",  "slow-step time", "slow steps",
    "instance counters", "meanSampleTime", "its time",      "gate",           "carrier",
    "write index",       "delay line",     "bytes after",   "other"};
constexpr std::size_t REASON_COUNT = sizeof REASONS / sizeof REASONS[0];
long refusals[REASON_COUNT] = {};

void countRefusal(fmi3InstanceEnvironment, fmi3Status status, fmi3String, fmi3String message) {
    if (status != fmi3Error || std::strstr(message, "fmi3DeserializeFMUState") == nullptr) {
        return;
    }
    std::size_t k = 0;
    while (k + 1 < REASON_COUNT && std::strstr(message, REASONS[k]) == nullptr) {
        ++k;
    }
    ++refusals[k];
}

void printRefusals() {
    for (std::size_t k = 0; k < REASON_COUNT; ++k) {
        std::fprintf(stderr, "refused, %s: %ld\n", REASONS[k], refusals[k]);
    }
}

// An instance that reports only its errors.
fmi3Instance instantiate() {
    fmi3Instance instance =
        fmi3InstantiateCoSimulation("fuzz", TOKEN, nullptr, fmi3False, fmi3False, fmi3False, fmi3False,
                                    nullptr, 0, nullptr, countRefusal, nullptr);
    CHECK(instance != nullptr);
    const fmi3String errorsOnly[] = {"logStatusError"};
    CHECK(fmi3SetDebugLogging(instance, fmi3True, 1, errorsOnly) == fmi3OK);
    return instance;
}

// A balanced grid's measurements at time t.
void writeGrid(fmi3Instance instance, double t) {
    const double w = 2.0 * std::numbers::pi * 60.0 * t;
    const double peak = 600.0 * std::sqrt(2.0 / 3.0);
    const fmi3ValueReference vr[] = {0, 1, 2, 3, 4, 5, 6};
    const double values[] = {peak * std::sin(w),
                             peak * std::sin(w - 2.0 * std::numbers::pi / 3.0),
                             peak * std::sin(w + 2.0 * std::numbers::pi / 3.0),
                             0.0,
                             0.0,
                             0.0,
                             500.0};
    fmi3SetFloat64(instance, vr, 7, values, 7);
}

// Steps count base steps from the instance's time; stops at a refusal.
void stepFromItsTime(fmi3Instance instance, int count) {
    for (int k = 0; k < count; ++k) {
        double t = 0.0;
        CHECK(fmi3GetFloat64(instance, &TIME_VR, 1, &t, 1) == fmi3OK);
        writeGrid(instance, t);
        fmi3Boolean event = fmi3True, terminate = fmi3True, early = fmi3True;
        double last = 0.0;
        const fmi3Status status =
            fmi3DoStep(instance, t, BASE_STEP, fmi3False, &event, &terminate, &early, &last);
        CHECK(status == fmi3OK || status == fmi3Error);
        CHECK(!event && !early);
        if (status != fmi3OK || terminate) {
            return;
        }
    }
}

std::vector<fmi3Byte> imageOf(fmi3Instance instance, fmi3FMUState state) {
    size_t size = 0;
    CHECK(fmi3SerializedFMUStateSize(instance, state, &size) == fmi3OK);
    std::vector<fmi3Byte> image(size);
    CHECK(fmi3SerializeFMUState(instance, state, image.data(), size) == fmi3OK);
    return image;
}

// The image of the instance's present state.
std::vector<fmi3Byte> currentImage(fmi3Instance instance) {
    fmi3FMUState state = nullptr;
    CHECK(fmi3GetFMUState(instance, &state) == fmi3OK);
    std::vector<fmi3Byte> image = imageOf(instance, state);
    CHECK(fmi3FreeFMUState(instance, &state) == fmi3OK);
    return image;
}

// The header and checksum of an image are the same for every payload of a
// size, and the payload sits between them.
std::vector<fmi3Byte> wrap(const fmi3Byte *payload, std::size_t size) {
    std::vector<fmi3Byte> image(kestrune::fmi3::stateImageSize(size));
    kestrune::fmi3::writeStateImage(payload, size, image.data());
    return image;
}

std::size_t headerSize() {
    return kestrune::fmi3::stateImageSize(0) - sizeof(std::uint64_t);
}

// The payload inside a sound image.
std::vector<fmi3Byte> payloadOf(const std::vector<fmi3Byte> &image) {
    return {image.begin() + static_cast<std::ptrdiff_t>(headerSize()),
            image.end() - static_cast<std::ptrdiff_t>(sizeof(std::uint64_t))};
}

// The payload with the input's patches applied, sealed into an image.
std::vector<fmi3Byte> forge(std::vector<fmi3Byte> payload, const std::uint8_t *patches, std::size_t size) {
    std::size_t at = 0;
    while (at + 3 <= size) {
        const std::size_t offset = (patches[at] | std::size_t{patches[at + 1]} << 8U) % payload.size();
        const std::size_t length =
            std::min<std::size_t>({patches[at + 2], size - at - 3, payload.size() - offset});
        std::memcpy(payload.data() + offset, patches + at + 3, length);
        at += 3 + length;
    }
    return wrap(payload.data(), payload.size());
}

// The values a master reads are ones a master could have written or the
// unit could have computed.
void checkReadableValues(fmi3Instance instance) {
    double meanSampleTime = 0.0;
    double time = 0.0;
    CHECK(fmi3GetFloat64(instance, &MEAN_SAMPLE_TIME_VR, 1, &meanSampleTime, 1) == fmi3OK);
    CHECK(fmi3GetFloat64(instance, &TIME_VR, 1, &time, 1) == fmi3OK);
    CHECK(std::isfinite(meanSampleTime) && meanSampleTime > 0.0);
    CHECK(std::isfinite(time) && time >= EARLIEST_START);
    double gates[GATE_COUNT];
    fmi3ValueReference vr[GATE_COUNT];
    for (std::size_t k = 0; k < GATE_COUNT; ++k) {
        vr[k] = FIRST_GATE_VR + static_cast<fmi3ValueReference>(k);
    }
    CHECK(fmi3GetFloat64(instance, vr, GATE_COUNT, gates, GATE_COUNT) == fmi3OK);
    for (const double gate : gates) {
        CHECK(gate == 0.0 || gate == 1.0);
    }
}

// The two readers, each with the state it is put back into before every
// input.
struct Reader {
    fmi3Instance instance;
    fmi3FMUState start;
    std::vector<fmi3Byte> startImage;
};
Reader readers[2];

Reader makeReader(bool running) {
    Reader reader{instantiate(), nullptr, {}};
    if (running) {
        CHECK(fmi3EnterInitializationMode(reader.instance, fmi3False, 0.0, 0.0, fmi3False, 0.0) == fmi3OK);
        CHECK(fmi3ExitInitializationMode(reader.instance) == fmi3OK);
        stepFromItsTime(reader.instance, 600);
    }
    CHECK(fmi3GetFMUState(reader.instance, &reader.start) == fmi3OK);
    reader.startImage = imageOf(reader.instance, reader.start);
    return reader;
}

void writeSeed(const std::string &folder, const char *name, fmi3Byte mode, const std::vector<fmi3Byte> &image,
               bool payloadOnly) {
    const std::string path = folder + "/" + name;
    std::FILE *file = std::fopen(path.c_str(), "wb");
    CHECK(file != nullptr);
    const std::size_t skip = payloadOnly ? headerSize() : 0;
    const std::size_t size = image.size() - skip - (payloadOnly ? sizeof(std::uint64_t) : 0);
    CHECK(std::fwrite(&mode, 1, 1, file) == 1 && std::fwrite(image.data() + skip, 1, size, file) == size);
    std::fclose(file);
}

void writeSeeds(const char *folder) {
    fmi3Instance terminated = instantiate();
    CHECK(fmi3EnterInitializationMode(terminated, fmi3False, 0.0, 0.0, fmi3False, 0.0) == fmi3OK);
    CHECK(fmi3ExitInitializationMode(terminated) == fmi3OK);
    CHECK(fmi3Terminate(terminated) == fmi3OK);
    const std::vector<fmi3Byte> terminatedImage = currentImage(terminated);
    fmi3FreeInstance(terminated);
    writeSeed(folder, "running_image_into_running", 2, readers[1].startImage, false);
    writeSeed(folder, "running_image_into_instantiated", 0, readers[1].startImage, false);
    writeSeed(folder, "running_payload_into_instantiated", 1, readers[1].startImage, true);
    writeSeed(folder, "running_payload_into_running", 3, readers[1].startImage, true);
    writeSeed(folder, "instantiated_payload_into_running", 3, readers[0].startImage, true);
    writeSeed(folder, "terminated_image_into_running", 2, terminatedImage, false);

    // One patch of one value of a sound payload, at its place: the time, the
    // slow-step time, meanSampleTime, the first gate.
    constexpr std::size_t TIME_AT = 15;
    constexpr std::size_t SLOW_TIME_AT = 71;
    constexpr std::size_t MEAN_SAMPLE_TIME_AT = 79;
    constexpr std::size_t GATES_AT = MEAN_SAMPLE_TIME_AT + 8 + sizeof(kestrune::ModelSignals) +
                                     sizeof(kestrune::ModulationWork) + sizeof(kestrune::ControlWork) +
                                     sizeof(kestrune::ModelInputs);
    struct Patch {
        const char *name;
        fmi3Byte mode;
        std::size_t at;
        double value;
    };
    const Patch patches[] = {
        {"patched_running_time_into_running", 0x6, TIME_AT, 0.25},
        {"patched_running_slow_time_into_running", 0x6, SLOW_TIME_AT, 0.0},
        {"patched_running_mean_sample_time_into_instantiated", 0x4, MEAN_SAMPLE_TIME_AT, 2e-4},
        {"patched_instantiated_gate_into_running", 0xE, GATES_AT, 1.0},
    };
    for (const Patch &patch : patches) {
        fmi3Byte input[1 + 3 + sizeof(double)] = {patch.mode, static_cast<fmi3Byte>(patch.at & 0xFFU),
                                                  static_cast<fmi3Byte>(patch.at >> 8U), sizeof(double)};
        std::memcpy(input + 4, &patch.value, sizeof(double));
        const std::string path = std::string(folder) + "/" + patch.name;
        std::FILE *file = std::fopen(path.c_str(), "wb");
        CHECK(file != nullptr && std::fwrite(input, 1, sizeof input, file) == sizeof input);
        std::fclose(file);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    readers[0] = makeReader(false);
    readers[1] = makeReader(true);
    if (const char *folder = std::getenv("KESTRUNE_WRITE_SEEDS"); folder != nullptr) {
        writeSeeds(folder);
    }
    if (std::getenv("KESTRUNE_FUZZ_REASONS") != nullptr) {
        std::atexit(printRefusals);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool patched = (bytes[0] & 4U) != 0;
    const bool wrapped = (bytes[0] & 1U) != 0;
    Reader &reader = readers[(bytes[0] >> 1) & 1U];
    const Reader &patchedOne = readers[(bytes[0] & 8U) != 0 ? 0 : 1];
    fmi3Instance instance = reader.instance;
    CHECK(fmi3SetFMUState(instance, reader.start) == fmi3OK);

    // A copy of exactly the input's size, so that a read past it is caught.
    const std::vector<fmi3Byte> image = patched ? forge(payloadOf(patchedOne.startImage), bytes + 1, size - 1)
                                        : wrapped ? wrap(bytes + 1, size - 1)
                                                  : std::vector<fmi3Byte>(bytes + 1, bytes + size);
    fmi3FMUState state = nullptr;
    const fmi3Status status = fmi3DeserializeFMUState(instance, image.data(), image.size(), &state);
    CHECK(status == fmi3OK || status == fmi3Error);
    if (status == fmi3Error) {
        CHECK(state == nullptr);
        CHECK(currentImage(instance) == reader.startImage);
        return 0;
    }
    CHECK(state != nullptr);
    CHECK(imageOf(instance, state) == image);
    if (fmi3SetFMUState(instance, state) == fmi3OK) {
        CHECK(currentImage(instance) == image);
        checkReadableValues(instance);
        stepFromItsTime(instance, 8);
        checkReadableValues(instance);
    } else {
        // Only a model that could not be started refuses a sound state.
        fmi3Reset(instance);
    }
    CHECK(fmi3FreeFMUState(instance, &state) == fmi3OK && state == nullptr);
    return 0;
}
