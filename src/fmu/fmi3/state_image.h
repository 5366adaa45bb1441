// An FMI 3.0 instance's state as bytes: the payload holds every value that
// stepping reads or changes (never an address), so that it can be restored
// into any instance of this build; the image wraps the payload in a header
// (format version, instantiation token, memory layout, size) and a checksum
// for storing it outside the process.
#pragma once

#include "fmu/fmi3/instance.h"

#include <cstddef>
#include <cstdint>

namespace kestrune::fmi3 {

inline constexpr std::uint32_t STATE_FORMAT_VERSION = 1;

// Bytes of the payload of the instance's present state.
std::size_t statePayloadSize(const Instance &instance);

// Writes the instance's state into payload, which holds
// statePayloadSize(instance) bytes.
void writeStatePayload(const Instance &instance, unsigned char *payload);

// Null when payload is a sound state of this build, else what is wrong with
// it. Nothing in a payload that passes can make stepping read or write out
// of bounds.
const char *checkStatePayload(const unsigned char *payload, std::size_t size);

// Makes a checked payload the instance's state: starts the model first when
// the state is of a started model and the instance's is not. False, with the
// instance failed, only when that start fails.
bool applyStatePayload(Instance &instance, const unsigned char *payload, std::size_t size);

// Image = header, payload, checksum.
std::size_t stateImageSize(std::size_t payloadSize);
void writeStateImage(const unsigned char *payload, std::size_t payloadSize, unsigned char *image);

// Finds the payload inside an image. Returns false, with what is wrong in
// problem (problemCapacity bytes), for an image that is truncated, foreign,
// of another format version, or corrupted.
bool openStateImage(const unsigned char *image, std::size_t size, const unsigned char *&payload,
                    std::size_t &payloadSize, char *problem, std::size_t problemCapacity);

} // namespace kestrune::fmi3
