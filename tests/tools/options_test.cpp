// kestrune-sim's option parser and its synthetic inputs.
#include "inputs.h"
#include "options.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace kestrune::sim {
namespace {

using Action = ParseResult::Action;

ParseResult parse(std::vector<std::string_view> args) {
    return parseOptions(args, "/default/unit.fmu");
}

// Parses and expects an error whose text contains `fragment`.
void expectError(std::vector<std::string_view> args, std::string_view fragment) {
    const ParseResult result = parse(args);
    ASSERT_EQ(result.action, Action::Error) << "accepted: " << args.back();
    EXPECT_NE(result.error.find(fragment), std::string::npos) << result.error;
}

TEST(SimOptions, DefaultsAndDerivedCounts) {
    const ParseResult result = parse({});
    ASSERT_EQ(result.action, Action::Run) << result.error;
    const Options &o = result.options;
    EXPECT_EQ(o.fmu, "/default/unit.fmu");
    EXPECT_EQ(o.output, "kestrune-sim.csv");
    EXPECT_EQ(o.baseStepsPerStep, 20);
    EXPECT_EQ(o.stepCount, 10000);
    EXPECT_EQ(o.stepsPerOutputRow, 1);
    EXPECT_FALSE(o.verbose);

    const ParseResult custom = parse({"--step=5e-5", "--duration", "0.002", "--output-interval", "2e-4",
                                      "--fmu", "x.fmu", "--output=o.csv", "--verbose"});
    ASSERT_EQ(custom.action, Action::Run) << custom.error;
    EXPECT_EQ(custom.options.baseStepsPerStep, 10);
    EXPECT_EQ(custom.options.stepCount, 40);
    EXPECT_EQ(custom.options.stepsPerOutputRow, 4);
    EXPECT_EQ(custom.options.fmu, "x.fmu");
    EXPECT_EQ(custom.options.output, "o.csv");
    EXPECT_TRUE(custom.options.verbose);
}

TEST(SimOptions, StepMustBeWholeBaseSteps) {
    expectError({"--step", "7.5e-6"}, "1.5 base steps");
    expectError({"--step", "1e-6"}, "whole number");
    expectError({"--step", "0"}, "positive");
    expectError({"--step", "-1e-4"}, "positive");
    expectError({"--step", "20000"}, "too long");
    // Within a millionth of a base step counts as whole, as in the unit.
    const ParseResult nearly = parse({"--step", "5.0000005e-6", "--duration", "5.0000005e-6"});
    ASSERT_EQ(nearly.action, Action::Run) << nearly.error;
    EXPECT_EQ(nearly.options.baseStepsPerStep, 1);
}

TEST(SimOptions, NumbersAreValidatedFully) {
    for (std::string_view bad : {"1e-4x", "", "nan", "inf", "-inf", "1e", "0x10", " 1", "1 ", "++1", "1,5"})
        expectError({"--duration", bad}, "finite number");
    EXPECT_EQ(parseReal("+0.5"), 0.5);
    EXPECT_EQ(parseReal("-2.5e3"), -2500.0);
    expectError({"--duration", "-1"}, "positive");
    expectError({"--duration", "0.00015"}, "1.5 communication steps");
    expectError({"--output-interval", "1.5e-4"}, "communication steps");
    expectError({"--output-interval", "0"}, "positive");
    expectError({"--grid-voltage", "-600"}, "negative");
}

TEST(SimOptions, MalformedCommandLines) {
    expectError({"--step"}, "needs a value");
    expectError({"--bogus"}, "unknown option --bogus");
    expectError({"a.fmu", "stray"}, "unexpected argument");
    expectError({"--verbose=yes"}, "takes no value");
    expectError({"--fmu="}, "must not be empty");
    // The .fmu may also come as the one plain argument.
    const ParseResult positional = parse({"--step", "1e-4", "unit.fmu"});
    ASSERT_EQ(positional.action, Action::Run) << positional.error;
    EXPECT_EQ(positional.options.fmu, "unit.fmu");
    expectError({"--grid-frequency", "50"}, "without --grid-voltage");
    expectError({"--constant", "7=1"}, "not an input");
    for (std::string_view bad : {"3", "=1", "a=1", "3=", "3=x", "-1=2", "3=nan"})
        expectError({"--constant", bad}, "VR=VALUE");
    // Help wins over anything after it, even an invalid option.
    EXPECT_EQ(parse({"--step", "1e-4", "--help", "--bogus"}).action, Action::Help);
    EXPECT_EQ(parse({"-h"}).action, Action::Help);
}

TEST(SimInputs, BalancedGridDcAndConstants) {
    ParseResult result = parse({"--grid-voltage", "600", "--grid-frequency", "50", "--dc-voltage", "700"});
    ASSERT_EQ(result.action, Action::Run) << result.error;
    const double peak = 600.0 * std::sqrt(2.0 / 3.0); // line-to-line rms to phase peak

    // A quarter period in: phase A at its positive peak, B and C at -peak/2.
    master::Inputs at = inputsAt(result.options, 0.005);
    EXPECT_NEAR(at[0], peak, 1e-9);
    EXPECT_NEAR(at[1], -peak / 2, 1e-9);
    EXPECT_NEAR(at[2], -peak / 2, 1e-9);
    EXPECT_EQ(at[3], 0.0);
    EXPECT_EQ(at[6], 700.0);
    // B lags A by a third of a period: it peaks a third of a period later.
    at = inputsAt(result.options, 0.005 + 0.02 / 3);
    EXPECT_NEAR(at[1], peak, 1e-9);
    // Line-to-line A-B peaks a sixth of a period in, at sqrt(2) times the rms.
    at = inputsAt(result.options, 0.02 / 6);
    EXPECT_NEAR(at[0] - at[1], 600.0 * std::numbers::sqrt2, 1e-9);

    // The start angle shifts every phase; constants override per vr.
    result = parse({"--grid-voltage", "600", "--grid-angle", "90", "--constant", "1=5", "--constant=6=-1",
                    "--dc-voltage", "700", "--constant", "4=2.5"});
    ASSERT_EQ(result.action, Action::Run) << result.error;
    at = inputsAt(result.options, 0.0);
    EXPECT_NEAR(at[0], peak, 1e-9);
    EXPECT_EQ(at[1], 5.0);
    EXPECT_NEAR(at[2], -peak / 2, 1e-9);
    EXPECT_EQ(at[4], 2.5);
    EXPECT_EQ(at[6], -1.0);
}

} // namespace
} // namespace kestrune::sim
