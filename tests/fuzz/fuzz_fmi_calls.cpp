// Fuzzes the FMI surface with sequences of calls decoded from the input: any
// of the 44 functions, on up to four instances, a null component or one
// already freed, with arbitrary value references and counts, step sizes,
// communication points and start times, NaN, infinite and huge values, and
// any int as the unit's type. Every array the unit reads or writes is a heap
// block of exactly the size the count claims, so an access beyond it is
// caught by the address sanitizer.
//
// After every call the target checks that the status is fmi2OK or fmi2Error
// and is the one the call must give, that every logger message came with
// (fmi2OK, "info") for the informational texts and (fmi2Error, "error") for
// everything else, under the name of the instance it concerns, that output
// arguments the unit must not write are untouched, and that the gate outputs
// read back are 0.0 or 1.0 and, once a base step has run, each leg one of its
// three patterns. Every instance is freed at the end of each input.
#include "fmu/fmi2.h"
#include "fmu/instance.h"
#include "fmu/resource.h"
#include "fmu/stepping.h"
#include "fmu/variables.h"
#include "model/records.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

// fmi2Instantiate through the C interface with the type as a plain int
// (instantiate_with_int_type.c).
extern "C" fmi2Component instantiateWithIntType(fmi2String instanceName, int fmuType, fmi2String fmuGUID,
                                                fmi2String fmuResourceLocation,
                                                const fmi2CallbackFunctions *functions, fmi2Boolean visible,
                                                fmi2Boolean loggingOn);

