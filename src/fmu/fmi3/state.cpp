// Getting, setting, freeing, serializing and deserializing the FMU state of
// an FMI 3.0 instance. A state is a payload of the model's and the
// instance's values (model/state_payload.h, framed as an image by
// fmu/fmi3/state_image.h) kept in a list per instance, so that any state
// pointer a master passes is checked against the states it really holds.
#include "fmu/fmi3/call_rules.h"
#include "fmu/fmi3/instance.h"
#include "fmu/fmi3/state_image.h"

#include <cstdlib>
#include <cstring>

namespace kestrune::fmi3 {

struct SavedState {
    SavedState *next;
    std::size_t size;
    unsigned char *payload;
};

namespace {

constexpr std::size_t PROBLEM_CAPACITY = 256;

// The state among the instance's, or null after reporting that it is not.
SavedState *findState(Instance *instance, const char *function, fmi3FMUState handle) {
    for (SavedState *state = instance->states; state != nullptr; state = state->next) {
        if (state == handle) {
            return state;
        }
    }
    refuse(instance, function,
           handle == nullptr ? "the FMU state is null"
                             : "not an FMU state of this instance (or one already freed)");
    return nullptr;
}

// Makes *handle hold a copy of size bytes: the instance's existing state
// *handle reused, or a new one added to its list. Null after reporting.
SavedState *holdPayload(Instance *instance, const char *function, fmi3FMUState *handle,
                        const unsigned char *bytes, std::size_t size) {
    SavedState *state = nullptr;
    if (*handle != nullptr && (state = findState(instance, function, *handle)) == nullptr) {
        return nullptr;
    }
    auto *payload = static_cast<unsigned char *>(std::malloc(size));
    if (payload == nullptr) {
        refuse(instance, function, "memory allocation error");
        return nullptr;
    }
    if (state == nullptr) {
        state = static_cast<SavedState *>(std::malloc(sizeof(SavedState)));
        if (state == nullptr) {
            std::free(payload);
            refuse(instance, function, "memory allocation error");
            return nullptr;
        }
        state->next = instance->states;
        instance->states = state;
    } else {
        std::free(state->payload);
    }
    std::memcpy(payload, bytes, size);
    state->payload = payload;
    state->size = size;
    *handle = state;
    return state;
}

} // namespace

void freeAllStates(Instance *instance) {
    while (instance->states != nullptr) {
        SavedState *state = instance->states;
        instance->states = state->next;
        std::free(state->payload);
        std::free(state);
    }
}

} // namespace kestrune::fmi3

using kestrune::fmi3::Call;
using kestrune::fmi3::Instance;
using kestrune::fmi3::SavedState;

