// The state of a model as bytes, with what its host keeps beside it: every
// value that stepping reads or changes (never an address), in one fixed
// order, so that it can be put back into any model of this build. A payload
// is sound when it holds only what writes and steps could have left there;
// the host wraps it for storing (header, checksum).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrune {

struct Model;

// Where the host stood when the state was taken. Only initialization and
// stepping hold a started model.
enum class StatePhase : std::uint8_t { Instantiated, Initializing, Stepping, Terminated };

// What the host keeps beside the model; a state holds it with the model's
// values.
struct StateHost {
    StatePhase phase;
    // Bit k: input k was written since instantiation or the last reset.
    std::uint32_t writtenInputs;
    // Base steps whose additions built time since it last took a
    // communication point.
    std::int32_t stepsSinceTime;
    double time; // [s]
};

// What a sound payload must meet besides the model's own rules: the host
// never runs from a time before earliestTime [s].
struct StateRules {
    double earliestTime;
};

// The words a payload's layout depends on (the sizes of the records it holds
// byte for byte, the number of delay lines, the byte order): a build that
// gives other words cannot read this build's payloads.
inline constexpr int STATE_LAYOUT_WORDS = 7;
void describeStateLayout(std::uint32_t (&words)[STATE_LAYOUT_WORDS]);

// Bytes of the payload of the model's present state.
std::size_t statePayloadSize(const Model &model);

// Writes the state of the model and its host into payload, which holds
// statePayloadSize(model) bytes. The gates published to the host are taken
// from the model's output snapshot (zeros without one).
void writeStatePayload(const Model &model, const StateHost &host, unsigned char *payload);

// True when payload is a sound state of this build, else false with what is
// wrong (naming the value) in problem, of capacity bytes. Nothing in a
// payload that passes can make stepping read or write out of bounds, and
// every value in it is one that the host's writes and the model's steps
// accept.
bool checkStatePayload(const unsigned char *payload, std::size_t size, const StateRules &rules, char *problem,
                       std::size_t capacity);

enum class StateApplied { Applied, Unsound, StartFailed };

// Makes a sound payload the state of the model and its host, starting the
// model first when the state is of a started model and the model is not.
// Unsound (no memory to check it, or it fails the checks) and StartFailed
// change nothing, except that a start that failed leaves the model
// terminated, without the error it reported.
StateApplied applyStatePayload(Model &model, StateHost &host, const unsigned char *payload, std::size_t size,
                               const StateRules &rules);

} // namespace kestrune
