#include "divergence.h"

#include "common/number_text.h"

#include <cmath>

namespace kestrune::plant {

std::string divergence(const Plant &plant) {
    const std::size_t n = plant.converterCount();
    for (std::size_t j = 0; j < n; ++j) {
        const PlantState &x = plant.state(j);
        const std::string who = n == 1 ? std::string("the converter") : "converter " + std::to_string(j);
        for (std::size_t k = 0; k < 3; ++k)
            if (std::abs(x.current[k]) > DIVERGED_CURRENT)
                return who + "'s current i_" + static_cast<char>('a' + k) + " is " +
                       numberText(x.current[k], 6) + " A, beyond 10 pu (" + numberText(DIVERGED_CURRENT, 6) +
                       " A)";
        if (!(x.vdc >= DIVERGED_VDC_LOW && x.vdc <= DIVERGED_VDC_HIGH))
            return who + "'s DC link is at " + numberText(x.vdc, 6) + " V, outside 50-1500 V";
    }
    return "";
}

} // namespace kestrune::plant