namespace {

using kestrune::BASE_STEP;
constexpr fmi2ValueReference REAL_COUNT = kestrune::VARIABLE_COUNT;
constexpr fmi2ValueReference FIRST_GATE_VR = kestrune::VR_FIRST_GATE;
constexpr fmi2ValueReference GATE_COUNT = kestrune::GATE_COUNT;
constexpr fmi2ValueReference TIME_VR = kestrune::VR_TIME;
constexpr std::size_t SLOTS = 4;
constexpr std::size_t MAX_COUNT = 40;
constexpr int MAX_CALLS = 64;
constexpr const char *GUID = kestrune::MODEL_GUID;
constexpr double SENTINEL = -12345.678;
const double NaN = std::numeric_limits<double>::quiet_NaN();
const double INF = std::numeric_limits<double>::infinity();

int currentFunction = 0;

#define CHECK(condition)                                                                                     \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "check failed at line %d (in a call of function %d): %s\n", __LINE__,       \
                         currentFunction, #condition);                                                       \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)

// A message as the logger received it.
struct Message {
    std::string name;
    fmi2Status status;
    std::string category;
    std::string text;
};

// One instance slot: the callbacks record the instance was given (kept alive
// while it lives), the name it was given, and what the master set.
struct Slot {
    fmi2Component component = nullptr;
    fmi2CallbackFunctions callbacks{};
    std::string name;
    bool loggingOn = false;
    bool withStepFinished = false;
    unsigned long created = 0; // creation order
};

struct State {
    std::array<Slot, SLOTS> slots;
    std::vector<fmi2Component> freed; // handles of freed instances
    std::vector<Message> messages;    // sent during the present call
    std::vector<fmi2Status> stepsFinished;
    bool modelStarted = false; // hosted blocks started: the model may step
    bool modelStepped = false; // a base step ran since the last initialization
    bool gatesWritten = false; // the master wrote a gate since the last base step
    unsigned long instancesMade = 0;
};

State state;

bool isInfoText(const std::string &text) {
    static const char *const infoPrefixes[] = {
        "CommunicationStepSize=", "Local solver will do ", "getReal vr:",    "setReal vr:",
        "getInteger vr:",         "setInteger vr:",        "getBoolean vr:", "setBoolean vr:",
        "getString vr:",          "setString vr:"};
    for (const char *prefix : infoPrefixes) {
        if (text.rfind(prefix, 0) == 0) {
            return true;
        }
    }
    return false;
}

void logger(fmi2ComponentEnvironment environment, fmi2String instanceName, fmi2Status status,
            fmi2String category, fmi2String message, ...) {
    CHECK(environment != nullptr);
    CHECK(instanceName != nullptr && category != nullptr && message != nullptr);
    char text[2048];
    va_list args;
    va_start(args, message);
    std::vsnprintf(text, sizeof text, message, args);
    va_end(args);
    const bool infoPair = status == fmi2OK && std::strcmp(category, "info") == 0;
    const bool errorPair = status == fmi2Error && std::strcmp(category, "error") == 0;
    if (!(infoPair || errorPair) || infoPair != isInfoText(text)) {
        std::fprintf(stderr, "message \"%s\" came with status %d and category \"%s\"\n", text, status,
                     category);
    }
    CHECK(infoPair || errorPair);
    CHECK(infoPair == isInfoText(text));
    state.messages.push_back({instanceName, status, category, text});
}

void stepFinished(fmi2ComponentEnvironment environment, fmi2Status status) {
    CHECK(environment != nullptr);
    state.stepsFinished.push_back(status);
}

// ---- Decoding --------------------------------------------------------------

// Which component a call goes to.
struct Target {
    fmi2Component component = nullptr;
    Slot *slot = nullptr; // null for a component that is not live
};

Target pickTarget(FuzzedDataProvider &data) {
    const auto choice = data.ConsumeIntegralInRange<std::size_t>(0, SLOTS + 1);
    if (choice < SLOTS) {
        Slot &slot = state.slots[choice];
        return {slot.component, slot.component != nullptr ? &slot : nullptr};
    }
    if (choice == SLOTS && !state.freed.empty()) {
        return {state.freed[data.ConsumeIntegralInRange<std::size_t>(0, state.freed.size() - 1)], nullptr};
    }
    return {};
}

double rawDouble(FuzzedDataProvider &data) {
    const auto bits = data.ConsumeIntegral<std::uint64_t>();
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

// A value for a variable: measurements of every size, and the values a
// broken sensor or master sends.
double pickValue(FuzzedDataProvider &data) {
    static const double values[] = {0.0,    -0.0,    1.0,    500.0, -489.9, 1e-4,    5e-6,
                                    NaN,    INF,     -INF,   1e300, -1e300, DBL_MAX, -DBL_MAX,
                                    1e-300, DBL_MIN, 2e-308, 0.5,   1e6,    -1e6,    1e-9};
    if (data.ConsumeBool()) {
        return values[data.ConsumeIntegralInRange<std::size_t>(0, std::size(values) - 1)];
    }
    return rawDouble(data);
}

double timeOf(const Slot *slot) {
    if (slot == nullptr || slot->component == nullptr) {
        return 0.0;
    }
    // Read directly, so no message of this read mixes with the call's.
    return static_cast<const kestrune::Fmu2Instance *>(slot->component)->time;
}

double pickTime(FuzzedDataProvider &data, const Slot *slot) {
    const double now = timeOf(slot);
    static const double offsets[] = {0.0, 1e-13, -1e-13, 1e-11, -1e-11, 5e-6, -5e-6};
    switch (data.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
    case 1:
        return now + offsets[data.ConsumeIntegralInRange<std::size_t>(0, std::size(offsets) - 1)];
    case 2:
        return pickValue(data);
    default:
        return data.ConsumeIntegralInRange<int>(-3, 3) * 5e-8;
    }
}

// A step size. Valid ones stay at most 400 base steps long so that inputs
// run fast; the huge ones are all invalid (their step count does not fit).
double pickStep(FuzzedDataProvider &data) {
    static const double odd[] = {
        7.5e-6,  5e-6 * (1 + 1e-7), 5e-6 * (1 + 1e-5),   -5e-6,  -0.0,        NaN, INF, -INF, 1e300,
        DBL_MAX, 10738.0,           2147483648.0 * 5e-6, 1e-300, 2e-3 + 1e-12};
    switch (data.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
    case 1:
        return data.ConsumeIntegralInRange<int>(0, 400) * BASE_STEP;
    case 2:
        return odd[data.ConsumeIntegralInRange<std::size_t>(0, std::size(odd) - 1)];
    default: {
        const double x = rawDouble(data);
        // Keep arbitrary sizes out of the range of long valid steps.
        return std::fabs(x) > 2e-3 && std::fabs(x) < 2e4 ? x * 1e-20 : x;
    }
    }
}

// An exact-size heap array of n elements, or null.
template <typename T> struct Buffer {
    T *data = nullptr;
    std::size_t size = 0;
    Buffer() = default;
    Buffer(const Buffer &) = delete;
    Buffer &operator=(const Buffer &) = delete;
    ~Buffer() { std::free(data); }
    void allocate(std::size_t n, T fill) {
        size = n;
        // One byte at least, so an empty array is a valid pointer that any
        // element access overruns.
        data = static_cast<T *>(std::malloc(n == 0 ? 1 : n * sizeof(T)));
        for (std::size_t i = 0; i < n; ++i) {
            data[i] = fill;
        }
    }
};

// Value references: mostly valid, some just past the end, some anywhere.
void pickReferences(FuzzedDataProvider &data, Buffer<fmi2ValueReference> &vr, std::size_t n) {
    vr.allocate(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        switch (data.ConsumeIntegralInRange<int>(0, 5)) {
        case 0:
            vr.data[i] = data.ConsumeIntegralInRange<fmi2ValueReference>(REAL_COUNT, REAL_COUNT + 2);
            break;
        case 1:
            vr.data[i] = data.ConsumeIntegral<fmi2ValueReference>();
            break;
        default:
            vr.data[i] = data.ConsumeIntegralInRange<fmi2ValueReference>(0, REAL_COUNT - 1);
            break;
        }
    }
}

// The count passed, and whether each array is passed or null.
struct Arrays {
    std::size_t count;
    bool vr;
    bool values;
};

Arrays pickArrays(FuzzedDataProvider &data) {
    const auto count = data.ConsumeIntegralInRange<std::size_t>(0, MAX_COUNT);
    const auto nulls = data.ConsumeIntegralInRange<int>(0, 7);
    return {count, nulls != 1, nulls != 2};
}

// ---- Checks ------------------------------------------------------------------

// Every message of the call came under the name of the instance it concerns.
void checkNames(const std::string &name) {
    for (const Message &m : state.messages) {
        CHECK(m.name == name);
    }
}

bool onlyMessage(const std::string &text) {
    return state.messages.size() == 1 && state.messages[0].text == text;
}

bool validReferences(const Buffer<fmi2ValueReference> &vr) {
    for (std::size_t i = 0; i < vr.size; ++i) {
        if (vr.data[i] >= REAL_COUNT) {
            return false;
        }
    }
    return true;
}

Slot *anyLiveSlot() {
    for (Slot &slot : state.slots) {
        if (slot.component != nullptr) {
            return &slot;
        }
    }
    return nullptr;
}

// The newest live instance is the current one: the output snapshots land in
// it and never in released memory.
void checkCurrentInstance() {
    const Slot *newest = nullptr;
    for (const Slot &slot : state.slots) {
        if (slot.component != nullptr && (newest == nullptr || slot.created > newest->created)) {
            newest = &slot;
        }
    }
    CHECK(kestrune::currentInstance == (newest != nullptr ? newest->component : nullptr));
}

// The gates as a master reads them: each 0.0 or 1.0, and once a base step has
// run, every leg at +1 (1,1,0,0), 0 (0,1,1,0) or -1 (0,0,1,1).
void checkGates() {
    Slot *slot = anyLiveSlot();
    if (slot == nullptr || state.gatesWritten) {
        return;
    }
    fmi2ValueReference vr[GATE_COUNT];
    double gates[GATE_COUNT];
    for (fmi2ValueReference k = 0; k < GATE_COUNT; ++k) {
        vr[k] = FIRST_GATE_VR + k;
    }
    const std::size_t before = state.messages.size();
    CHECK(fmi2GetReal(slot->component, vr, GATE_COUNT, gates) == fmi2OK);
    state.messages.resize(before);
    for (double g : gates) {
        CHECK(g == 0.0 || g == 1.0);
    }
    if (!state.modelStepped) {
        return;
    }
    for (std::size_t leg = 0; leg < 3; ++leg) {
        const double *p = gates + 4 * leg;
        const bool positive = p[0] == 1.0 && p[1] == 1.0 && p[2] == 0.0 && p[3] == 0.0;
        const bool zero = p[0] == 0.0 && p[1] == 1.0 && p[2] == 1.0 && p[3] == 0.0;
        const bool negative = p[0] == 0.0 && p[1] == 0.0 && p[2] == 1.0 && p[3] == 1.0;
        CHECK(positive || zero || negative);
    }
}

// ---- The calls ---------------------------------------------------------------

void callInstantiate(FuzzedDataProvider &data) {
    Slot *slot = nullptr;
    for (Slot &s : state.slots) {
        if (s.component == nullptr) {
            slot = &s;
            break;
        }
    }
    if (slot == nullptr) {
        return;
    }
    static const char *const names[] = {"kestrune", "second", "", nullptr, "%s%s%n%d", "x"};
    static const char *const guids[] = {GUID,    "{5C0F3A91-7E2D-4B68-9D14-A2C7E85F0B36}", "",
                                        nullptr, "{5c0f3a91-7e2d-4b68-9d14-a2c7e85f0b3}",  "%s%s%s"};
    const char *name = names[data.ConsumeIntegralInRange<std::size_t>(0, std::size(names) - 1)];
    const char *guid = data.ConsumeIntegralInRange<int>(0, 3) != 0
                           ? GUID
                           : guids[data.ConsumeIntegralInRange<std::size_t>(0, std::size(guids) - 1)];
    std::string location;
    bool withLocation = true;
    switch (data.ConsumeIntegralInRange<int>(0, 4)) {
    case 0:
        withLocation = false;
        break;
    case 1:
        location = "file:///C:/Models/unit/resources/";
        break;
    case 2:
        location = "http://example.invalid/resources";
        break;
    default:
        location = data.ConsumeRandomLengthString(1500).c_str();
        break;
    }
    const auto callbacksKind = data.ConsumeIntegralInRange<int>(0, 5);
    slot->withStepFinished = callbacksKind % 2 == 1;
    slot->callbacks = fmi2CallbackFunctions{};
    slot->callbacks.logger = callbacksKind == 5 ? nullptr : logger;
    slot->callbacks.stepFinished = slot->withStepFinished ? stepFinished : nullptr;
    slot->callbacks.componentEnvironment = slot;
    const bool loggingOn = data.ConsumeBool();
    const bool withCallbacks = callbacksKind != 4;
    // The unit's type: the byte's low bit picks one of the two named values,
    // and a byte of 128 or more any int instead, as a master may pass it.
    const auto typeByte = data.ConsumeIntegral<std::uint8_t>();
    const int type = typeByte >= 128 ? data.ConsumeIntegral<int>()
                                     : (typeByte % 2 == 1 ? fmi2CoSimulation : fmi2ModelExchange);

    char *locationCopy = nullptr;
    if (withLocation) {
        locationCopy = static_cast<char *>(std::malloc(location.size() + 1));
        std::memcpy(locationCopy, location.c_str(), location.size() + 1);
    }
    fmi2Component c =
        instantiateWithIntType(name, type, guid, locationCopy, withCallbacks ? &slot->callbacks : nullptr,
                               data.ConsumeBool() ? fmi2True : fmi2False, loggingOn ? fmi2True : fmi2False);

    // What fmi2Instantiate must answer, check by check.
    const bool haveLogger = withCallbacks && slot->callbacks.logger != nullptr;
    const bool haveName = name != nullptr && name[0] != '\0';
    const bool haveGuid = guid != nullptr && guid[0] != '\0';
    bool localLocation = true;
    if (withLocation) {
        char *path = kestrune::uriToLocal(locationCopy);
        localLocation = path != nullptr && path[0] != '\0';
        std::free(path);
    }
    std::free(locationCopy);
    if (!haveLogger) {
        CHECK(c == nullptr && state.messages.empty());
    } else if (!haveName) {
        CHECK(c == nullptr && onlyMessage("fmi2Instantiate: Missing instance name."));
        checkNames("?");
    } else if (!haveGuid) {
        CHECK(c == nullptr && onlyMessage("fmi2Instantiate: Missing GUID."));
    } else if (std::strcmp(guid, GUID) != 0) {
        CHECK(c == nullptr && state.messages.size() == 1);
        CHECK(state.messages[0].text.rfind("fmi2Instantiate: Wrong GUID ", 0) == 0);
    } else if (!localLocation) {
        CHECK(c == nullptr && onlyMessage("fmi2Instantiate: uriToLocal cannot handle fmuResourceLocation."));
    } else {
        CHECK(c != nullptr && state.messages.empty());
        CHECK(kestrune::currentInstance == c);
    }
    if (haveName) {
        checkNames(name);
    }
    if (c != nullptr) {
        slot->component = c;
        slot->created = ++state.instancesMade;
        slot->name = name;
        slot->loggingOn = loggingOn;
        // A new record may reuse the address of a freed one.
        state.freed.erase(std::remove(state.freed.begin(), state.freed.end(), c), state.freed.end());
    }
}

void freeSlot(Slot &slot) {
    fmi2FreeInstance(slot.component);
    CHECK(state.messages.empty());
    state.freed.push_back(slot.component);
    if (state.freed.size() > 16) {
        state.freed.erase(state.freed.begin());
    }
    slot.component = nullptr;
    state.modelStarted = false;
}

void callGetReal(FuzzedDataProvider &data, const Target &target) {
    const Arrays arrays = pickArrays(data);
    Buffer<fmi2ValueReference> vr;
    Buffer<double> values;
    pickReferences(data, vr, arrays.count);
    values.allocate(arrays.count, SENTINEL);
    const fmi2Status status = fmi2GetReal(target.component, arrays.vr ? vr.data : nullptr, arrays.count,
                                          arrays.values ? values.data : nullptr);
    if (target.slot == nullptr) {
        CHECK(status == fmi2Error);
        return;
    }
    const bool nullArrays = arrays.count != 0 && (!arrays.vr || !arrays.values);
    const bool valid = !nullArrays && validReferences(vr);
    CHECK(status == (valid ? fmi2OK : fmi2Error));
    if (nullArrays) {
        CHECK(onlyMessage("invalid memory access"));
    } else if (!valid) {
        CHECK(onlyMessage("valueReference out of range"));
        // Nothing is read when any reference is bad.
        for (std::size_t i = 0; i < values.size; ++i) {
            CHECK(std::memcmp(&values.data[i], &SENTINEL, sizeof SENTINEL) == 0);
        }
    } else {
        CHECK(state.messages.size() == (target.slot->loggingOn ? arrays.count : 0U));
        const double now = timeOf(target.slot);
        for (std::size_t i = 0; i < arrays.count; ++i) {
            if (vr.data[i] == TIME_VR) {
                CHECK(values.data[i] == now || (std::isnan(values.data[i]) && std::isnan(now)));
            }
        }
    }
}

void callSetReal(FuzzedDataProvider &data, const Target &target) {
    const Arrays arrays = pickArrays(data);
    Buffer<fmi2ValueReference> vr;
    Buffer<double> values;
    pickReferences(data, vr, arrays.count);
    values.allocate(arrays.count, 0.0);
    for (std::size_t i = 0; i < arrays.count; ++i) {
        values.data[i] = pickValue(data);
    }
    const fmi2Status status = fmi2SetReal(target.component, arrays.vr ? vr.data : nullptr, arrays.count,
                                          arrays.values ? values.data : nullptr);
    if (target.slot == nullptr) {
        CHECK(status == fmi2Error);
        return;
    }
    const bool nullArrays = arrays.count != 0 && (!arrays.vr || !arrays.values);
    CHECK(status == (!nullArrays && validReferences(vr) ? fmi2OK : fmi2Error));
    if (nullArrays) {
        CHECK(onlyMessage("invalid memory access"));
        return;
    }
    // The elements before the first bad reference are written.
    for (std::size_t i = 0; i < arrays.count && vr.data[i] < REAL_COUNT; ++i) {
        if (vr.data[i] >= FIRST_GATE_VR && vr.data[i] < FIRST_GATE_VR + GATE_COUNT) {
            state.gatesWritten = true;
        }
    }
    if (status == fmi2Error) {
        CHECK(state.messages.back().text == "valueReference out of range");
    }
}

// The accessors of the types this unit has no variable of.
void callOtherType(FuzzedDataProvider &data, const Target &target, int function) {
    const Arrays arrays = pickArrays(data);
    Buffer<fmi2ValueReference> vr;
    pickReferences(data, vr, arrays.count);
    const fmi2ValueReference *refs = arrays.vr ? vr.data : nullptr;
    Buffer<fmi2Integer> integers;
    Buffer<fmi2Boolean> booleans;
    Buffer<fmi2String> strings;
    integers.allocate(arrays.count, 7);
    booleans.allocate(arrays.count, 7);
    strings.allocate(arrays.count, "text");
    fmi2Integer *ints = arrays.values ? integers.data : nullptr;
    fmi2Boolean *bools = arrays.values ? booleans.data : nullptr;
    fmi2String *texts = arrays.values ? strings.data : nullptr;
    fmi2Status status = fmi2OK;
    switch (function) {
    case 11:
        status = fmi2GetInteger(target.component, refs, arrays.count, ints);
        break;
    case 12:
        status = fmi2GetBoolean(target.component, refs, arrays.count, bools);
        break;
    case 13:
        status = fmi2GetString(target.component, refs, arrays.count, texts);
        break;
    case 15:
        status = fmi2SetInteger(target.component, refs, arrays.count, ints);
        break;
    case 16:
        status = fmi2SetBoolean(target.component, refs, arrays.count, bools);
        break;
    default:
        status = fmi2SetString(target.component, refs, arrays.count, texts);
        break;
    }
    for (std::size_t i = 0; i < arrays.count; ++i) {
        CHECK(integers.data[i] == 7 && booleans.data[i] == 7 && std::strcmp(strings.data[i], "text") == 0);
    }
    if (target.slot == nullptr) {
        CHECK(status == fmi2Error && state.messages.empty());
        return;
    }
    CHECK(status == (arrays.count == 0 ? fmi2OK : fmi2Error));
    if (arrays.count != 0) {
        CHECK(onlyMessage(arrays.vr && arrays.values ? "valueReference out of range"
                                                     : "invalid memory access"));
    }
}

void callDoStep(FuzzedDataProvider &data, const Target &target) {
    const double t = pickTime(data, target.slot);
    const double h = pickStep(data);
    const double before = timeOf(target.slot);
    const int stepsBefore =
        target.slot != nullptr
            ? static_cast<const kestrune::Fmu2Instance *>(target.slot->component)->lastStepCount
            : 0;
    const fmi2Status status = fmi2DoStep(target.component, t, h, data.ConsumeBool() ? fmi2True : fmi2False);
    if (target.slot == nullptr) {
        CHECK(status == fmi2Error && state.messages.empty() && state.stepsFinished.empty());
        return;
    }
    const double steps = h / BASE_STEP + 0.5;
    const bool countFits = steps >= 0.0 && steps < 2147483648.0;
    const int n = countFits ? static_cast<int>(steps) : 0;
    const double tolerance = kestrune::stepTolerance(before, stepsBefore);
    const bool divisible = countFits && h >= 0.0 && std::fabs(h - n * BASE_STEP) <= tolerance;
    const bool atTime = std::fabs(before - t) <= tolerance;
    const bool ok = state.modelStarted && divisible && atTime;
    CHECK(status == (ok ? fmi2OK : fmi2Error));
    CHECK(!state.messages.empty() && state.messages[0].text.rfind("CommunicationStepSize=", 0) == 0);
    CHECK(state.messages.size() == 2);
    if (target.slot->withStepFinished) {
        CHECK(state.stepsFinished.size() == 1 && state.stepsFinished[0] == status);
    } else {
        CHECK(state.stepsFinished.empty());
    }
    if (ok) {
        double expected = t;
        for (int i = 0; i < n; ++i) {
            expected = expected + BASE_STEP;
        }
        const double now = timeOf(target.slot);
        CHECK(now == expected || (std::isnan(now) && std::isnan(expected)));
        if (n > 0) {
            state.modelStepped = true;
            state.gatesWritten = false;
        }
    } else {
        CHECK(timeOf(target.slot) == before || std::isnan(before));
    }
}

// The functions that answer without effect: fmi2OK for a live instance,
// output arguments untouched (fmi2GetRealOutputDerivatives writes zeros).
void callWithoutEffect(FuzzedDataProvider &data, const Target &target, int function) {
    fmi2Component c = target.component;
    const auto n = data.ConsumeIntegralInRange<std::size_t>(0, MAX_COUNT);
    Buffer<fmi2ValueReference> vr;
    Buffer<double> reals;
    Buffer<double> reals2;
    Buffer<fmi2Integer> orders;
    Buffer<fmi2Byte> bytes;
    pickReferences(data, vr, n);
    reals.allocate(n, SENTINEL);
    reals2.allocate(n, SENTINEL);
    orders.allocate(n, 1);
    bytes.allocate(n, 'k');
    auto *state0 = static_cast<fmi2FMUstate>(&state);
    fmi2FMUstate fmuState = state0;
    size_t size = 99;
    fmi2EventInfo eventInfo{};
    eventInfo.nextEventTime = SENTINEL;
    fmi2Boolean flag1 = 7;
    fmi2Boolean flag2 = 7;
    fmi2Status statusOut = fmi2Pending;
    fmi2Real real = SENTINEL;
    fmi2Integer integer = 7;
    fmi2Boolean boolean = 7;
    fmi2String string = "text";
    const auto kind = static_cast<fmi2StatusKind>(data.ConsumeIntegralInRange<int>(0, 3));
    bool zerosWritten = false;
    fmi2Status status = fmi2OK;
    switch (function) {
    case 18:
        status = fmi2GetFMUstate(c, &fmuState);
        break;
    case 19:
        status = fmi2SetFMUstate(c, fmuState);
        break;
    case 20:
        status = fmi2FreeFMUstate(c, &fmuState);
        break;
    case 21:
        status = fmi2SerializedFMUstateSize(c, fmuState, &size);
        break;
    case 22:
        status = fmi2SerializeFMUstate(c, fmuState, bytes.data, n);
        break;
    case 23:
        status = fmi2DeSerializeFMUstate(c, bytes.data, n, &fmuState);
        break;
    case 24:
        status = fmi2GetDirectionalDerivative(c, vr.data, n, vr.data, n, reals.data, reals2.data);
        break;
    case 25:
        status = fmi2EnterEventMode(c);
        break;
    case 26:
        status = fmi2NewDiscreteStates(c, &eventInfo);
        break;
    case 27:
        status = fmi2EnterContinuousTimeMode(c);
        break;
    case 28:
        status = fmi2CompletedIntegratorStep(c, fmi2True, &flag1, &flag2);
        break;
    case 29:
        status = fmi2SetTime(c, pickValue(data));
        break;
    case 30:
        status = fmi2SetContinuousStates(c, reals.data, n);
        break;
    case 31:
        status = fmi2GetDerivatives(c, reals.data, n);
        break;
    case 32:
        status = fmi2GetEventIndicators(c, reals.data, n);
        break;
    case 33:
        status = fmi2GetContinuousStates(c, reals.data, n);
        break;
    case 34:
        status = fmi2GetNominalsOfContinuousStates(c, reals.data, n);
        break;
    case 35:
        status = fmi2SetRealInputDerivatives(c, vr.data, n, orders.data, reals.data);
        break;
    case 36: {
        const bool nullValues = data.ConsumeIntegralInRange<int>(0, 5) == 0;
        status = fmi2GetRealOutputDerivatives(c, vr.data, n, orders.data, nullValues ? nullptr : reals.data);
        if (target.slot != nullptr) {
            if (nullValues && n != 0) {
                CHECK(status == fmi2Error && onlyMessage("invalid memory access"));
                return;
            }
            zerosWritten = true;
        }
        break;
    }
    case 38:
        status = fmi2CancelStep(c);
        break;
    case 39:
        status = fmi2GetStatus(c, kind, &statusOut);
        break;
    case 40:
        status = fmi2GetRealStatus(c, kind, &real);
        break;
    case 41:
        status = fmi2GetIntegerStatus(c, kind, &integer);
        break;
    case 42:
        status = fmi2GetBooleanStatus(c, kind, &boolean);
        break;
    default:
        status = fmi2GetStringStatus(c, kind, &string);
        break;
    }
    CHECK(status == (target.slot != nullptr ? fmi2OK : fmi2Error));
    CHECK(state.messages.empty());
    CHECK(fmuState == state0 && size == 99 && eventInfo.nextEventTime == SENTINEL);
    CHECK(flag1 == 7 && flag2 == 7 && statusOut == fmi2Pending && real == SENTINEL && integer == 7);
    CHECK(boolean == 7 && std::strcmp(string, "text") == 0);
    for (std::size_t i = 0; i < n; ++i) {
        CHECK(reals.data[i] == (zerosWritten ? 0.0 : SENTINEL) && reals2.data[i] == SENTINEL);
        CHECK(bytes.data[i] == 'k' && orders.data[i] == 1);
    }
}

void callLifecycle(FuzzedDataProvider &data, const Target &target, int function) {
    fmi2Component c = target.component;
    fmi2Status status = fmi2OK;
    bool expectOk = target.slot != nullptr;
    switch (function) {
    case 2: {
        const bool on = data.ConsumeBool();
        const auto n = data.ConsumeIntegralInRange<std::size_t>(0, 3);
        Buffer<fmi2String> categories;
        categories.allocate(n, "logAll");
        status = fmi2SetDebugLogging(c, on ? fmi2True : fmi2False, n, categories.data);
        if (target.slot != nullptr) {
            target.slot->loggingOn = on;
        }
        break;
    }
    case 4:
        if (target.slot != nullptr) {
            freeSlot(*target.slot);
        } else {
            fmi2FreeInstance(c);
        }
        return;
    case 5: {
        const double start = pickTime(data, nullptr);
        const double before = timeOf(target.slot);
        // Decoded one by one: a call's arguments are evaluated in no fixed order.
        const bool toleranceDefined = data.ConsumeBool();
        const double tolerance = pickValue(data);
        const bool stopTimeDefined = data.ConsumeBool();
        const double stopTime = pickValue(data);
        status = fmi2SetupExperiment(c, toleranceDefined, tolerance, start, stopTimeDefined, stopTime);
        if (target.slot != nullptr) {
            expectOk = std::fabs(start) <= 1e-7;
            const double now = timeOf(target.slot);
            CHECK(expectOk ? now == start : (now == before || std::isnan(before)));
            CHECK(expectOk ? state.messages.empty() : onlyMessage("start time is not zero."));
        }
        break;
    }
    case 6:
        status = fmi2EnterInitializationMode(c);
        if (target.slot != nullptr) {
            state.modelStarted = true;
            state.modelStepped = false;
            state.gatesWritten = false;
        }
        break;
    case 7:
        status = fmi2ExitInitializationMode(c);
        if (target.slot != nullptr) {
            expectOk = state.modelStarted;
            if (expectOk) {
                state.modelStepped = true;
                state.gatesWritten = false;
            }
        }
        break;
    case 8:
        status = fmi2Terminate(c);
        break;
    default:
        status = fmi2Reset(c);
        if (target.slot != nullptr) {
            state.modelStarted = false;
        }
        break;
    }
    CHECK(status == (expectOk ? fmi2OK : fmi2Error));
    if (expectOk) {
        CHECK(state.messages.empty());
    }
}

// Instantiate (when a slot is free), set up at 0, enter and leave
// initialization: a quick way into stepping.
void startInstance(FuzzedDataProvider &data) {
    for (Slot &slot : state.slots) {
        if (slot.component != nullptr) {
            continue;
        }
        slot.callbacks = fmi2CallbackFunctions{};
        slot.callbacks.logger = logger;
        slot.withStepFinished = data.ConsumeBool();
        slot.callbacks.stepFinished = slot.withStepFinished ? stepFinished : nullptr;
        slot.callbacks.componentEnvironment = &slot;
        slot.name = "kestrune";
        slot.loggingOn = false;
        slot.component = fmi2Instantiate("kestrune", fmi2CoSimulation, GUID, nullptr, &slot.callbacks,
                                         fmi2False, fmi2False);
        CHECK(slot.component != nullptr);
        slot.created = ++state.instancesMade;
        state.freed.erase(std::remove(state.freed.begin(), state.freed.end(), slot.component),
                          state.freed.end());
        CHECK(fmi2SetupExperiment(slot.component, fmi2False, 0.0, 0.0, fmi2False, 0.0) == fmi2OK);
        CHECK(fmi2EnterInitializationMode(slot.component) == fmi2OK);
        CHECK(fmi2ExitInitializationMode(slot.component) == fmi2OK);
        CHECK(state.messages.empty());
        state.modelStarted = true;
        state.modelStepped = true;
        state.gatesWritten = false;
        return;
    }
}

// One call. Functions are numbered 0 to 43 in the order fmu/fmi2.h declares
// them (0 fmi2GetTypesPlatform, 3 fmi2Instantiate, 10 fmi2GetReal, 14
// fmi2SetReal, 37 fmi2DoStep, 43 fmi2GetStringStatus); 44 is startInstance.
void oneCall(FuzzedDataProvider &data) {
    const int function = data.ConsumeIntegralInRange<int>(0, 44);
    currentFunction = function;
    state.messages.clear();
    state.stepsFinished.clear();
    if (function == 3) {
        callInstantiate(data);
    } else if (function == 44) {
        startInstance(data);
    } else if (function == 0) {
        CHECK(std::strcmp(fmi2GetTypesPlatform(), "default") == 0);
    } else if (function == 1) {
        CHECK(std::strcmp(fmi2GetVersion(), "2.0") == 0);
    } else {
        const Target target = pickTarget(data);
        if (function == 10) {
            callGetReal(data, target);
        } else if (function == 14) {
            callSetReal(data, target);
        } else if (function >= 11 && function <= 17) {
            callOtherType(data, target, function);
        } else if (function == 37) {
            callDoStep(data, target);
        } else if (function >= 18) {
            callWithoutEffect(data, target, function);
        } else {
            callLifecycle(data, target, function);
        }
        if (target.slot != nullptr && target.slot->component != nullptr) {
            checkNames(target.slot->name);
        } else if (target.slot == nullptr) {
            CHECK(state.messages.empty());
        }
    }
    CHECK(state.stepsFinished.empty() || function == 37);
    checkCurrentInstance();
    checkGates();
}

// The library's model as it was loaded; each input starts from it, so that what one input changed
// (meanSampleTime, outputs a master wrote) does not carry into the next.
struct Pristine {
    kestrune::ModelParameters parameters;
    kestrune::ModelSignals signals;
    kestrune::ModelWork work;
    kestrune::ModelInputs inputs;
    kestrune::ModelOutputs outputs;
    kestrune::ModelRecord record;
};
Pristine pristine;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    const kestrune::Model &m = kestrune::libraryModel;
    pristine = {m.parameters, m.signals, m.work, m.inputs, m.outputs, m.record};
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size) {
    kestrune::Model &m = kestrune::libraryModel;
    m.parameters = pristine.parameters;
    m.signals = pristine.signals;
    m.work = pristine.work;
    m.inputs = pristine.inputs;
    m.outputs = pristine.outputs;
    m.record = pristine.record;
    state.freed.clear();
    state.modelStarted = false;
    state.modelStepped = false;
    state.gatesWritten = false;

    FuzzedDataProvider data(bytes, size);
    for (int call = 0; call < MAX_CALLS && data.remaining_bytes() > 0; ++call) {
        oneCall(data);
    }

    // Free every instance still live, in slot order.
    state.messages.clear();
    for (Slot &slot : state.slots) {
        if (slot.component != nullptr) {
            freeSlot(slot);
        }
    }
    CHECK(kestrune::currentInstance == nullptr);
    return 0;
}
