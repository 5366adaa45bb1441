// The state payload and image of an FMI 3.0 instance.
#include "fmu/fmi3/state_image.h"

#include "children/variable_time_delay.h"
#include "model/initialize.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

namespace kestrune::fmi3 {

namespace {

static_assert(std::is_trivially_copyable_v<ModelSignals> && std::is_trivially_copyable_v<ModulationWork> &&
              std::is_trivially_copyable_v<ControlWork> && std::is_trivially_copyable_v<ModelInputs> &&
              std::is_trivially_copyable_v<ModelOutputs>);

constexpr unsigned char IMAGE_MAGIC[8] = {'K', 'E', 'S', 'T', 'S', 'T', 'A', 'T'};
constexpr std::size_t TOKEN_FIELD = 40;
constexpr std::size_t HEADER_SIZE = 8 + 4 + 4 + TOKEN_FIELD + 8;
constexpr std::size_t CHECKSUM_SIZE = 8;
// Bounds that no delay line of this model comes near; a payload beyond them
// is refused before its sizes are used.
constexpr std::int32_t MAX_CHANNELS = 64;
constexpr std::int32_t MAX_LENGTH = 1 << 20;

// FNV-1a, 64 bits: enough to tell a damaged image from a sound one.
std::uint64_t checksum(const unsigned char *bytes, std::size_t size) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (std::size_t i = 0; i < size; ++i) {
        hash = (hash ^ bytes[i]) * 1099511628211ULL;
    }
    return hash;
}

// The sizes of the records copied byte for byte: an image from a build that
// lays them out differently is foreign.
std::uint32_t layoutFingerprint() {
    const std::uint32_t sizes[] = {
        static_cast<std::uint32_t>(sizeof(ModelSignals)),
        static_cast<std::uint32_t>(sizeof(ModulationWork)),
        static_cast<std::uint32_t>(sizeof(ControlWork)),
        static_cast<std::uint32_t>(sizeof(ModelInputs)),
        static_cast<std::uint32_t>(sizeof(ModelOutputs)),
        static_cast<std::uint32_t>(CHILD_COUNT),
        0x01020304U, // byte order
    };
    return static_cast<std::uint32_t>(checksum(reinterpret_cast<const unsigned char *>(sizes), sizeof sizes));
}

bool holdsStartedModel(Mode mode) {
    return mode == Mode::InitializationMode || mode == Mode::StepMode;
}

// The delay lines of a started model of this build: channels and length per
// hosted block, measured once on a scratch model.
struct Geometry {
    bool known;
    std::int32_t channels[CHILD_COUNT];
    std::int32_t length[CHILD_COUNT];
};

Geometry measureGeometry() {
    Geometry geometry{};
    void *storage = std::malloc(sizeof(Model));
    if (storage == nullptr) {
        return geometry;
    }
    auto *scratch = new (storage) Model();
    modelInitialize(*scratch);
    geometry.known = scratch->record.childrenStarted != 0U;
    for (int i = 0; i < CHILD_COUNT && geometry.known; ++i) {
        DelayLineMemory memory{};
        geometry.known = delayLineMemory(&scratch->record.children[i], memory);
        geometry.channels[i] = memory.channels;
        geometry.length[i] = memory.length;
    }
    modelTerminate(*scratch);
    scratch->~Model();
    std::free(storage);
    return geometry;
}

// Measured by the first state checked, under a lock, since instances on
// several threads may check states at once.
SpinLock geometryLock;
Geometry measuredGeometry{};

Geometry buildGeometry() {
    const SpinGuard guard(geometryLock);
    if (!measuredGeometry.known) {
        measuredGeometry = measureGeometry();
    }
    return measuredGeometry;
}

class Writer {
  public:
    explicit Writer(unsigned char *out) : out_(out) {}
    void bytes(const void *data, std::size_t size) {
        if (out_ != nullptr) {
            std::memcpy(out_ + size_, data, size);
        }
        size_ += size;
    }
    template <typename T> void value(const T &v) { bytes(&v, sizeof v); }
    std::size_t size() const { return size_; }

