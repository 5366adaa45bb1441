#include "illegal_share.h"

#include "common/number_text.h"
#include "identity.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kestrune::plant {

std::optional<IllegalShare> pervasiveIllegalPatterns(const std::vector<std::vector<SegmentFigures>> &figures,
                                                     std::int64_t baseStepsPerStep) {
    const std::int64_t allowance = std::max<std::int64_t>(ILLEGAL_FLOOR, 3 * baseStepsPerStep);
    for (std::size_t j = 0; j < figures.size(); ++j) {
        const std::vector<SegmentFigures> &segments = figures[j];
        if (segments.empty())
            continue;
        IllegalShare share{j, 0, 0};
        for (const SegmentFigures &f : segments)
            share.illegalPatterns += f.illegalPatterns;
        share.baseSteps = std::llround((segments.back().end - segments.front().start) / BASE_STEP);
        if (share.illegalPatterns > allowance &&
            static_cast<double>(share.illegalPatterns) >
                ILLEGAL_SHARE_LIMIT * static_cast<double>(share.baseSteps))
            return share;
    }
    return std::nullopt;
}

std::int64_t baseStepsPerStep(double simulated, std::int64_t steps) {
    if (steps <= 0 || !(simulated > 0.0))
        return 1;
    return std::max<std::int64_t>(1, std::llround(simulated / BASE_STEP / static_cast<double>(steps)));
}

std::string illegalShareText(const IllegalShare &share) {
    char perStep[32];
    std::snprintf(perStep, sizeof perStep, "%.3f",
                  share.baseSteps > 0
                      ? static_cast<double>(share.illegalPatterns) / static_cast<double>(share.baseSteps)
                      : 0.0);
    return "converter " + std::to_string(share.converter) + " applied " +
           std::to_string(share.illegalPatterns) + " illegal gate patterns in " +
           std::to_string(share.baseSteps) + " base steps (" + perStep + " a step; a run fails above " +
           numberText(ILLEGAL_SHARE_LIMIT) +
           "): its gates are not the controller's, and the run's figures say nothing about it";
}

} // namespace kestrune::plant
