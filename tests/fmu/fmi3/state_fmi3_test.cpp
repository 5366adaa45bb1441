// The FMU state of an instance: taken, restored, serialized and read back
// into another instance, it continues bit for bit as the original did; a
// damaged image or a state of another instance is refused and changes
// nothing.
#include "fmi3_fixture.h"
#include "model/records.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>

namespace kestrune::fmi3test {
namespace {

using StateFmi3Test = Fmi3Test;

// Where the state is taken (base steps of the running grid, so the phase
// lock and the means have settled a little) and how long each continuation
// runs (through the sag of the disturbed grid's second half).
constexpr int TAKEN_AT = 4000;
constexpr int CONTINUATION = 3000;

std::vector<Gates> continuation(Fmi3Driver &driver, fmi3Instance i) {
    return driver.run(i, TAKEN_AT, CONTINUATION, [](double t) { return disturbedGrid(t + 0.2); });
}

fmi3Instance runningInstance(Fmi3Test &test, fmi3Instance i) {
    EXPECT_EQ(test.run(i, 0, TAKEN_AT, runningGrid).size(), static_cast<std::size_t>(TAKEN_AT));
    return i;
}

std::vector<fmi3Byte> serialize(const master::Fmi3Functions &f, fmi3Instance i, fmi3FMUState state) {
    size_t size = 0;
    EXPECT_EQ(f.fmi3SerializedFMUStateSize(i, state, &size), fmi3OK);
    std::vector<fmi3Byte> image(size);
    EXPECT_EQ(f.fmi3SerializeFMUState(i, state, image.data(), image.size()), fmi3OK);
    return image;
}

TEST_F(StateFmi3Test, RestoredStatesContinueAsTheOriginalRunDid) {
    fmi3Instance original = runningInstance(*this, initialized());
    fmi3FMUState state = nullptr;
    ASSERT_EQ(fmi().fmi3GetFMUState(original, &state), fmi3OK);
    ASSERT_NE(state, nullptr);
    const std::vector<Gates> expected = continuation(*this, original);
    ASSERT_EQ(expected.size(), static_cast<std::size_t>(CONTINUATION));

    // Set back on the same instance.
    ASSERT_EQ(fmi().fmi3SetFMUState(original, state), fmi3OK);
    EXPECT_EQ(read(original, TIME_VR), (TAKEN_AT - 1) * BASE_STEP + BASE_STEP);
    EXPECT_EQ(firstDifference(continuation(*this, original), expected), -1);

    // Read back from its image into another instance: one just made, one
    // that is running elsewhere, one terminated.
    const std::vector<fmi3Byte> image = serialize(fmi(), original, state);
    for (const char *what : {"instantiated", "running", "terminated"}) {
        SCOPED_TRACE(what);
        fmi3Instance other = instance();
        if (what[0] != 'i') {
            ASSERT_TRUE(initialize(other));
            ASSERT_EQ(run(other, 0, 777, disturbedGrid).size(), 777U);
        }
        if (what[0] == 't') {
            ASSERT_EQ(fmi().fmi3Terminate(other), fmi3OK);
        }
        fmi3FMUState copy = nullptr;
        ASSERT_EQ(fmi().fmi3DeserializeFMUState(other, image.data(), image.size(), &copy), fmi3OK);
        ASSERT_EQ(fmi().fmi3SetFMUState(other, copy), fmi3OK);
        EXPECT_EQ(firstDifference(continuation(*this, other), expected), -1);
        EXPECT_EQ(serialize(fmi(), other, copy), image);
    }
    EXPECT_TRUE(errors().empty());
}

// Each damaged image: refused with what is wrong, and the instance steps on
// as an untouched twin does.
TEST_F(StateFmi3Test, DamagedImagesAreRefusedWithTheReasonAndChangeNothing) {
    fmi3Instance source = runningInstance(*this, initialized());
    fmi3FMUState state = nullptr;
    ASSERT_EQ(fmi().fmi3GetFMUState(source, &state), fmi3OK);
    const std::vector<fmi3Byte> image = serialize(fmi(), source, state);
    // The header: magic (8 bytes), format version (4), layout (4), token (40),
    // payload size (8); the checksum closes the image.
    const std::size_t versionAt = 8, tokenAt = 16, payloadAt = 64;
    struct Case {
        const char *why;
        std::function<void(std::vector<fmi3Byte> &)> damage;
    };
    const Case cases[] = {
        {"truncated", [](auto &b) { b.resize(b.size() - 1); }},
        {"truncated", [](auto &b) { b.resize(20); }},
        {"truncated", [](auto &b) { b.clear(); }},
        {"corrupted", [&](auto &b) { b[payloadAt + (b.size() - payloadAt) / 2] ^= 0x10; }},
        {"corrupted", [](auto &b) { b.back() ^= 1; }},
        {"corrupted", [](auto &b) { b.push_back(0); }},
        {"foreign", [](auto &b) { b[0] = 'X'; }},
        {"foreign", [&](auto &b) { b[tokenAt + 1] = '0'; }},
        {"wrong version", [&](auto &b) { b[versionAt] ^= 2; }},
    };
    fmi3Instance target = runningInstance(*this, initialized());
    fmi3Instance twin = runningInstance(*this, initialized());
    int first = TAKEN_AT;
    for (const Case &k : cases) {
        SCOPED_TRACE(k.why);
        std::vector<fmi3Byte> damaged = image;
        k.damage(damaged);
        logger.clear();
        fmi3FMUState refused = nullptr;
        EXPECT_EQ(fmi().fmi3DeserializeFMUState(target, damaged.data(), damaged.size(), &refused), fmi3Error);
        EXPECT_EQ(refused, nullptr);
        EXPECT_TRUE(oneError(std::string("fmi3DeserializeFMUState: the image is ") + k.why));
        EXPECT_EQ(firstDifference(run(target, first, 50, disturbedGrid), run(twin, first, 50, disturbedGrid)),
                  -1);
        first += 50;
    }
}

// Where an image holds the values that the forged images below change: the
// payload follows the 64-byte header, its fixed part first.
namespace at {
constexpr std::size_t PAYLOAD = 64;
constexpr std::size_t RATE_COUNTER = PAYLOAD + 6;
constexpr std::size_t TIME = PAYLOAD + 15;
constexpr std::size_t SLOW_TICK = PAYLOAD + 31;
constexpr std::size_t SLOW_TIME = PAYLOAD + 71;
constexpr std::size_t MEAN_SAMPLE_TIME = PAYLOAD + 79;
constexpr std::size_t GATES = MEAN_SAMPLE_TIME + 8 + sizeof(ModelSignals) + sizeof(ModulationWork) +
                              sizeof(ControlWork) + sizeof(ModelInputs);
constexpr std::size_t PUBLISHED = GATES + sizeof(ModelOutputs);
} // namespace at

void putDouble(std::vector<fmi3Byte> &image, std::size_t where, double value) {
    std::memcpy(image.data() + where, &value, sizeof value);
}

// Recomputes the closing checksum (FNV-1a, 64 bits) as a forger would.
void reseal(std::vector<fmi3Byte> &image) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (std::size_t i = 0; i + sizeof hash < image.size(); ++i) {
        hash = (hash ^ image[i]) * 1099511628211ULL;
    }
    std::memcpy(image.data() + image.size() - sizeof hash, &hash, sizeof hash);
}

// Images edited and resealed: each value that the unit's writes or steps
// would never leave is refused, naming it, and the instance steps on as an
// untouched twin does; values they could leave pass.
TEST_F(StateFmi3Test, ForgedImagesWithValuesTheUnitRefusesAreRefused) {
    fmi3Instance source = runningInstance(*this, initialized());
    fmi3FMUState state = nullptr;
    ASSERT_EQ(fmi().fmi3GetFMUState(source, &state), fmi3OK);
    const std::vector<fmi3Byte> image = serialize(fmi(), source, state);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char *refusal; // what the message names after "corrupted: "; null: accepted
        std::function<void(std::vector<fmi3Byte> &)> forge;
    };
    const Case cases[] = {
        {"its meanSampleTime 0 is not finite and positive",
         [](auto &b) { putDouble(b, at::MEAN_SAMPLE_TIME, 0.0); }},
        {"its meanSampleTime -0.0001", [](auto &b) { putDouble(b, at::MEAN_SAMPLE_TIME, -1e-4); }},
        {"its meanSampleTime", [&](auto &b) { putDouble(b, at::MEAN_SAMPLE_TIME, nan); }},
        {"its time", [&](auto &b) { putDouble(b, at::TIME, nan); }},
        {"its time -1 is not finite or lies before", [](auto &b) { putDouble(b, at::TIME, -1.0); }},
        {"its time -2e-07 is not finite or lies before the earliest start time -1e-07",
         [](auto &b) { putDouble(b, at::TIME, -2e-7); }},
        {"its gateA4 ", [](auto &b) { putDouble(b, at::GATES + 3 * sizeof(double), 5.4e-312); }},
        {"its published gateC4 0.5", [](auto &b) { putDouble(b, at::PUBLISHED + 11 * sizeof(double), 0.5); }},
        {"its rate counter 2 does not follow its 4001 base steps", [](auto &b) { ++b[at::RATE_COUNTER]; }},
        {"its 202 slow steps do not follow its 4001 base steps", [](auto &b) { ++b[at::SLOW_TICK]; }},
        {"its slow-step time", [](auto &b) { putDouble(b, at::SLOW_TIME, 1.0); }},
        // A master may write this parameter, and start up to 1e-7 s early.
        {nullptr, [](auto &b) { putDouble(b, at::MEAN_SAMPLE_TIME, 2e-4); }},
        {nullptr, [](auto &b) { putDouble(b, at::TIME, -1e-7); }},
    };
    fmi3Instance target = runningInstance(*this, initialized());
    fmi3Instance twin = runningInstance(*this, initialized());
    int first = TAKEN_AT;
    for (const Case &k : cases) {
        SCOPED_TRACE(k.refusal != nullptr ? k.refusal : "accepted");
        std::vector<fmi3Byte> forged = image;
        k.forge(forged);
        reseal(forged);
        logger.clear();
        fmi3FMUState read = nullptr;
        const fmi3Status status = fmi().fmi3DeserializeFMUState(target, forged.data(), forged.size(), &read);
        if (k.refusal != nullptr) {
            EXPECT_EQ(status, fmi3Error);
            EXPECT_EQ(read, nullptr);
            EXPECT_TRUE(
                oneError(std::string("fmi3DeserializeFMUState: the image is corrupted: ") + k.refusal));
        } else {
            EXPECT_EQ(status, fmi3OK);
            EXPECT_TRUE(errors().empty());
            EXPECT_EQ(fmi().fmi3FreeFMUState(target, &read), fmi3OK);
        }
        EXPECT_EQ(firstDifference(run(target, first, 50, disturbedGrid), run(twin, first, 50, disturbedGrid)),
                  -1);
        first += 50;
    }
}

