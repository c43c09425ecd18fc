// The settings of one formula search.
#pragma once

#include <cstdint>

namespace kiv::discover {

struct SearchConfig {
    std::uint64_t max_complexity = 8;
    std::uint64_t beam_width = 2000;
    double precision_goal = 1e-10;
    double complexity_penalty = 0.001;
    bool use_trig = true;
    bool use_kiv = true;
};

}  // namespace kiv::discover
