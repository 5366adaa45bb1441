// How the model hosts a system-function block: the context record a block
// sees, its method table and ports, and the route to the model's error status.
#pragma once

#include "children/param_matrix.h"

#include <cstddef>
#include <cstdint>

namespace kestrune {

struct Model;

struct ChildContext;
struct SharedModelInfo;

// One port of a hosted block. Every port in this model is one element wide.
struct ChildPort {
    std::int32_t width;
    std::int32_t directFeedthrough;
    void *signals; // input: array of width pointers to double; output: array of width doubles
};

// The route from a block to the model's shared information, whose first entry
// is the address of the model's error status.
struct ChildHostInfo {
    SharedModelInfo *sharedInfo;
};

// A block's method table; a null slot is a method the block lacks.
struct ChildMethods {
    void (*mdlInitSizes)(ChildContext *);
    void (*mdlInitSampleTimes)(ChildContext *);
    void (*mdlInitConditions)(ChildContext *);
    void (*mdlStart)(ChildContext *);
    void (*mdlOutputs)(ChildContext *, std::int32_t tid);
    void (*mdlUpdate)(ChildContext *, std::int32_t tid);
    void (*mdlTerminate)(ChildContext *);
};

struct ChildContext {
    const char *name;
    const char *path;
    ChildContext *parent;
    ChildContext *root;
    std::int32_t numContStates;
    std::int32_t numDiscStates;
    std::int32_t numOutputPorts;
    std::int32_t numInputPorts;
    std::int32_t numSampleTimes;
    std::int32_t numParamsExpected;
    std::int32_t numRealWork;
    std::int32_t numIntWork;
    std::int32_t numPtrWork;
    std::uint32_t options;
    void *owner;
    ChildPort *inputPorts;
    ChildPort *outputPorts;
    std::int32_t numParams;
    const ParamMatrix *const *params;
    std::int32_t *intWork;
    double *realWork;
    void **ptrWork;
    void *userData;
    ChildHostInfo *hostInfo;
    double *sampleTimePeriod;
    double *sampleTimeOffset;
    std::int32_t *sampleTimeTask;
    ChildMethods methods;
};

inline constexpr int CHILD_COUNT = 5;
inline constexpr int CHILD_PARAM_COUNT = 4;
inline constexpr int CHILD_INPUT_COUNT = 2;

// The host's per-block storage that the context points into: ports, the
// input signal addresses, the parameter table, the host information and the
// sample-time slots.
struct ChildSlots {
    ChildPort inputPorts[CHILD_INPUT_COUNT];
    ChildPort outputPorts[1];
    double *inputSignals[CHILD_INPUT_COUNT];
    const ParamMatrix *params[CHILD_PARAM_COUNT];
    ChildHostInfo hostInfo;
    double sampleTimePeriod;
    double sampleTimeOffset;
    std::int32_t sampleTimeTask;
};

// The one-element work slots a block finds at start; they live in the
// model's work record. A block may replace the integer and pointer slots with
// memory of its own.
struct ChildWorkSlots {
    double realWork;
    std::int32_t intWork;
    void *ptrWork;
};

// What the host wires into one block at set-up.
struct ChildWiring {
    const char *path;
    void (*registerMethods)(ChildContext *); // fills the block's method table
    const ParamMatrix *params[CHILD_PARAM_COUNT];
    double *inputs[CHILD_INPUT_COUNT]; // model signals read by the block
    double *output;                    // model signal the block writes
};

// The C heap's calloc, through which every block allocation goes; tests
// replace it to make allocations fail. It is one for the whole process, not
// one per model: a test sets it before its models start and puts it back
// after they have stopped, never while a model runs on another thread.
using ChildCallocFunction = void *(*)(std::size_t count, std::size_t size);
extern ChildCallocFunction childHeapCalloc;

inline constexpr const char *CHILD_ALLOCATION_ERROR = "Memory allocation error in mdlStart";

// The allocation service for blocks: count x size zeroed bytes, or null
// without allocating when an error is already pending or count or size is 0.
// A failing heap leaves CHILD_ALLOCATION_ERROR in the error status.
void *childCalloc(ChildContext *ctx, std::size_t count, std::size_t size);

// The model's error status as a block reaches it, and setting it.
const char *childErrorStatus(const ChildContext *ctx);
void setChildErrorStatus(ChildContext *ctx, const char *message);

// Host set-up of block index of the model's child table: wiring, host
// information, registration, sizes and sample times, then the host's
// resolution of widths (1), work counts (1) and sample time (1e-4 s, task 1).
void setUpChild(Model &model, int index, const ChildWiring &wiring);

// Model initialization calls of one block. Each returns false when the model
// carries an error afterwards.
bool startChild(Model &model, int index);
bool initializeChildConditions(Model &model, int index);

// Step calls of one block on the slow rate. childUpdate returns false when
// the model carries an error afterwards.
void childOutputs(Model &model, int index);
bool childUpdate(Model &model, int index);

// Terminates the hosted blocks in the order 2, 3, 0, 1, 4 and marks the
// children as no longer started. Blocks that were never set up (no child
// table, null entries or no terminate method) are passed over.
void modelTerminate(Model &model);

} // namespace kestrune