TEST_F(StateFmi3Test, StatesAreCheckedAgainstTheInstanceThatHoldsThem) {
    fmi3Instance owner = runningInstance(*this, initialized());
    fmi3Instance other = runningInstance(*this, initialized());
    fmi3Instance twin = runningInstance(*this, initialized());
    fmi3FMUState state = nullptr;
    ASSERT_EQ(fmi().fmi3GetFMUState(owner, &state), fmi3OK);
    size_t size = 0;
    fmi3FMUState foreign = state;
    fmi3FMUState null = nullptr;
    const std::pair<const char *, std::function<fmi3Status()>> refused[] = {
        {"fmi3SetFMUState: not an FMU state of this instance",
         [&] { return fmi().fmi3SetFMUState(other, state); }},
        {"fmi3FreeFMUState: not an FMU state of this instance",
         [&] { return fmi().fmi3FreeFMUState(other, &foreign); }},
        {"fmi3SerializedFMUStateSize: not an FMU state of this instance",
         [&] { return fmi().fmi3SerializedFMUStateSize(other, state, &size); }},
        {"fmi3GetFMUState: not an FMU state of this instance",
         [&] { return fmi().fmi3GetFMUState(other, &foreign); }},
        {"fmi3SetFMUState: the FMU state is null", [&] { return fmi().fmi3SetFMUState(other, nullptr); }},
        {"fmi3GetFMUState: FMUState is null", [&] { return fmi().fmi3GetFMUState(other, nullptr); }},
        {"fmi3FreeFMUState: FMUState is null", [&] { return fmi().fmi3FreeFMUState(other, nullptr); }},
        {"fmi3SerializedFMUStateSize: size is null",
         [&] { return fmi().fmi3SerializedFMUStateSize(owner, state, nullptr); }},
        {"fmi3SerializeFMUState: the buffer holds",
         [&] {
             fmi3Byte small[16];
             return fmi().fmi3SerializeFMUState(owner, state, small, sizeof small);
         }},
        {"fmi3DeserializeFMUState: null argument",
         [&] { return fmi().fmi3DeserializeFMUState(other, nullptr, 10, &null); }},
    };
    for (const auto &[message, call] : refused) {
        SCOPED_TRACE(message);
        logger.clear();
        EXPECT_EQ(call(), fmi3Error);
        EXPECT_TRUE(oneError(message));
        EXPECT_EQ(foreign, state);
        EXPECT_EQ(null, nullptr);
    }
    EXPECT_EQ(firstDifference(continuation(*this, other), continuation(*this, twin)), -1);

    // Freeing: a null state is nothing to free; a freed one is gone.
    EXPECT_EQ(fmi().fmi3FreeFMUState(owner, &null), fmi3OK);
    fmi3FMUState copy = state;
    EXPECT_EQ(fmi().fmi3FreeFMUState(owner, &state), fmi3OK);
    EXPECT_EQ(state, nullptr);
    logger.clear();
    EXPECT_EQ(fmi().fmi3SetFMUState(owner, copy), fmi3Error);
    EXPECT_TRUE(oneError("fmi3SetFMUState: not an FMU state of this instance"));
}

