// The FMU state of an instance: taken, restored, serialized and read back
// into another instance, it continues bit for bit as the original did; a
// damaged image or a state of another instance is refused and changes
// nothing.
#include "fmi3_fixture.h"

#include <functional>

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
