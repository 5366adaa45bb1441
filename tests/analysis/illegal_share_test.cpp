// The rule that makes a run with mostly illegal gates fail, on figures with
// known counts, and how the sweep's verdict and the battery's criteria read it.
#include "analysis/illegal_share.h"
#include "analysis/verdict.h"
#include "criteria.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace kestrune::plant {
namespace {

// One segment per entry: {start, end, illegal patterns}.
struct Span {
    double start;
    double end;
    std::int64_t illegal;
};

std::vector<SegmentFigures> segments(const std::vector<Span> &spans) {
    std::vector<SegmentFigures> out;
    for (const Span &s : spans) {
        SegmentFigures f;
        f.start = s.start;
        f.end = s.end;
        f.illegalPatterns = s.illegal;
        out.push_back(f);
    }
    return out;
}

TEST(IllegalShare, FailsAConverterWhoseGatesAreIllegalOnMoreThanATenthOfItsSteps) {
    struct Case {
        const char *what;
        std::vector<std::vector<Span>> converters;
        std::optional<std::size_t> failing;
        std::int64_t baseStepsPerStep = 1;
    };
    const std::vector<Case> cases{
        {"none", {{{0.0, 0.6, 0}}}, std::nullopt},
        {"jacobi start-up", {{{0.0, 0.6, 3}}}, std::nullopt},
        {"start-up of a very short run", {{{0.0, 1e-4, 3}}}, std::nullopt},
        {"a tenth exactly, over two segments", {{{0.0, 0.05, 1000}, {0.05, 0.1, 1000}}}, std::nullopt},
        {"just above a tenth", {{{0.0, 0.05, 1000}, {0.05, 0.1, 1001}}}, 0},
        {"diverged with one leg's gates lost", {{{0.0, 0.0406, 3870}}}, 0},
        {"the second converter's", {{{0.0, 0.1, 0}}, {{0.0, 0.1, 20000}}}, 1},
        {"jacobi start-up over a long communication step", {{{0.0, 0.01, 600}}}, std::nullopt, 200},
        {"more than that start-up", {{{0.0, 0.01, 601}}}, 0, 200},
    };
    for (const Case &c : cases) {
        std::vector<std::vector<SegmentFigures>> figures;
        for (const std::vector<Span> &spans : c.converters)
            figures.push_back(segments(spans));
        const std::optional<IllegalShare> share = pervasiveIllegalPatterns(figures, c.baseStepsPerStep);
        ASSERT_EQ(share.has_value(), c.failing.has_value()) << c.what;
        if (share) {
            EXPECT_EQ(share->converter, *c.failing) << c.what;
        }
    }
}

// The sweep's verdict fails such a run, diverged or not, and the battery's
// test fails it even with the illegal criterion off; a start-up's few
// illegal patterns stay the illegal verdict.
TEST(IllegalShare, SweepVerdictAndBatteryCriteriaFailTheRun) {
    struct Case {
        const char *what;
        std::int64_t illegal;
        bool stopped;
        sweep::Verdict verdict;
    };
    const Case cases[] = {
        {"completed", 20000, false, sweep::Verdict::Failed},
        {"diverged", 20000, true, sweep::Verdict::Failed},
        {"start-up", 3, false, sweep::Verdict::Illegal},
    };
    for (const Case &c : cases) {
        sim::ClosedLoopResult result;
        result.ok = true;
        result.stopped = c.stopped;
        result.illegalPatterns = c.illegal;
        result.converterFigures = {segments({{0.0, 0.1, c.illegal}})};
        sweep::SwingWatch watch({}, 0.1, 1);
        std::string reason;
        EXPECT_EQ(sweep::judge(result, watch, reason), c.verdict) << c.what << ": " << reason;
        if (c.verdict == sweep::Verdict::Failed) {
            EXPECT_NE(reason.find("20000 illegal gate patterns in 20000 base steps"), std::string::npos)
                << reason;
        }

        battery::Criteria criteria;
        criteria.noIllegal = false;
        const battery::CriteriaWatch criteriaWatch(0.0, 0.1, 0.1);
        const std::vector<battery::Judged> judged =
            battery::judgeCriteria(criteria, criteriaWatch.measurements(result));
        EXPECT_EQ(judged[1].mark,
                  c.verdict == sweep::Verdict::Failed ? battery::Mark::Fail : battery::Mark::Off)
            << c.what;
    }
}

} // namespace
} // namespace kestrune::plant