// Instances made, run, saved, restored, reset and freed with states still
// held: the address sanitizer's leak check (asan build) finds nothing left.
TEST_F(StateFmi3Test, LifeCyclesWithStatesLeaveNothingBehind) {
    for (int round = 0; round < 3; ++round) {
        fmi3Instance i = instance(TOKEN, round == 0);
        ASSERT_TRUE(initialize(i));
        ASSERT_EQ(run(i, 0, 200, runningGrid).size(), 200U);
        fmi3FMUState states[3] = {nullptr, nullptr, nullptr};
        ASSERT_EQ(fmi().fmi3GetFMUState(i, &states[0]), fmi3OK);
        ASSERT_EQ(fmi().fmi3GetFMUState(i, &states[1]), fmi3OK);
        ASSERT_EQ(fmi().fmi3GetFMUState(i, &states[1]), fmi3OK); // taken again into the same state
        const std::vector<fmi3Byte> image = serialize(fmi(), i, states[0]);
        ASSERT_EQ(fmi().fmi3DeserializeFMUState(i, image.data(), image.size(), &states[2]), fmi3OK);
        ASSERT_EQ(fmi().fmi3DeserializeFMUState(i, image.data(), image.size(), &states[1]), fmi3OK);
        ASSERT_EQ(fmi().fmi3FreeFMUState(i, &states[0]), fmi3OK);
        ASSERT_EQ(fmi().fmi3Reset(i), fmi3OK);
        ASSERT_EQ(fmi().fmi3SetFMUState(i, states[2]), fmi3OK);
        ASSERT_EQ(run(i, 200, 100, runningGrid).size(), 100U);
        ASSERT_EQ(fmi().fmi3Terminate(i), fmi3OK);
        ASSERT_EQ(fmi().fmi3SetFMUState(i, states[1]), fmi3OK);
        ASSERT_EQ(fmi().fmi3Terminate(i), fmi3OK);
        freeInstance(i);
    }
}

} // namespace
} // namespace kestrune::fmi3test
