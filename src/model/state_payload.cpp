// The state payload of a model and its host: the order of its values, and
// the rules a sound one meets.
#include "model/state_payload.h"

#include "children/child_host.h"
#include "children/variable_time_delay.h"
#include "model/byte_stream.h"
#include "model/initialize.h"
#include "model/records.h"
#include "model/step.h"

#include <atomic>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

namespace kestrune {

namespace {

static_assert(std::is_trivially_copyable_v<ModelSignals> && std::is_trivially_copyable_v<ModulationWork> &&
              std::is_trivially_copyable_v<ControlWork> && std::is_trivially_copyable_v<ModelInputs> &&
              std::is_trivially_copyable_v<ModelOutputs>);

// Bounds that no delay line of this model comes near; a payload beyond them
// is refused before its sizes are used.
constexpr std::int32_t MAX_CHANNELS = 64;
constexpr std::int32_t MAX_LENGTH = 1 << 20;

bool holdsStartedModel(std::uint8_t phase) {
    return phase == static_cast<std::uint8_t>(StatePhase::Initializing) ||
           phase == static_cast<std::uint8_t>(StatePhase::Stepping);
}

// The delay lines of a started model of this build: channels and length per
// hosted block, measured on a scratch model.
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

// Measured once, by the first check that finds it unknown; checks on other
// threads at the same time measure for themselves, and the first to finish
// publishes its measurement.
enum : int { GEOMETRY_UNKNOWN, GEOMETRY_BEING_STORED, GEOMETRY_KNOWN };
std::atomic<int> geometryState{GEOMETRY_UNKNOWN};
Geometry publishedGeometry{};

Geometry buildGeometry() {
    if (geometryState.load(std::memory_order_acquire) == GEOMETRY_KNOWN) {
        return publishedGeometry;
    }
    const Geometry geometry = measureGeometry();
    int expected = GEOMETRY_UNKNOWN;
    if (geometry.known &&
        geometryState.compare_exchange_strong(expected, GEOMETRY_BEING_STORED, std::memory_order_acq_rel)) {
        publishedGeometry = geometry;
        geometryState.store(GEOMETRY_KNOWN, std::memory_order_release);
    }
    return geometry;
}

// Everything the payload holds, in the order it holds it. The delay lines'
// contents stay in the payload and are pointed at.
struct StateValues {
    std::uint8_t phase;
    std::uint8_t started;
    std::uint8_t stopRequested;
    std::uint8_t statusFlags[3];
    std::uint8_t rateCounter;
    std::uint32_t writtenInputs;
    std::int32_t stepsSinceTime;
    double time;
    std::uint32_t ticks[4]; // base low, base high, slow low, slow high
    std::int32_t sampleHits[2];
    std::int32_t perTaskHits[4];
    double taskTimes[2];
    double meanSampleTime;
    ModelSignals signals;
    ModulationWork modulationWork;
    ControlWork controlWork;
    ModelInputs inputs;
    ModelOutputs outputs;
    double published[GATE_COUNT];
    struct Line {
        std::int32_t flags[3];
        std::int32_t channels;
        std::int32_t length;
        const unsigned char *writeIndex; // channels int32 values
        const unsigned char *samples;    // channels x length doubles
    } lines[CHILD_COUNT];
};

// Writes (or, with a null output, sizes) the payload.
std::size_t encode(const Model &model, const StateHost *host, unsigned char *out) {
    const ModelRecord &m = model.record;
    ByteWriter w(out);
    const bool started = m.childrenStarted != 0U;
    w.value(host != nullptr ? static_cast<std::uint8_t>(host->phase) : std::uint8_t{0});
    w.value(static_cast<std::uint8_t>(started ? 1 : 0));
    w.value(m.stopRequested);
    w.bytes(m.statusFlags, sizeof m.statusFlags);
    w.value(m.rateCounters[1]);
    w.value(host != nullptr ? host->writtenInputs : 0U);
    w.value(host != nullptr ? host->stepsSinceTime : 0);
    w.value(host != nullptr ? host->time : 0.0);
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
    double published[GATE_COUNT] = {};
    if (model.outputSnapshot != nullptr) {
        std::memcpy(published, model.outputSnapshot, sizeof published);
    }
    w.bytes(published, sizeof published);
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

// Where a check that failed says what is wrong.
class Problem {
  public:
    Problem(char *text, std::size_t capacity) : text_(text), capacity_(capacity) {}
    // Writes the message and returns false, for `return problem.say(...)`.
    bool say(const char *format, ...) const
#if defined(__MINGW32__)
        __attribute__((format(gnu_printf, 2, 3)))
#elif defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

  private:
    char *text_;
    std::size_t capacity_;
};

bool Problem::say(const char *format, ...) const {
    if (capacity_ != 0) {
        va_list arguments;
        va_start(arguments, format);
        std::vsnprintf(text_, capacity_, format, arguments);
        va_end(arguments);
    }
    return false;
}

// A gate's name in messages: leg A to C, switch 1 to 4.
struct GateName {
    char leg;
    int position;
};
GateName gateName(int gate) {
    return {static_cast<char>('A' + gate / 4), gate % 4 + 1};
}

// The counters a started model derives from its base tick, as whole base
// steps leave them: the position within the slow period, the slow ticks (one
// per slow-rate hit already run) and the slow time. (Run as two partitions,
// the slow tick may lag behind; such a model takes no state.)
bool checkTimeKeeping(const StateValues &v, const Problem &problem) {
    // An unstarted model is registered afresh before it steps; a started
    // one steps on from these counters.
    if (v.started == 0U) {
        return true;
    }
    if (v.rateCounter >= SLOW_RATE_RATIO || v.sampleHits[1] != (v.rateCounter == 0 ? 1 : 0)) {
        return problem.say("its rate counter is out of range");
    }
    const std::uint64_t baseTicks = (std::uint64_t{v.ticks[1]} << 32U) | v.ticks[0];
    const std::uint64_t slowTicks = (std::uint64_t{v.ticks[3]} << 32U) | v.ticks[2];
    const std::uint64_t period = SLOW_RATE_RATIO;
    if (v.rateCounter != baseTicks % period) {
        return problem.say("its rate counter %u does not follow its %" PRIu64 " base steps",
                           static_cast<unsigned>(v.rateCounter), baseTicks);
    }
    if (slowTicks != baseTicks / period + (baseTicks % period != 0 ? 1U : 0U)) {
        return problem.say("its %" PRIu64 " slow steps do not follow its %" PRIu64 " base steps", slowTicks,
                           baseTicks);
    }
    const double slowTime = slowTickTime(v.ticks[2], v.ticks[3], SLOW_STEP);
    if (!(v.taskTimes[1] == slowTime)) {
        return problem.say("its slow-step time %.16g is not %.16g, that of its slow steps", v.taskTimes[1],
                           slowTime);
    }
    return true;
}

// What the host and a master's writes allow: the parameter finite and
// positive (it turns counts into delays), the time finite and not before the
// host's earliest start, every gate 0 or 1 as the modulator writes them. The
// inputs take any value a master writes, NaN and infinities included.
bool checkWrittenValues(const StateValues &v, const StateRules &rules, const Problem &problem) {
    if (!validMeanSampleTime(v.meanSampleTime)) {
        return problem.say("its meanSampleTime %.16g is not finite and positive", v.meanSampleTime);
    }
    if (!(std::isfinite(v.time) && v.time >= rules.earliestTime)) {
        return problem.say("its time %.16g is not finite or lies before the earliest start time %.16g",
                           v.time, rules.earliestTime);
    }
    for (int k = 0; k < GATE_COUNT; ++k) {
        const GateName name = gateName(k);
        if (!(v.outputs.gates[k] == 0.0 || v.outputs.gates[k] == 1.0)) {
            return problem.say("its gate%c%d %.16g is neither 0 nor 1", name.leg, name.position,
                               v.outputs.gates[k]);
        }
        if (!(v.published[k] == 0.0 || v.published[k] == 1.0)) {
            return problem.say("its published gate%c%d %.16g is neither 0 nor 1", name.leg, name.position,
                               v.published[k]);
        }
    }
    return true;
}

bool checkDelayLines(ByteReader &r, StateValues &v, const Problem &problem) {
    const Geometry geometry = v.started != 0U ? buildGeometry() : Geometry{};
    for (int i = 0; v.started != 0U && i < CHILD_COUNT; ++i) {
        StateValues::Line &line = v.lines[i];
        if (!(r.bytes(line.flags, sizeof line.flags) && r.value(line.channels) && r.value(line.length))) {
            return problem.say("it ends inside a delay line");
        }
        if (!geometry.known || line.channels != geometry.channels[i] || line.length != geometry.length[i] ||
            line.channels < 1 || line.channels > MAX_CHANNELS || line.length < 1 ||
            line.length > MAX_LENGTH) {
            return problem.say("its delay lines differ from this model's");
        }
        const auto channels = static_cast<std::size_t>(line.channels);
        line.writeIndex = r.skip(sizeof(std::int32_t) * channels);
        line.samples = r.skip(sizeof(double) * channels * static_cast<std::size_t>(line.length));
        if (line.writeIndex == nullptr || line.samples == nullptr) {
            return problem.say("it ends inside a delay line");
        }
        for (std::size_t c = 0; c < channels; ++c) {
            std::int32_t index = 0;
            std::memcpy(&index, line.writeIndex + c * sizeof index, sizeof index);
            if (index < 0 || index > line.length) {
                return problem.say("a delay line's write index is out of range");
            }
        }
    }
    return true;
}

// Reads and checks a payload.
bool decode(const unsigned char *payload, std::size_t size, const StateRules &rules, StateValues &v,
            const Problem &problem) {
    ByteReader r(payload, size);
    const bool whole = r.value(v.phase) && r.value(v.started) && r.value(v.stopRequested) &&
                       r.bytes(v.statusFlags, sizeof v.statusFlags) && r.value(v.rateCounter) &&
                       r.value(v.writtenInputs) && r.value(v.stepsSinceTime) && r.value(v.time) &&
                       r.bytes(v.ticks, sizeof v.ticks) && r.bytes(v.sampleHits, sizeof v.sampleHits) &&
                       r.bytes(v.perTaskHits, sizeof v.perTaskHits) &&
                       r.bytes(v.taskTimes, sizeof v.taskTimes) && r.value(v.meanSampleTime) &&
                       r.value(v.signals) && r.value(v.modulationWork) && r.value(v.controlWork) &&
                       r.value(v.inputs) && r.value(v.outputs) && r.bytes(v.published, sizeof v.published);
    if (!whole) {
        return problem.say("it ends inside the model's values");
    }
    if (v.phase > static_cast<std::uint8_t>(StatePhase::Terminated)) {
        return problem.say("its life-cycle state is not one a state can be taken in");
    }
    if (v.started != (holdsStartedModel(v.phase) ? 1 : 0)) {
        return problem.say("its model is started in a state where it is not, or the reverse");
    }
    if (!checkTimeKeeping(v, problem)) {
        return false;
    }
    if (v.writtenInputs >= (1U << INPUT_COUNT) || v.stepsSinceTime < 0) {
        return problem.say("its instance counters are out of range");
    }
    if (!checkWrittenValues(v, rules, problem)) {
        return false;
    }
    if (v.modulationWork.carrierSegment >= CARRIER_TABLE_LAST_INDEX) {
        return problem.say("its carrier segment is out of range");
    }
    if (!checkDelayLines(r, v, problem)) {
        return false;
    }
    if (!r.atEnd()) {
        return problem.say("it has bytes after the model's values");
    }
    return true;
}

void apply(const StateValues &v, Model &model, StateHost &host) {
    ModelRecord &m = model.record;
    host.phase = static_cast<StatePhase>(v.phase);
    host.writtenInputs = v.writtenInputs;
    host.stepsSinceTime = v.stepsSinceTime;
    host.time = v.time;
    m.stopRequested = v.stopRequested;
    std::memcpy(m.statusFlags, v.statusFlags, sizeof m.statusFlags);
    m.rateCounters[1] = v.rateCounter;
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
    if (model.outputSnapshot != nullptr) {
        std::memcpy(model.outputSnapshot, v.published, sizeof v.published);
    }
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
}

} // namespace

void describeStateLayout(std::uint32_t (&words)[STATE_LAYOUT_WORDS]) {
    const std::uint32_t layout[STATE_LAYOUT_WORDS] = {
        static_cast<std::uint32_t>(sizeof(ModelSignals)),
        static_cast<std::uint32_t>(sizeof(ModulationWork)),
        static_cast<std::uint32_t>(sizeof(ControlWork)),
        static_cast<std::uint32_t>(sizeof(ModelInputs)),
        static_cast<std::uint32_t>(sizeof(ModelOutputs)),
        static_cast<std::uint32_t>(CHILD_COUNT),
        0x01020304U, // byte order
    };
    std::memcpy(words, layout, sizeof layout);
}

std::size_t statePayloadSize(const Model &model) {
    return encode(model, nullptr, nullptr);
}

void writeStatePayload(const Model &model, const StateHost &host, unsigned char *payload) {
    encode(model, &host, payload);
}

bool checkStatePayload(const unsigned char *payload, std::size_t size, const StateRules &rules, char *problem,
                       std::size_t capacity) {
    auto *values = static_cast<StateValues *>(std::malloc(sizeof(StateValues)));
    if (values == nullptr) {
        return Problem(problem, capacity).say("no memory to check it");
    }
    const bool sound = decode(payload, size, rules, *values, Problem(problem, capacity));
    std::free(values);
    return sound;
}

StateApplied applyStatePayload(Model &model, StateHost &host, const unsigned char *payload, std::size_t size,
                               const StateRules &rules) {
    auto *values = static_cast<StateValues *>(std::malloc(sizeof(StateValues)));
    if (values == nullptr || !decode(payload, size, rules, *values, Problem(nullptr, 0))) {
        std::free(values);
        return StateApplied::Unsound;
    }
    if (values->started != 0U && model.record.childrenStarted == 0U) {
        modelInitialize(model);
        if (model.record.childrenStarted == 0U) {
            modelTerminate(model);
            model.record.errorStatus = nullptr;
            std::free(values);
            return StateApplied::StartFailed;
        }
    } else if (values->started == 0U) {
        modelTerminate(model);
    }
    apply(*values, model, host);
    std::free(values);
    return StateApplied::Applied;
}

} // namespace kestrune
