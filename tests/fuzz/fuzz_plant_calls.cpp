// Fuzzes the plant FMU's calls: sequences decoded from the input of
// instantiation (good and bad), parameters and gates set to any value
// (NaN, infinities, the largest and smallest doubles, integers at the ends
// of their type), reads, initialization, steps of odd sizes (0, -0, the
// smallest double, parts of a base step, huge), status queries, reset,
// termination and freeing, on up to three instances, a freed one, a null one
// and a foreign pointer, including a second free.
//
// After every call the target checks that the status is one the plant gives
// (fmi2OK, fmi2Discard, fmi2Error), that a component naming no live instance
// gets fmi2Error and no message, and that after an initialization or a step
// that returned fmi2OK every output is a finite number.
//
// Each input decodes one byte at a time: an operation, then its operands;
// the bytes run out as zeros.
#include "fmu/fmi2.h"
#include "identity.h"
#include "plant_layout.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using namespace kestrune::plantfmu;

constexpr std::size_t SLOTS = 3;
constexpr int MAX_CALLS = 64;
const double NaN = std::numeric_limits<double>::quiet_NaN();
const double INF = std::numeric_limits<double>::infinity();

#define CHECK(condition)                                                                                     \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "check failed at line %d: %s\n", __LINE__, #condition);                     \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)

class Bytes {
  public:
    Bytes(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}
    bool more() const { return at_ < size_; }
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint64_t wide(int bytes) {
        std::uint64_t value = 0;
        for (int k = 0; k < bytes; ++k)
            value = value << 8U | byte();
        return value;
    }

