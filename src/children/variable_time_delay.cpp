#include "children/variable_time_delay.h"

#include "model/numeric.h"

#include <cmath>
#include <cstdlib>

namespace kestrune {

namespace {

constexpr std::uint32_t OPTION_CLEARED = 0x800U;
constexpr std::uint32_t OPTION_SET = 0x1000U;
constexpr std::uint32_t OPTION_GROUP = 0x780000U;
constexpr std::uint32_t OPTION_GROUP_VALUE = 0x180000U;

double scalarParam(const ChildContext *ctx, int index) {
    return paramScalar(ctx->params[index]);
}

double maxDelayOf(const ChildContext *ctx) {
    return scalarParam(ctx, DELAY_PARAM_MAX_DELAY);
}

double sampleTimeOf(const ChildContext *ctx) {
    return scalarParam(ctx, DELAY_PARAM_SAMPLE_TIME);
}

bool feedthroughOf(const ChildContext *ctx) {
    return truncateToInt32(scalarParam(ctx, DELAY_PARAM_FEEDTHROUGH)) != 0;
}

// IDX_BUFFER_SIZE: the ring-buffer length, kept as a double in the real work
// slot.
std::int32_t bufferLength(const ChildContext *ctx) {
    return truncateToInt32(ctx->realWork[0]);
}

double *channelBuffer(const ChildContext *ctx, std::int32_t channel) {
    return static_cast<double *>(ctx->ptrWork[channel]);
}

const double *const *inputSignals(const ChildContext *ctx, int port) {
    return static_cast<const double *const *>(ctx->inputPorts[port].signals);
}

// Stores a sample at the channel's write index, folding an index that ran
// past the end back to 0, and moves the index on.
void writeSample(double *buffer, std::int32_t &writeIndex, std::int32_t length, double sample) {
    if (writeIndex >= length) {
        writeIndex = 0;
    }
    buffer[writeIndex] = sample;
    writeIndex = writeIndex + 1;
}

void mdlInitSizes(ChildContext *ctx) {
    ctx->numParamsExpected = CHILD_PARAM_COUNT;
    ctx->numContStates = 0;
    ctx->numDiscStates = 0;

    ctx->numInputPorts = CHILD_INPUT_COUNT;
    ctx->inputPorts[0].width = -1;
    ctx->inputPorts[0].directFeedthrough = feedthroughOf(ctx) ? 1 : 0;
    ctx->inputPorts[1].width = -1;
    ctx->inputPorts[1].directFeedthrough = 1;
    ctx->numOutputPorts = 1;
    ctx->outputPorts[0].width = -1;

    ctx->numSampleTimes = 1;
    ctx->numRealWork = -1;
    ctx->numIntWork = 1;
    ctx->numPtrWork = -1;

    ctx->options &= ~OPTION_CLEARED;
    ctx->options |= OPTION_SET;
    ctx->options &= ~OPTION_GROUP;
    ctx->options |= OPTION_GROUP_VALUE;
}

void mdlInitSampleTimes(ChildContext *ctx) {
    *ctx->sampleTimePeriod = sampleTimeOf(ctx);
    *ctx->sampleTimeOffset = 0.0;
}

void mdlStart(ChildContext *ctx) {
    const std::int32_t n = ctx->inputPorts[0].width;
    const std::int32_t nD = ctx->inputPorts[1].width;
    const std::uint64_t *dims = paramGetDimensions(ctx->params[DELAY_PARAM_INITIAL_CONDITION]);
    const std::uint64_t rows = dims[0];
    const std::uint64_t cols = dims[1];
    const double maxDelay = maxDelayOf(ctx);
    const double sampleTime = sampleTimeOf(ctx);

    if (nD != n && nD != 1) {
        setChildErrorStatus(ctx, DELAY_WIDTH_ERROR);
        return;
    }
    if (!(n >= 0 && cols == static_cast<std::uint64_t>(n)) && cols != 1U) {
        setChildErrorStatus(ctx, DELAY_INITIAL_CONDITION_ERROR);
        return;
    }
    // Written so that NaN fails the test too.
    if (!(maxDelay > 0.0)) {
        setChildErrorStatus(ctx, DELAY_MAX_DELAY_ERROR);
        return;
    }
    if (!(sampleTime > 0.0)) {
        setChildErrorStatus(ctx, DELAY_SAMPLE_TIME_ERROR);
        return;
    }

    auto *record = static_cast<DelayRecord *>(childCalloc(ctx, 1, sizeof(DelayRecord)));
    if (record == nullptr) {
        return;
    }
    ctx->userData = record;

    std::int64_t length = std::int64_t{truncateToInt32(std::ceil(maxDelay / sampleTime))} + 1;
    if (static_cast<std::uint64_t>(length) < rows) {
        length = rows > static_cast<std::uint64_t>(INT32_MAX) ? std::int64_t{INT32_MAX} + 1
                                                              : static_cast<std::int64_t>(rows);
    }
    if (length < 1 || length > INT32_MAX) {
        // A delay line this long has no int32 index; it cannot be held.
        setChildErrorStatus(ctx, CHILD_ALLOCATION_ERROR);
        return;
    }
    ctx->realWork[0] = static_cast<double>(length);

    const std::int32_t channels = n > 0 ? n : 0;
    const auto channelCount = static_cast<std::size_t>(channels);
    auto **table = static_cast<void **>(childCalloc(ctx, channelCount, sizeof(void *)));
    if (childErrorStatus(ctx) != nullptr) {
        return;
    }
    record->ownedBuffers = table;
    record->ownedChannels = channels;
    for (std::size_t i = 0; i < channelCount; ++i) {
        table[i] = childCalloc(ctx, static_cast<std::size_t>(length), sizeof(double));
        if (table[i] == nullptr) {
            return;
        }
    }
    auto *writeIndex = static_cast<std::int32_t *>(childCalloc(ctx, channelCount, sizeof(std::int32_t)));
    if (childErrorStatus(ctx) != nullptr) {
        return;
    }
    record->ownedWriteIndex = writeIndex;
    ctx->ptrWork = table;
    ctx->intWork = writeIndex;
}

void mdlInitConditions(ChildContext *ctx) {
    const auto *record = static_cast<const DelayRecord *>(ctx->userData);
    if (record == nullptr) {
        return; // not started: no delay line to fill
    }
    const ParamMatrix *initial = ctx->params[DELAY_PARAM_INITIAL_CONDITION];
    const std::uint64_t *dims = paramGetDimensions(initial);
    const auto rows = static_cast<std::int32_t>(dims[0]);
    const auto cols = static_cast<std::int32_t>(dims[1]);
    const double *values = paramData(initial);
    const std::int32_t length = bufferLength(ctx);

    for (std::int32_t i = 0; i < record->ownedChannels; ++i) {
        double *buffer = channelBuffer(ctx, i);
        for (std::int32_t j = 0; j < length; ++j) {
            buffer[j] = 0.0;
        }
        if (rows == 1 && cols == 1) {
            for (std::int32_t j = 0; j < length; ++j) {
                buffer[j] = values[0];
            }
        } else {
            // The last rows entries, so that the newest past value sits just
            // before write position 0 in ring order.
            const double *column = cols == 1 ? values : values + static_cast<std::ptrdiff_t>(i) * rows;
            for (std::int32_t r = 0; r < rows; ++r) {
                buffer[length - rows + r] = column[r];
            }
        }
        ctx->intWork[i] = 0;
    }
}

void mdlOutputs(ChildContext *ctx, std::int32_t /*tid*/) {
    auto *record = static_cast<DelayRecord *>(ctx->userData);
    const std::int32_t n = record->ownedChannels;
    const std::int32_t nD = ctx->inputPorts[1].width;
    const double *const *in = inputSignals(ctx, 0);
    const double *const *delayIn = inputSignals(ctx, 1);
    auto *out = static_cast<double *>(ctx->outputPorts[0].signals);
    const bool feedthrough = feedthroughOf(ctx);
    const double maxDelay = maxDelayOf(ctx);
    const double sampleTime = sampleTimeOf(ctx);
    const std::int32_t length = bufferLength(ctx);

    for (std::int32_t i = 0; i < n; ++i) {
        double *buffer = channelBuffer(ctx, i);
        std::int32_t &writeIndex = ctx->intWork[i];

        // p: with feedthrough the position holding the current input, else
        // the next write position, one past the newest stored sample.
        std::int32_t p = writeIndex;
        if (feedthrough) {
            writeSample(buffer, writeIndex, length, *in[i]);
            p = writeIndex - 1;
        }

        double d = nD == n ? *delayIn[i] : *delayIn[0];
        d = d + machineEpsilon();
        if (d > maxDelay || d == infValue || d == minusInfValue) {
            record->clippedHigh = 1;
            d = maxDelay;
        } else if (d < 0.0 || std::isnan(d)) {
            record->clippedLow = 1;
            d = 0.0;
        }

        // The clamp keeps every index below within one fold of the buffer.
        const double q = d / sampleTime;
        const std::int32_t k = truncateToInt32(std::ceil(static_cast<double>(p) - q));
        double f = std::fmod(q, 1.0);
        if (f >= 1.0) {
            f = 0.0;
        }

        if (feedthrough || d >= sampleTime) {
            const double nearValue = buffer[wrapIndex(k, length)];
            const double farValue = buffer[wrapIndex(k - 1, length)];
            out[i] = nearValue + (farValue - nearValue) * f;
        } else {
            // The wanted instant lies after the newest stored sample:
            // extrapolate from the last two.
            record->extrapolated = 1;
            const double nearValue = buffer[wrapIndex(k - 1, length)];
            const double farValue = buffer[wrapIndex(k - 2, length)];
            out[i] = nearValue - (farValue - nearValue) * (1.0 - f);
        }
    }
}

void mdlUpdate(ChildContext *ctx, std::int32_t /*tid*/) {
    if (feedthroughOf(ctx)) {
        return; // mdlOutputs already stored the sample
    }
    const auto *record = static_cast<const DelayRecord *>(ctx->userData);
    const double *const *in = inputSignals(ctx, 0);
    const std::int32_t length = bufferLength(ctx);
    for (std::int32_t i = 0; i < record->ownedChannels; ++i) {
        writeSample(channelBuffer(ctx, i), ctx->intWork[i], length, *in[i]);
    }
}

// Releases what mdlStart allocated and forgets it, so that a second
// terminate finds nothing to release. The host's one-element slots, which the
// context points at when mdlStart stopped early, are model memory and stay.
void mdlTerminate(ChildContext *ctx) {
    auto *record = static_cast<DelayRecord *>(ctx->userData);
    if (record == nullptr) {
        return;
    }
    if (record->ownedBuffers != nullptr) {
        for (std::int32_t i = 0; i < record->ownedChannels; ++i) {
            std::free(record->ownedBuffers[i]);
        }
        std::free(record->ownedBuffers);
        if (ctx->ptrWork == record->ownedBuffers) {
            ctx->ptrWork = nullptr;
        }
    }
    if (record->ownedWriteIndex != nullptr) {
        std::free(record->ownedWriteIndex);
        if (ctx->intWork == record->ownedWriteIndex) {
            ctx->intWork = nullptr;
        }
    }
    std::free(record);
    ctx->userData = nullptr;
}

} // namespace

bool delayLineMemory(const ChildContext *ctx, DelayLineMemory &memory) {
    auto *record = static_cast<DelayRecord *>(ctx->userData);
    if (record == nullptr || ctx->ptrWork == nullptr || ctx->intWork == nullptr) {
        return false;
    }
    memory.record = record;
    memory.channels = record->ownedChannels;
    memory.length = bufferLength(ctx);
    memory.writeIndex = ctx->intWork;
    memory.buffers = ctx->ptrWork;
    return true;
}

void registerVariableTimeDelay(ChildContext *ctx) {
    ctx->methods.mdlInitSizes = mdlInitSizes;
    ctx->methods.mdlInitSampleTimes = mdlInitSampleTimes;
    ctx->methods.mdlInitConditions = mdlInitConditions;
    ctx->methods.mdlStart = mdlStart;
    ctx->methods.mdlOutputs = mdlOutputs;
    ctx->methods.mdlUpdate = mdlUpdate;
    ctx->methods.mdlTerminate = mdlTerminate;
}

} // namespace kestrune
