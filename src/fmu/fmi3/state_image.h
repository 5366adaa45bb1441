// An FMI 3.0 instance's state as bytes: the payload (model/state_payload.h)
// holds the model's values and the instance's beside them; the image wraps
// it in a header (format version, memory layout, instantiation token, size)
// and a checksum for storing it outside the process.
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

// Makes a payload that an image or the instance gave the instance's state:
// starts the model first when the state is of a started model and the
// instance's is not. False when that start fails, which leaves the instance
// failed, or for a payload that is not sound, which changes nothing.
bool applyStatePayload(Instance &instance, const unsigned char *payload, std::size_t size);

// Image = header, payload, checksum.
std::size_t stateImageSize(std::size_t payloadSize);
void writeStateImage(const unsigned char *payload, std::size_t payloadSize, unsigned char *image);

// Finds the payload inside an image. Returns false, with what is wrong in
// problem (problemCapacity bytes), for an image that is truncated, foreign,
// of another format version, corrupted, or that holds values this unit's
// writes and steps refuse.
bool openStateImage(const unsigned char *image, std::size_t size, const unsigned char *&payload,
                    std::size_t &payloadSize, char *problem, std::size_t problemCapacity);

} // namespace kestrune::fmi3