  private:
    unsigned char *out_;
    std::size_t size_ = 0;
};

class Reader {
  public:
    Reader(const unsigned char *in, std::size_t size) : in_(in), size_(size) {}
    // False, reading nothing, when fewer than size bytes are left.
    bool bytes(void *data, std::size_t size) {
        if (size > size_ - at_) {
            return false;
        }
        std::memcpy(data, in_ + at_, size);
        at_ += size;
        return true;
    }
    template <typename T> bool value(T &v) { return bytes(&v, sizeof v); }
    // Skips size bytes, returning where they start, or null.
    const unsigned char *skip(std::size_t size) {
        if (size > size_ - at_) {
            return nullptr;
        }
        const unsigned char *start = in_ + at_;
        at_ += size;
        return start;
    }
    bool atEnd() const { return at_ == size_; }

  private:
    const unsigned char *in_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Everything the payload holds, in the order it holds it. The delay lines'
// contents stay in the payload and are pointed at.
struct StateValues {
    std::uint8_t mode;
    std::uint8_t started;
    std::uint8_t stopRequested;
    std::uint8_t statusFlags[3];
    std::uint8_t rateCounter;
    std::uint32_t writtenInputs;
    std::int32_t lastStepCount;
    double time;
    std::uint32_t ticks[4];
    std::int32_t sampleHits[2];
    std::int32_t perTaskHits[4];
    double taskTimes[2];
    double meanSampleTime;
    ModelSignals signals;
    ModulationWork modulationWork;
    ControlWork controlWork;
    ModelInputs inputs;
    ModelOutputs outputs;
    double snapshot[GATE_COUNT];
    struct Line {
        std::int32_t flags[3];
        std::int32_t channels;
        std::int32_t length;
        const unsigned char *writeIndex; // channels int32 values
        const unsigned char *samples;    // channels x length doubles
    } lines[CHILD_COUNT];
};

// Writes (or, with a null output, sizes) the payload.
std::size_t encode(const Instance &instance, unsigned char *out) {
    const Model &model = instance.model;
    const ModelRecord &m = model.record;
    Writer w(out);
    const bool started = m.childrenStarted != 0U;
    w.value(static_cast<std::uint8_t>(instance.mode));
    w.value(static_cast<std::uint8_t>(started ? 1 : 0));
    w.value(m.stopRequested);
    w.bytes(m.statusFlags, sizeof m.statusFlags);
    w.value(m.rateCounters[1]);
    w.value(instance.writtenInputs);
    w.value(static_cast<std::int32_t>(instance.lastStepCount));
    w.value(instance.time);
    const std::uint32_t ticks[4] = {m.baseTickLow, m.baseTickHigh, m.slowTickLow, m.slowTickHigh};
    w.bytes(ticks, sizeof ticks);
    w.bytes(m.sampleHits, sizeof m.sampleHits);
    w.bytes(m.perTaskHits, sizeof m.perTaskHits);
    w.bytes(m.taskTimes, sizeof m.taskTimes);
    w.value(model.parameters.meanSampleTime);
    w.value(model.signals);
    w.value(model.work.modulation);
    w.value(model.work.control);
    w.value(model.inputs);
    w.value(model.outputs);
    w.bytes(instance.outputSnapshot, sizeof instance.outputSnapshot);
    for (int i = 0; started && i < CHILD_COUNT; ++i) {
        DelayLineMemory memory{};
        delayLineMemory(&m.children[i], memory);
        const DelayRecord &record = *memory.record;
        const std::int32_t flags[3] = {record.extrapolated, record.clippedHigh, record.clippedLow};
        w.bytes(flags, sizeof flags);
        w.value(memory.channels);
        w.value(memory.length);
        w.bytes(memory.writeIndex, sizeof(std::int32_t) * static_cast<std::size_t>(memory.channels));
        for (std::int32_t c = 0; c < memory.channels; ++c) {
            w.bytes(memory.buffers[c], sizeof(double) * static_cast<std::size_t>(memory.length));
        }
    }
    return w.size();
}

// Reads and checks a payload; null when it is sound.
const char *decode(const unsigned char *payload, std::size_t size, StateValues &v) {
    Reader r(payload, size);
    bool whole = r.value(v.mode) && r.value(v.started) && r.value(v.stopRequested) &&
                 r.bytes(v.statusFlags, sizeof v.statusFlags) && r.value(v.rateCounter) &&
                 r.value(v.writtenInputs) && r.value(v.lastStepCount) && r.value(v.time) &&
                 r.bytes(v.ticks, sizeof v.ticks) && r.bytes(v.sampleHits, sizeof v.sampleHits) &&
                 r.bytes(v.perTaskHits, sizeof v.perTaskHits) && r.bytes(v.taskTimes, sizeof v.taskTimes) &&
                 r.value(v.meanSampleTime) && r.value(v.signals) && r.value(v.modulationWork) &&
                 r.value(v.controlWork) && r.value(v.inputs) && r.value(v.outputs) &&
                 r.bytes(v.snapshot, sizeof v.snapshot);
    if (!whole) {
        return "it ends inside the model's values";
    }
    if (v.mode > static_cast<std::uint8_t>(Mode::Terminated)) {
        return "its life-cycle state is not one a state can be taken in";
    }
    if (v.started != (holdsStartedModel(static_cast<Mode>(v.mode)) ? 1 : 0)) {
        return "its model is started in a state where it is not, or the reverse";
    }
    // An unstarted model is registered afresh before it steps; a started
    // one steps on from these counters.
    if (v.started != 0U &&
        (v.rateCounter >= SLOW_RATE_RATIO || v.sampleHits[1] != (v.rateCounter == 0 ? 1 : 0))) {
        return "its rate counter is out of range";
    }
    if (v.writtenInputs >= (1U << INPUT_COUNT) || v.lastStepCount < 0) {
        return "its instance counters are out of range";
    }
    if (v.modulationWork.carrierSegment >= CARRIER_TABLE_LAST_INDEX) {
        return "its carrier segment is out of range";
    }
    const Geometry geometry = buildGeometry();
    for (int i = 0; v.started != 0U && i < CHILD_COUNT; ++i) {
        StateValues::Line &line = v.lines[i];
        if (!(r.bytes(line.flags, sizeof line.flags) && r.value(line.channels) && r.value(line.length))) {
            return "it ends inside a delay line";
        }
        if (!geometry.known || line.channels != geometry.channels[i] || line.length != geometry.length[i] ||
            line.channels < 1 || line.channels > MAX_CHANNELS || line.length < 1 ||
            line.length > MAX_LENGTH) {
            return "its delay lines differ from this model's";
        }
        const auto channels = static_cast<std::size_t>(line.channels);
        line.writeIndex = r.skip(sizeof(std::int32_t) * channels);
        line.samples = r.skip(sizeof(double) * channels * static_cast<std::size_t>(line.length));
        if (line.writeIndex == nullptr || line.samples == nullptr) {
            return "it ends inside a delay line";
        }
        for (std::size_t c = 0; c < channels; ++c) {
            std::int32_t index = 0;
            std::memcpy(&index, line.writeIndex + c * sizeof index, sizeof index);
            if (index < 0 || index > line.length) {
                return "a delay line's write index is out of range";
            }
        }
    }
    if (!r.atEnd()) {
        return "it has bytes after the model's values";
    }
    return nullptr;
}

} // namespace

std::size_t statePayloadSize(const Instance &instance) {
    return encode(instance, nullptr);
}

void writeStatePayload(const Instance &instance, unsigned char *payload) {
    encode(instance, payload);
}

const char *checkStatePayload(const unsigned char *payload, std::size_t size) {
    auto *values = static_cast<StateValues *>(std::malloc(sizeof(StateValues)));
    if (values == nullptr) {
        return "no memory to check it";
    }
    const char *problem = decode(payload, size, *values);
    std::free(values);
    return problem;
}

bool applyStatePayload(Instance &instance, const unsigned char *payload, std::size_t size) {
    auto *values = static_cast<StateValues *>(std::malloc(sizeof(StateValues)));
    if (values == nullptr || decode(payload, size, *values) != nullptr) {
        std::free(values);
        return false;
    }
    const StateValues &v = *values;
    Model &model = instance.model;
    if (v.started != 0U && model.record.childrenStarted == 0U) {
        modelInitialize(model);
        if (model.record.childrenStarted == 0U) {
            modelTerminate(model);
            model.record.errorStatus = nullptr;
            instance.mode = Mode::Failed;
            std::free(values);
            return false;
        }
    } else if (v.started == 0U) {
        modelTerminate(model);
    }

    ModelRecord &m = model.record;
    instance.mode = static_cast<Mode>(v.mode);
    m.stopRequested = v.stopRequested;
    std::memcpy(m.statusFlags, v.statusFlags, sizeof m.statusFlags);
    m.rateCounters[1] = v.rateCounter;
    instance.writtenInputs = v.writtenInputs;
    instance.lastStepCount = v.lastStepCount;
    instance.time = v.time;
    m.baseTickLow = v.ticks[0];
    m.baseTickHigh = v.ticks[1];
    m.slowTickLow = v.ticks[2];
    m.slowTickHigh = v.ticks[3];
    std::memcpy(m.sampleHits, v.sampleHits, sizeof m.sampleHits);
    std::memcpy(m.perTaskHits, v.perTaskHits, sizeof m.perTaskHits);
    std::memcpy(m.taskTimes, v.taskTimes, sizeof m.taskTimes);
    m.errorStatus = nullptr;
    model.parameters.meanSampleTime = v.meanSampleTime;
    model.signals = v.signals;
    model.work.modulation = v.modulationWork;
    model.work.control = v.controlWork;
    model.inputs = v.inputs;
    model.outputs = v.outputs;
    std::memcpy(instance.outputSnapshot, v.snapshot, sizeof instance.outputSnapshot);
    for (int i = 0; v.started != 0U && i < CHILD_COUNT; ++i) {
        const StateValues::Line &line = v.lines[i];
        DelayLineMemory memory{};
        delayLineMemory(&m.children[i], memory);
        memory.record->extrapolated = line.flags[0];
        memory.record->clippedHigh = line.flags[1];
        memory.record->clippedLow = line.flags[2];
        const auto length = static_cast<std::size_t>(line.length);
        for (std::int32_t c = 0; c < line.channels; ++c) {
            const auto channel = static_cast<std::size_t>(c);
            std::memcpy(&memory.writeIndex[c], line.writeIndex + channel * sizeof(std::int32_t),
                        sizeof(std::int32_t));
            std::memcpy(memory.buffers[c], line.samples + channel * length * sizeof(double),
                        length * sizeof(double));
        }
    }
    std::free(values);
    return true;
}

std::size_t stateImageSize(std::size_t payloadSize) {
    return HEADER_SIZE + payloadSize + CHECKSUM_SIZE;
}

void writeStateImage(const unsigned char *payload, std::size_t payloadSize, unsigned char *image) {
    Writer w(image);
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
    Reader r(image, size);
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
    if (const char *unsound = checkStatePayload(payload, payloadSize); unsound != nullptr) {
        std::snprintf(problem, problemCapacity, "corrupted: %s", unsound);
        return false;
    }
    return true;
}

} // namespace kestrune::fmi3