  private:
    const std::uint8_t *data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

struct State {
    std::array<fmi2Component, SLOTS> slots{};
    std::vector<fmi2Component> freed;
    int messages = 0; // during the present call
};
State state;

// A struct of the master's own, passed as if it were an instance.
struct Foreign {
    char bytes[256];
} foreign{};

void logger(fmi2ComponentEnvironment environment, fmi2String name, fmi2Status status, fmi2String category,
            fmi2String message, ...) {
    CHECK(environment == &state);
    CHECK(name != nullptr && category != nullptr && message != nullptr);
    CHECK(status == fmi2OK || status == fmi2Discard || status == fmi2Error);
    ++state.messages;
}

void stepFinished(fmi2ComponentEnvironment environment, fmi2Status status) {
    CHECK(environment == &state);
    CHECK(status == fmi2OK || status == fmi2Discard || status == fmi2Error);
}

const fmi2CallbackFunctions callbacks{logger, nullptr, nullptr, stepFinished, &state};

struct Target {
    fmi2Component component;
    bool live;
};

Target pickTarget(Bytes &in) {
    const unsigned choice = in.byte() % (SLOTS + 3);
    if (choice < SLOTS)
        return {state.slots[choice], state.slots[choice] != nullptr};
    if (choice == SLOTS && !state.freed.empty())
        return {state.freed[in.byte() % state.freed.size()], false};
    if (choice == SLOTS + 1)
        return {&foreign, false};
    return {nullptr, false};
}

double pickReal(Bytes &in) {
    static const double values[] = {0.0,  -0.0,   1.0,    2.0,     60.0,    500.0,    0.5,         1e-4,
                                    5e-6, NaN,    INF,    -INF,    DBL_MAX, -DBL_MAX, 1e308,       1e9,
                                    -1e9, 1e-18,  5e-324, DBL_MIN, 1e300,   -1.0,     200e3,       0.05,
                                    3.0,  1e-300, 2e-4,   10.0,    -90.0,   7.0,      1.0000001e9, 9.9e-19};
    const std::uint8_t b = in.byte();
    if (b < 2 * std::size(values))
        return values[b % std::size(values)];
    const std::uint64_t bits = in.wide(8);
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

int pickInteger(Bytes &in) {
    static const int values[] = {0,
                                 1,
                                 2,
                                 3,
                                 4,
                                 5,
                                 6,
                                 7,
                                 8,
                                 9,
                                 16,
                                 17,
                                 -1,
                                 -2,
                                 100,
                                 101,
                                 std::numeric_limits<int>::min(),
                                 std::numeric_limits<int>::max()};
    const std::uint8_t b = in.byte();
    if (b < 3 * std::size(values))
        return values[b % std::size(values)];
    return static_cast<int>(static_cast<std::uint32_t>(in.wide(4)));
}

// Mostly the references of the grid, the first converter and the first two
// events, where a few writes make a plant; sometimes any number.
fmi2ValueReference pickReference(Bytes &in, int type) {
    const unsigned b = in.byte();
    if (b >= 224)
        return static_cast<fmi2ValueReference>(in.wide(4));
    const int low = static_cast<int>(b);
    if (type == 0) // Real
        return realReference(low < 11    ? low
                             : low < 200 ? R_EVENT_FIRST + (low - 11) % (2 * EVENT_REALS)
                                         : R_GATE_FIRST + low % GATES);
    if (type == 1)
        return integerReference(low % (2 + 2 * EVENT_INTEGERS));
    return booleanReference(low % BOOLEAN_COUNT);
}

double pickStep(Bytes &in) {
    static const double values[] = {0.0,  -0.0,         5e-324,       5e-6, 1e-5,  5e-5,  1e-4,     1e-3,
                                    7e-6, -5e-6,        NaN,          INF,  -INF,  1e-12, 2.5e-6,   DBL_MAX,
                                    1e10, 5e-6 + 1e-17, 4.9999999e-6, 2e-4, 1e-11, 5e-12, -DBL_MIN, 1e-300};
    const std::uint8_t b = in.byte();
    if (b < 128)
        return values[b % std::size(values)];
    return 5e-6 * static_cast<double>(b - 128);
}

double plantTime(const Target &target) {
    double t = 0.0;
    if (target.live)
        CHECK(fmi2GetRealStatus(target.component, fmi2LastSuccessfulTime, &t) == fmi2OK);
    return t;
}

// Every output of a live instance, read back finite.
void checkOutputsFinite(fmi2Component c) {
    std::vector<fmi2ValueReference> vr;
    for (int slot = R_OUTPUT_FIRST; slot < REAL_COUNT; ++slot)
        vr.push_back(realReference(slot));
    std::vector<double> values(vr.size(), NaN);
    CHECK(fmi2GetReal(c, vr.data(), vr.size(), values.data()) == fmi2OK);
    for (const double v : values)
        CHECK(std::isfinite(v));
}

void forgetFreed(fmi2Component c) {
    state.freed.erase(std::remove(state.freed.begin(), state.freed.end(), c), state.freed.end());
}

void freeSlot(std::size_t slot) {
    fmi2FreeInstance(state.slots[slot]);
    state.freed.push_back(state.slots[slot]);
    state.slots[slot] = nullptr;
}

// Arrays of exactly the claimed count on the heap, so that an access beyond
// them is caught.
template <typename T> fmi2Status access(Bytes &in, const Target &target, int type, bool set) {
    const std::size_t n = in.byte() % 5;
    std::vector<fmi2ValueReference> vr(n);
    std::vector<T> values(n);
    for (std::size_t k = 0; k < n; ++k) {
        vr[k] = pickReference(in, type);
        if constexpr (sizeof(T) == sizeof(double))
            values[k] = pickReal(in);
        else
            values[k] = pickInteger(in);
    }
    const fmi2ValueReference *refs = n == 0 ? nullptr : vr.data();
    T *data = n == 0 ? nullptr : values.data();
    fmi2Component c = target.component;
    if constexpr (sizeof(T) == sizeof(double))
        return set ? fmi2SetReal(c, refs, n, data) : fmi2GetReal(c, refs, n, data);
    else if (type == 1)
        return set ? fmi2SetInteger(c, refs, n, data) : fmi2GetInteger(c, refs, n, data);
    else
        return set ? fmi2SetBoolean(c, refs, n, data) : fmi2GetBoolean(c, refs, n, data);
}

void oneCall(Bytes &in) {
    const unsigned op = in.byte() % 16;
    if (op == 0) { // instantiate into a slot
        const std::size_t slot = in.byte() % SLOTS;
        if (state.slots[slot] != nullptr)
            freeSlot(slot);
        const unsigned variant = in.byte() % 6;
        const char *guid = variant == 1 ? "{00000000-0000-0000-0000-000000000000}" : PLANT_GUID;
        const char *name = variant == 2 ? "" : variant == 3 ? nullptr : "plant";
        const fmi2Type type = variant == 4 ? fmi2ModelExchange : fmi2CoSimulation;
        fmi2Component c = fmi2Instantiate(name, type, guid, nullptr, variant == 5 ? nullptr : &callbacks,
                                          fmi2False, static_cast<fmi2Boolean>(in.byte() & 1U));
        CHECK((c != nullptr) == (variant == 0));
        state.slots[slot] = c;
        forgetFreed(c);
        return;
    }
    const Target target = pickTarget(in);
    fmi2Component c = target.component;
    state.messages = 0;
    fmi2Status status = fmi2OK;
    switch (op) {
    case 1: // free, and for a slot forget the instance
        for (std::size_t slot = 0; slot < SLOTS; ++slot)
            if (target.live && state.slots[slot] == c) {
                freeSlot(slot);
                return;
            }
        fmi2FreeInstance(c); // freed before, foreign or null: nothing happens
        CHECK(state.messages == 0);
        return;
    case 2:
        status = access<double>(in, target, 0, true);
        break;
    case 3:
        status = access<int>(in, target, 1, true);
        break;
    case 4:
        status = access<int>(in, target, 2, true);
        break;
    case 5: {
        const unsigned type = in.byte() % 3;
        status = type == 0 ? access<double>(in, target, 0, false)
                           : access<int>(in, target, static_cast<int>(type), false);
        break;
    }
    case 6:
        status = fmi2SetupExperiment(c, fmi2False, 0.0, in.byte() & 1U ? pickReal(in) : 0.0, fmi2False, 0.0);
        break;
    case 7:
        status = fmi2EnterInitializationMode(c);
        break;
    case 8:
        status = fmi2ExitInitializationMode(c);
        if (status == fmi2OK)
            checkOutputsFinite(c);
        break;
    case 9: {
        const double t = in.byte() < 224 ? plantTime(target) : pickReal(in);
        const double h = pickStep(in);
        status = fmi2DoStep(c, t, h, fmi2True);
        if (status == fmi2OK) {
            CHECK(h > kestrune::BASE_STEP / 2.0); // at least one whole base step
            checkOutputsFinite(c);
        }
        break;
    }
    case 10:
        status = fmi2Reset(c);
        break;
    case 11:
        status = fmi2Terminate(c);
        break;
    case 12: {
        double r = 0.0;
        int i = 0;
        fmi2Status s = fmi2OK;
        fmi2String text = nullptr;
        const auto kind = static_cast<fmi2StatusKind>(in.byte() % 4);
        switch (in.byte() % 5) {
        case 0:
            status = fmi2GetStatus(c, kind, &s);
            break;
        case 1:
            status = fmi2GetRealStatus(c, kind, &r);
            break;
        case 2:
            status = fmi2GetIntegerStatus(c, kind, &i);
            break;
        case 3:
            status = fmi2GetBooleanStatus(c, kind, &i);
            break;
        default:
            status = fmi2GetStringStatus(c, kind, &text);
            break;
        }
        break;
    }
    case 13: {
        fmi2FMUstate fmuState = nullptr;
        switch (in.byte() % 4) {
        case 0:
            status = fmi2SetDebugLogging(c, static_cast<fmi2Boolean>(in.byte() & 1U), 0, nullptr);
            break;
        case 1:
            status = fmi2CancelStep(c);
            break;
        case 2:
            status = fmi2GetFMUstate(c, &fmuState);
            break;
        default:
            status = fmi2SetTime(c, pickReal(in));
            break;
        }
        break;
    }
    case 14: { // strings: none to get or set
        const fmi2ValueReference vr = pickReference(in, 0);
        fmi2String text = "x";
        status = in.byte() & 1U ? fmi2SetString(c, &vr, in.byte() % 2, &text)
                                : fmi2GetString(c, &vr, in.byte() % 2, &text);
        break;
    }
    default: // free twice
        if (target.live)
            for (std::size_t slot = 0; slot < SLOTS; ++slot)
                if (state.slots[slot] == c)
                    freeSlot(slot);
        fmi2FreeInstance(c);
        CHECK(state.messages == 0);
        return;
    }
    CHECK(status == fmi2OK || status == fmi2Discard || status == fmi2Error);
    if (!target.live) {
        CHECK(status == fmi2Error);
        CHECK(state.messages == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size) {
    Bytes in(bytes, size);
    state.freed.clear();
    for (int call = 0; call < MAX_CALLS && in.more(); ++call)
        oneCall(in);
    for (std::size_t slot = 0; slot < SLOTS; ++slot)
        if (state.slots[slot] != nullptr)
            freeSlot(slot);
    return 0;
}
