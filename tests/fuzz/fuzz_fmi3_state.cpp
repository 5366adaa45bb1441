// Fuzzes the reading of FMU state images. The first input byte chooses the
// instance that reads (bit 1: a running one, else one just instantiated) and
// what the rest is (bit 0: a payload that the target wraps in a sound header
// and checksum, so that mutations reach the checks of the model's values;
// else the image itself).
//
// Checks: a refused image answers fmi3Error, leaves the state handle null and
// the instance exactly as it was (its state image before and after is the
// same); an accepted one is serialized back to the same bytes, becomes the
// instance's state, and the instance then gives that state back and steps (or
// refuses to step) without any sanitizer finding.
//
// With KESTRUNE_WRITE_SEEDS set to a folder, the target first writes its seed
// inputs there: images and payloads of running, instantiated and terminated
// instances.
#include "fmu/fmi3/fmi3.h"
#include "fmu/fmi3/state_image.h"
#include "fmu/variables.h"
#include "identity.h"

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
constexpr std::size_t GATE_COUNT = kestrune::GATE_COUNT;
constexpr const char *TOKEN = kestrune::INSTANTIATION_TOKEN;

#define CHECK(condition)                                                                                     \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "check failed at line %d: %s\n", __LINE__, #condition);                     \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)

void ignoreMessage(fmi3InstanceEnvironment, fmi3Status, fmi3String, fmi3String) {}

fmi3Instance instantiate() {
    fmi3Instance instance =
        fmi3InstantiateCoSimulation("fuzz", TOKEN, nullptr, fmi3False, fmi3True, fmi3False, fmi3False,
                                    nullptr, 0, nullptr, ignoreMessage, nullptr);
    CHECK(instance != nullptr);
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
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    readers[0] = makeReader(false);
    readers[1] = makeReader(true);
    if (const char *folder = std::getenv("KESTRUNE_WRITE_SEEDS"); folder != nullptr) {
        writeSeeds(folder);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool wrapped = (bytes[0] & 1U) != 0;
    Reader &reader = readers[(bytes[0] >> 1) & 1U];
    fmi3Instance instance = reader.instance;
    CHECK(fmi3SetFMUState(instance, reader.start) == fmi3OK);

    // A copy of exactly the input's size, so that a read past it is caught.
    const std::vector<fmi3Byte> image =
        wrapped ? wrap(bytes + 1, size - 1) : std::vector<fmi3Byte>(bytes + 1, bytes + size);
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
        stepFromItsTime(instance, 8);
        double gates[GATE_COUNT];
        fmi3ValueReference vr[GATE_COUNT];
        for (std::size_t k = 0; k < GATE_COUNT; ++k) {
            vr[k] = FIRST_GATE_VR + static_cast<fmi3ValueReference>(k);
        }
        CHECK(fmi3GetFloat64(instance, vr, GATE_COUNT, gates, GATE_COUNT) == fmi3OK);
    } else {
        // Only a model that could not be started refuses a sound state.
        fmi3Reset(instance);
    }
    CHECK(fmi3FreeFMUState(instance, &state) == fmi3OK && state == nullptr);
    return 0;
}