extern "C" {

fmi3Status fmi3GetFMUState(fmi3Instance handle, fmi3FMUState *FMUState) {
    using namespace kestrune::fmi3;
    Instance *instance = enterCall(handle, Call::GetFMUState);
    if (instance == nullptr) {
        return fmi3Error;
    }
    if (FMUState == nullptr) {
        return refuse(instance, "fmi3GetFMUState", "FMUState is null");
    }
    const std::size_t size = statePayloadSize(*instance);
    auto *payload = static_cast<unsigned char *>(std::malloc(size));
    if (payload == nullptr) {
        return refuse(instance, "fmi3GetFMUState", "memory allocation error");
    }
    writeStatePayload(*instance, payload);
    const SavedState *state = holdPayload(instance, "fmi3GetFMUState", FMUState, payload, size);
    std::free(payload);
    return state != nullptr ? fmi3OK : fmi3Error;
}

fmi3Status fmi3SetFMUState(fmi3Instance handle, fmi3FMUState FMUState) {
    using namespace kestrune::fmi3;
    Instance *instance = enterCall(handle, Call::SetFMUState);
    if (instance == nullptr) {
        return fmi3Error;
    }
    const SavedState *state = findState(instance, "fmi3SetFMUState", FMUState);
    if (state == nullptr) {
        return fmi3Error;
    }
    if (!applyStatePayload(*instance, state->payload, state->size)) {
        return refuse(instance, "fmi3SetFMUState", "the model could not be started for the state");
    }
    return fmi3OK;
}

fmi3Status fmi3FreeFMUState(fmi3Instance handle, fmi3FMUState *FMUState) {
    using namespace kestrune::fmi3;
    Instance *instance = enterCall(handle, Call::FreeFMUState);
    if (instance == nullptr) {
        return fmi3Error;
    }
    if (FMUState == nullptr) {
        return refuse(instance, "fmi3FreeFMUState", "FMUState is null");
    }
    if (*FMUState == nullptr) {
        return fmi3OK;
    }
    for (SavedState **link = &instance->states; *link != nullptr; link = &(*link)->next) {
        if (*link == *FMUState) {
            SavedState *state = *link;
            *link = state->next;
            std::free(state->payload);
            std::free(state);
            *FMUState = nullptr;
            return fmi3OK;
        }
    }
    return refuse(instance, "fmi3FreeFMUState", "not an FMU state of this instance (or one already freed)");
}

fmi3Status fmi3SerializedFMUStateSize(fmi3Instance handle, fmi3FMUState FMUState, size_t *size) {
    using namespace kestrune::fmi3;
    Instance *instance = enterCall(handle, Call::SerializedFMUStateSize);
    if (instance == nullptr) {
        return fmi3Error;
    }
    if (size == nullptr) {
        return refuse(instance, "fmi3SerializedFMUStateSize", "size is null");
    }
    const SavedState *state = findState(instance, "fmi3SerializedFMUStateSize", FMUState);
    if (state == nullptr) {
        return fmi3Error;
    }
    *size = stateImageSize(state->size);
    return fmi3OK;
}

fmi3Status fmi3SerializeFMUState(fmi3Instance handle, fmi3FMUState FMUState, fmi3Byte serializedState[],
                                 size_t size) {
    using namespace kestrune::fmi3;
    Instance *instance = enterCall(handle, Call::SerializeFMUState);
    if (instance == nullptr) {
        return fmi3Error;
    }
    const SavedState *state = findState(instance, "fmi3SerializeFMUState", FMUState);
    if (state == nullptr) {
        return fmi3Error;
    }
    const std::size_t needed = stateImageSize(state->size);
    if (serializedState == nullptr || size < needed) {
        logMessage(instance, fmi3Error, LOG_STATUS_ERROR,
                   "fmi3SerializeFMUState: the buffer holds %zu bytes, the image needs %zu "
                   "(fmi3SerializedFMUStateSize)",
                   serializedState == nullptr ? std::size_t{0} : size, needed);
        return fmi3Error;
    }
    writeStateImage(state->payload, state->size, serializedState);
    return fmi3OK;
}

fmi3Status fmi3DeserializeFMUState(fmi3Instance handle, const fmi3Byte serializedState[], size_t size,
                                   fmi3FMUState *FMUState) {
    using namespace kestrune::fmi3;
    Instance *instance = enterCall(handle, Call::DeserializeFMUState);
    if (instance == nullptr) {
        return fmi3Error;
    }
    if (FMUState == nullptr || (serializedState == nullptr && size != 0)) {
        return refuse(instance, "fmi3DeserializeFMUState", "null argument");
    }
    const unsigned char *payload = nullptr;
    std::size_t payloadSize = 0;
    char problem[PROBLEM_CAPACITY];
    if (!openStateImage(serializedState, size, payload, payloadSize, problem, sizeof problem)) {
        logMessage(instance, fmi3Error, LOG_STATUS_ERROR, "fmi3DeserializeFMUState: the image is %s",
                   problem);
        return fmi3Error;
    }
    return holdPayload(instance, "fmi3DeserializeFMUState", FMUState, payload, payloadSize) != nullptr
               ? fmi3OK
               : fmi3Error;
}

} // extern "C"
