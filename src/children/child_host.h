// How the model hosts a system-function block: the context record a block
// sees, its method table and ports, and the route to the model's error status.
#pragma once

#include <cstdint>

namespace kestrune {

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
    const void *const *params;
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

// The host's per-block storage that the context points into: ports, the
// input signal addresses, the host information and the sample-time slots.
struct ChildSlots {
    ChildPort inputPorts[2];
    ChildPort outputPorts[1];
    double *inputSignals[2];
    ChildHostInfo hostInfo;
    double sampleTimePeriod;
    double sampleTimeOffset;
    std::int32_t sampleTimeTask;
};

inline constexpr int CHILD_COUNT = 5;

// Terminates the hosted blocks in the order 2, 3, 0, 1, 4. Blocks that were
// never set up (no child table, null entries or no terminate method) are
// passed over.
void modelTerminate();

} // namespace kestrune
