// The image of an FMI 3.0 instance's state: the model's payload framed by a
// header and a checksum, and the instance's side of the payload.
#include "fmu/fmi3/state_image.h"

#include "fmu/shared_lifecycle.h"
#include "model/byte_stream.h"
#include "model/state_payload.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace kestrune::fmi3 {

namespace {

// A payload holds the instance's mode as the model's state phase.
static_assert(static_cast<int>(Mode::Instantiated) == static_cast<int>(StatePhase::Instantiated) &&
              static_cast<int>(Mode::InitializationMode) == static_cast<int>(StatePhase::Initializing) &&
              static_cast<int>(Mode::StepMode) == static_cast<int>(StatePhase::Stepping) &&
              static_cast<int>(Mode::Terminated) == static_cast<int>(StatePhase::Terminated));

constexpr unsigned char IMAGE_MAGIC[8] = {'K', 'E', 'S', 'T', 'S', 'T', 'A', 'T'};
constexpr std::size_t TOKEN_FIELD = 40;
constexpr std::size_t HEADER_SIZE = 8 + 4 + 4 + TOKEN_FIELD + 8;
constexpr std::size_t CHECKSUM_SIZE = 8;

// A state never holds a time before the earliest start an instance accepts.
constexpr StateRules STATE_RULES{-START_TIME_TOLERANCE};

// FNV-1a, 64 bits: enough to tell a damaged image from a sound one.
std::uint64_t checksum(const unsigned char *bytes, std::size_t size) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (std::size_t i = 0; i < size; ++i) {
        hash = (hash ^ bytes[i]) * 1099511628211ULL;
    }
    return hash;
}

// An image from a build that lays the payload out differently is foreign.
std::uint32_t layoutFingerprint() {
    std::uint32_t words[STATE_LAYOUT_WORDS];
    describeStateLayout(words);
    return static_cast<std::uint32_t>(checksum(reinterpret_cast<const unsigned char *>(words), sizeof words));
}

} // namespace

std::size_t statePayloadSize(const Instance &instance) {
    return kestrune::statePayloadSize(instance.model);
}

void writeStatePayload(const Instance &instance, unsigned char *payload) {
    const StateHost host{static_cast<StatePhase>(instance.mode), instance.writtenInputs,
                         instance.lastStepCount, instance.time};
    kestrune::writeStatePayload(instance.model, host, payload);
}

bool applyStatePayload(Instance &instance, const unsigned char *payload, std::size_t size) {
    StateHost host{};
    switch (kestrune::applyStatePayload(instance.model, host, payload, size, STATE_RULES)) {
    case StateApplied::Applied:
        instance.mode = static_cast<Mode>(host.phase);
        instance.writtenInputs = host.writtenInputs;
        instance.lastStepCount = host.stepsSinceTime;
        instance.time = host.time;
        return true;
    case StateApplied::StartFailed:
        instance.mode = Mode::Failed;
        return false;
    case StateApplied::Unsound:
        break;
    }
    return false;
}

std::size_t stateImageSize(std::size_t payloadSize) {
    return HEADER_SIZE + payloadSize + CHECKSUM_SIZE;
}

void writeStateImage(const unsigned char *payload, std::size_t payloadSize, unsigned char *image) {
    ByteWriter w(image);
    w.bytes(IMAGE_MAGIC, sizeof IMAGE_MAGIC);
    w.value(STATE_FORMAT_VERSION);
    w.value(layoutFingerprint());
    char token[TOKEN_FIELD] = {};
    std::strncpy(token, INSTANTIATION_TOKEN, TOKEN_FIELD - 1);
    w.bytes(token, sizeof token);
    w.value(static_cast<std::uint64_t>(payloadSize));
    w.bytes(payload, payloadSize);
    w.value(checksum(image, HEADER_SIZE + payloadSize));
}

bool openStateImage(const unsigned char *image, std::size_t size, const unsigned char *&payload,
                    std::size_t &payloadSize, char *problem, std::size_t problemCapacity) {
    if (size < HEADER_SIZE) {
        std::snprintf(problem, problemCapacity, "truncated: %zu bytes, fewer than the %zu of the header",
                      size, HEADER_SIZE);
        return false;
    }
    ByteReader r(image, size);
    unsigned char magic[sizeof IMAGE_MAGIC];
    std::uint32_t version = 0;
    std::uint32_t layout = 0;
    char token[TOKEN_FIELD];
    std::uint64_t announced = 0;
    r.bytes(magic, sizeof magic);
    r.value(version);
    r.value(layout);
    r.bytes(token, sizeof token);
    r.value(announced);
    token[TOKEN_FIELD - 1] = '\0';
    if (std::memcmp(magic, IMAGE_MAGIC, sizeof magic) != 0) {
        std::snprintf(problem, problemCapacity, "foreign: not a state image of this unit");
        return false;
    }
    if (version != STATE_FORMAT_VERSION) {
        std::snprintf(problem, problemCapacity,
                      "wrong version: format version %" PRIu32 ", this unit reads %" PRIu32, version,
                      STATE_FORMAT_VERSION);
        return false;
    }
    if (std::strcmp(token, INSTANTIATION_TOKEN) != 0) {
        std::snprintf(problem, problemCapacity, "foreign: made by another unit (instantiation token %s)",
                      token);
        return false;
    }
    if (layout != layoutFingerprint()) {
        std::snprintf(problem, problemCapacity,
                      "foreign: made by a build that lays out the model differently");
        return false;
    }
    const std::size_t room = size - HEADER_SIZE;
    if (announced > room || room - announced < CHECKSUM_SIZE) {
        std::snprintf(problem, problemCapacity,
                      "truncated: %zu bytes, the header announces %" PRIu64 " bytes of state and a checksum",
                      size, announced);
        return false;
    }
    if (room - announced > CHECKSUM_SIZE) {
        std::snprintf(problem, problemCapacity, "corrupted: %zu bytes follow the checksum",
                      room - static_cast<std::size_t>(announced) - CHECKSUM_SIZE);
        return false;
    }
    payloadSize = static_cast<std::size_t>(announced);
    std::uint64_t stored = 0;
    std::memcpy(&stored, image + HEADER_SIZE + payloadSize, sizeof stored);
    if (stored != checksum(image, HEADER_SIZE + payloadSize)) {
        std::snprintf(problem, problemCapacity, "corrupted: the checksum does not match the contents");
        return false;
    }
    payload = image + HEADER_SIZE;
    char unsound[256];
    if (!checkStatePayload(payload, payloadSize, STATE_RULES, unsound, sizeof unsound)) {
        std::snprintf(problem, problemCapacity, "corrupted: %s", unsound);
        return false;
    }
    return true;
}

} // namespace kestrune::fmi3
