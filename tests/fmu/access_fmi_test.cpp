// Reading and writing the unit's variables by value reference through the
// eight accessors.
#include "fmi_fixture.h"

#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace kestrune::fmitest {
namespace {

using AccessFmiTest = FmiTest;

const std::string OUT_OF_RANGE = "valueReference out of range";
const std::string INVALID_MEMORY = "invalid memory access";

// One accessor, called with the given references and a value array of its
// own type (null when nullValue), holding up to four elements.
struct Accessor {
    const char *name;
    std::function<fmi2Status(fmi2Component, const fmi2ValueReference *, size_t, bool)> call;
};

std::vector<Accessor> allAccessors(const master::Fmi2Functions &f) {
    return {
        {"fmi2GetReal",
         [&f](fmi2Component c, const fmi2ValueReference *vr, size_t nvr, bool nullValue) {
             fmi2Real values[4] = {};
             return f.getReal(c, vr, nvr, nullValue ? nullptr : values);
         }},
        {"fmi2SetReal",
         [&f](fmi2Component c, const fmi2ValueReference *vr, size_t nvr, bool nullValue) {
             const fmi2Real values[4] = {1.0, 2.0, 3.0, 4.0};
             return f.setReal(c, vr, nvr, nullValue ? nullptr : values);
         }},
        {"fmi2GetInteger",
         [&f](fmi2Component c, const fmi2ValueReference *vr, size_t nvr, bool nullValue) {
             fmi2Integer values[4] = {};
             return f.getInteger(c, vr, nvr, nullValue ? nullptr : values);
         }},
        {"fmi2SetInteger",
         [&f](fmi2Component c, const fmi2ValueReference *vr, size_t nvr, bool nullValue) {
             const fmi2Integer values[4] = {1, 2, 3, 4};
             return f.setInteger(c, vr, nvr, nullValue ? nullptr : values);
         }},
        {"fmi2GetBoolean",
         [&f](fmi2Component c, const fmi2ValueReference *vr, size_t nvr, bool nullValue) {
             fmi2Boolean values[4] = {};
             return f.getBoolean(c, vr, nvr, nullValue ? nullptr : values);
         }},
        {"fmi2SetBoolean",
         [&f](fmi2Component c, const fmi2ValueReference *vr, size_t nvr, bool nullValue) {
             const fmi2Boolean values[4] = {fmi2True, fmi2False, fmi2True, fmi2False};
             return f.setBoolean(c, vr, nvr, nullValue ? nullptr : values);
         }},
        {"fmi2GetString",
         [&f](fmi2Component c, const fmi2ValueReference *vr, size_t nvr, bool nullValue) {
             fmi2String values[4] = {};
             return f.getString(c, vr, nvr, nullValue ? nullptr : values);
         }},
        {"fmi2SetString",
         [&f](fmi2Component c, const fmi2ValueReference *vr, size_t nvr, bool nullValue) {
             const fmi2String values[4] = {"a", "b", "c", "d"};
             return f.setString(c, vr, nvr, nullValue ? nullptr : values);
         }},
    };
}

TEST_F(AccessFmiTest, NoElementsWithNullArraysSucceedsSilently) {
    fmi2Component c = initialized(INSTANCE_NAME, true);
    ASSERT_NE(c, nullptr);
    logger.clear();
    for (const Accessor &accessor : allAccessors(fmi())) {
        SCOPED_TRACE(accessor.name);
        EXPECT_EQ(accessor.call(c, nullptr, 0, true), fmi2OK);
    }
    EXPECT_TRUE(logger.messages.empty());
}

TEST_F(AccessFmiTest, NullArrayWithElementsIsInvalidMemoryAccess) {
    fmi2Component c = initialized(INSTANCE_NAME, true);
    ASSERT_NE(c, nullptr);
    const fmi2ValueReference vr[4] = {0, 1, 2, 3};
    struct Shape {
        const char *what;
        const fmi2ValueReference *vr;
        size_t nvr;
        bool nullValue;
    };
    const Shape shapes[] = {
        {"null references", nullptr, 1, false},
        {"null values", vr, 1, true},
        {"both null", nullptr, 3, true},
    };
    for (const Accessor &accessor : allAccessors(fmi())) {
        for (const Shape &shape : shapes) {
            SCOPED_TRACE(std::string(accessor.name) + ", " + shape.what);
            logger.clear();
            EXPECT_EQ(accessor.call(c, shape.vr, shape.nvr, shape.nullValue), fmi2Error);
            EXPECT_EQ(messages(), std::vector<Message>{error(INVALID_MEMORY)});
        }
    }
}

TEST_F(AccessFmiTest, IntegerBooleanAndStringHaveNoVariables) {
    fmi2Component c = initialized(INSTANCE_NAME, true);
    ASSERT_NE(c, nullptr);
    const fmi2ValueReference first[1] = {0};
    const fmi2ValueReference several[3] = {0, 1, 20};
    for (const Accessor &accessor : allAccessors(fmi())) {
        const std::string name = accessor.name;
        if (name == "fmi2GetReal" || name == "fmi2SetReal") {
            continue;
        }
        SCOPED_TRACE(name);
        logger.clear();
        EXPECT_EQ(accessor.call(c, first, 1, false), fmi2Error);
        EXPECT_EQ(accessor.call(c, several, 3, false), fmi2Error);
        EXPECT_EQ(messages(), (std::vector<Message>{error(OUT_OF_RANGE), error(OUT_OF_RANGE)}));
        logger.clear();
        EXPECT_EQ(accessor.call(c, first, 0, false), fmi2OK);
        EXPECT_TRUE(logger.messages.empty());
    }

    // Getters leave the master's array alone.
    fmi2Integer integer = -7;
    EXPECT_EQ(fmi().getInteger(c, first, 1, &integer), fmi2Error);
    EXPECT_EQ(integer, -7);
    fmi2Boolean boolean = 5;
    EXPECT_EQ(fmi().getBoolean(c, first, 1, &boolean), fmi2Error);
    EXPECT_EQ(boolean, 5);
    const char untouched[] = "untouched";
    fmi2String string = untouched;
    EXPECT_EQ(fmi().getString(c, first, 1, &string), fmi2Error);
    EXPECT_EQ(string, untouched);
    // No real variable was reached through them.
    EXPECT_EQ(readReal(c, 0), 0.0);
}

TEST_F(AccessFmiTest, GetRealChecksEveryReferenceBeforeReadingAny) {
    fmi2Component c = initialized(INSTANCE_NAME, true);
    ASSERT_NE(c, nullptr);
    struct Case {
        const char *what;
        std::vector<fmi2ValueReference> vr;
    };
    const Case cases[] = {
        {"{3, 21}", {3, 21}},
        {"{21, 3}", {21, 3}},
        {"{0, 1, 2, 22}", {0, 1, 2, 22}},
        {"largest reference", {0xFFFFFFFFU}},
        {"sign bit set", {0x80000000U}},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        std::vector<double> values(k.vr.size(), -1.5);
        logger.clear();
        EXPECT_EQ(fmi().getReal(c, k.vr.data(), k.vr.size(), values.data()), fmi2Error);
        EXPECT_EQ(messages(), std::vector<Message>{error(OUT_OF_RANGE)});
        for (double value : values) {
            EXPECT_EQ(value, -1.5);
        }
    }
}

TEST_F(AccessFmiTest, SetRealWritesTheElementsBeforeABadReference) {
    fmi2Component c = initialized(INSTANCE_NAME, true);
    ASSERT_NE(c, nullptr);
    logger.clear();
    const fmi2ValueReference vr[2] = {0, 21};
    const double values[2] = {42.0, 43.0};
    EXPECT_EQ(fmi().setReal(c, vr, 2, values), fmi2Error);
    EXPECT_EQ(messages(), (std::vector<Message>{info("setReal vr:0, value:42.000000"), error(OUT_OF_RANGE)}));
    EXPECT_EQ(readReal(c, 0), 42.0);

    const fmi2ValueReference badFirst[2] = {0xFFFFFFFFU, 1};
    logger.clear();
    EXPECT_EQ(fmi().setReal(c, badFirst, 2, values), fmi2Error);
    EXPECT_EQ(messages(), std::vector<Message>{error(OUT_OF_RANGE)});
    EXPECT_EQ(readReal(c, 1), 0.0);
}

TEST_F(AccessFmiTest, EveryValueReferenceHasItsOwnVariable) {
    fmi2Component c = instance();
    ASSERT_NE(c, nullptr);
    fmi2ValueReference vr[REAL_COUNT];
    double written[REAL_COUNT];
    for (fmi2ValueReference i = 0; i < REAL_COUNT; ++i) {
        vr[i] = i;
        written[i] = 100.0 + i;
    }
    ASSERT_EQ(fmi().setReal(c, vr, REAL_COUNT, written), fmi2OK);
    double read[REAL_COUNT] = {};
    ASSERT_EQ(fmi().getReal(c, vr, REAL_COUNT, read), fmi2OK);
    for (fmi2ValueReference i = 0; i < REAL_COUNT; ++i) {
        EXPECT_EQ(read[i], written[i]) << "vr " << i;
    }
    // In reverse order, each element of the array still gets its own reference.
    fmi2ValueReference reversed[REAL_COUNT];
    for (fmi2ValueReference i = 0; i < REAL_COUNT; ++i) {
        reversed[i] = REAL_COUNT - 1 - i;
    }
    ASSERT_EQ(fmi().getReal(c, reversed, REAL_COUNT, read), fmi2OK);
    for (fmi2ValueReference i = 0; i < REAL_COUNT; ++i) {
        EXPECT_EQ(read[i], written[REAL_COUNT - 1 - i]) << "element " << i;
    }
    EXPECT_TRUE(logger.messages.empty());
}

TEST_F(AccessFmiTest, NaNIsStoredAndReadBack) {
    fmi2Component c = initialized();
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(writeReal(c, 0, NaN), fmi2OK);
    EXPECT_TRUE(std::isnan(readReal(c, 0)));
    ASSERT_EQ(writeReal(c, 0, NaN), fmi2OK);
    EXPECT_TRUE(std::isnan(readReal(c, 0)));
    // A NaN stored compares different from any value written over it.
    ASSERT_EQ(writeReal(c, 0, 2.0), fmi2OK);
    EXPECT_EQ(readReal(c, 0), 2.0);
    ASSERT_EQ(writeReal(c, MEAN_SAMPLE_TIME_VR, INF), fmi2OK);
    EXPECT_EQ(readReal(c, MEAN_SAMPLE_TIME_VR), INF);
    EXPECT_TRUE(logger.messages.empty());
}

TEST_F(AccessFmiTest, NegativeZeroOverEqualPositiveZeroIsNotStored) {
    fmi2Component c = initialized();
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(readReal(c, 0), 0.0);
    ASSERT_FALSE(std::signbit(readReal(c, 0)));
    ASSERT_EQ(writeReal(c, 0, -0.0), fmi2OK);
    EXPECT_FALSE(std::signbit(readReal(c, 0)));
    // Over a different value it is stored as it is.
    ASSERT_EQ(writeReal(c, 0, 1.0), fmi2OK);
    ASSERT_EQ(writeReal(c, 0, -0.0), fmi2OK);
    EXPECT_TRUE(std::signbit(readReal(c, 0)));
}

TEST_F(AccessFmiTest, WritingTheTimeMovesWhereTheNextStepMustStart) {
    fmi2Component c = initialized();
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(writeReal(c, TIME_VR, 1e-3), fmi2OK);
    EXPECT_EQ(readTime(c), 1e-3);
    logger.clear();
    EXPECT_EQ(doStep(c, 0.0, 1e-4), fmi2Error);
    EXPECT_EQ(count("CurrentCommunicationPoint is not equal to FMU time"), 1U);
    EXPECT_EQ(readTime(c), 1e-3);
    EXPECT_EQ(doStep(c, 1e-3, 1e-4), fmi2OK);
    EXPECT_EQ(readTime(c), afterBaseSteps(1e-3, 20));
}

TEST_F(AccessFmiTest, InfoMessagesFollowTheLoggingSetting) {
    fmi2Component c = initialized(INSTANCE_NAME, true);
    ASSERT_NE(c, nullptr);
    const fmi2ValueReference vr[3] = {6, 0, 19};
    const double written[3] = {500.0, -1.25, 0.0};
    double read[3] = {};

    logger.clear();
    ASSERT_EQ(fmi().setReal(c, vr, 3, written), fmi2OK);
    ASSERT_EQ(fmi().getReal(c, vr, 3, read), fmi2OK);
    const std::vector<Message> expected = {
        info("setReal vr:6, value:500.000000"), info("setReal vr:0, value:-1.250000"),
        info("setReal vr:19, value:0.000000"),  info("getReal vr:6, value:500.000000"),
        info("getReal vr:0, value:-1.250000"),  info("getReal vr:19, value:0.000000"),
    };
    EXPECT_EQ(messages(), expected);
    for (const master::LogRecord &record : logger.messages) {
        EXPECT_EQ(record.instanceName, INSTANCE_NAME);
    }
    // Writing the value already stored still reports the element.
    logger.clear();
    ASSERT_EQ(fmi().setReal(c, vr, 1, written), fmi2OK);
    EXPECT_EQ(messages(), std::vector<Message>{info("setReal vr:6, value:500.000000")});

    ASSERT_EQ(fmi().setDebugLogging(c, fmi2False, 0, nullptr), fmi2OK);
    logger.clear();
    ASSERT_EQ(fmi().setReal(c, vr, 3, written), fmi2OK);
    ASSERT_EQ(fmi().getReal(c, vr, 3, read), fmi2OK);
    EXPECT_TRUE(logger.messages.empty());

    const fmi2String categories[1] = {"logAll"};
    ASSERT_EQ(fmi().setDebugLogging(c, fmi2True, 1, categories), fmi2OK);
    logger.clear();
    ASSERT_EQ(fmi().getReal(c, vr, 1, read), fmi2OK);
    EXPECT_EQ(messages(), std::vector<Message>{info("getReal vr:6, value:500.000000")});
}

// Inputs written before initialization are the master's start values: they
// stay, as meanSampleTime does. After a reset, inputs not written again start
// from 0.0.
TEST_F(AccessFmiTest, InitializationKeepsWrittenInputsAndMeanSampleTime) {
    fmi2Component c = instance();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(readReal(c, MEAN_SAMPLE_TIME_VR), 1e-4);
    for (fmi2ValueReference vr = FIRST_INPUT_VR; vr < FIRST_INPUT_VR + INPUT_COUNT; ++vr) {
        ASSERT_EQ(writeReal(c, vr, 10.0 + vr), fmi2OK);
    }
    ASSERT_EQ(writeReal(c, MEAN_SAMPLE_TIME_VR, 2e-4), fmi2OK);

    ASSERT_EQ(setup(c, 0.0), fmi2OK);
    ASSERT_EQ(fmi().enterInitializationMode(c), fmi2OK);
    for (fmi2ValueReference vr = FIRST_INPUT_VR; vr < FIRST_INPUT_VR + INPUT_COUNT; ++vr) {
        EXPECT_EQ(readReal(c, vr), 10.0 + vr) << "input vr " << vr;
    }
    EXPECT_EQ(readReal(c, MEAN_SAMPLE_TIME_VR), 2e-4);

    // Inputs written in initialization mode stay.
    for (fmi2ValueReference vr = FIRST_INPUT_VR; vr < FIRST_INPUT_VR + INPUT_COUNT; ++vr) {
        ASSERT_EQ(writeReal(c, vr, 20.0 + vr), fmi2OK);
    }
    ASSERT_EQ(fmi().exitInitializationMode(c), fmi2OK);
    for (fmi2ValueReference vr = FIRST_INPUT_VR; vr < FIRST_INPUT_VR + INPUT_COUNT; ++vr) {
        EXPECT_EQ(readReal(c, vr), 20.0 + vr) << "input vr " << vr;
    }
    // The first slow period modulates the initial reference 0: every leg at
    // the neutral point.
    for (fmi2ValueReference vr = FIRST_GATE_VR; vr < FIRST_GATE_VR + GATE_COUNT; ++vr) {
        const bool innerSwitch = (vr - FIRST_GATE_VR) % 4 == 1 || (vr - FIRST_GATE_VR) % 4 == 2;
        EXPECT_EQ(readReal(c, vr), innerSwitch ? 1.0 : 0.0) << "gate vr " << vr;
    }
    EXPECT_EQ(readReal(c, MEAN_SAMPLE_TIME_VR), 2e-4);

    // A reset and a new initialization keep it too, and the one input
    // written since the reset.
    ASSERT_EQ(fmi().reset(c), fmi2OK);
    ASSERT_EQ(writeReal(c, FIRST_INPUT_VR + 6, 700.0), fmi2OK);
    ASSERT_TRUE(initialize(c));
    EXPECT_EQ(readReal(c, MEAN_SAMPLE_TIME_VR), 2e-4);
    EXPECT_EQ(readReal(c, 0), 0.0);
    EXPECT_EQ(readReal(c, FIRST_INPUT_VR + 6), 700.0);
    EXPECT_TRUE(logger.messages.empty());
}

} // namespace
} // namespace kestrune::fmitest
