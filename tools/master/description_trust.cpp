#include "description_trust.h"

namespace kestrune::master {

std::string distrustDescription(const std::string &, const ModelDescription &) {
    return "";
}

} // namespace kestrune::master
