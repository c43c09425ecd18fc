// The settings of one formula search.
#pragma once

#include <cstdint>

namespace kiv::discover {

// How the search treats constants besides the seeds 0 and 1.
//  - None: the seeds are the only constants; a candidate is scored as it stands.
//  - Scale: each candidate f is scored as its best affine map a + b·f (least squares), and candidates that
//    are affine maps of each other at the probe points count as one.
//  - Fit: as Scale, and the grammar has free constants inside a formula too, fitted per candidate.
enum class Constants : std::uint8_t { None, Scale, Fit };

struct SearchConfig {
    std::uint64_t max_complexity = 8;
    std::uint64_t beam_width = 2000;
    double precision_goal = 1e-10;
    double complexity_penalty = 0.001;
    bool use_trig = true;
    bool use_kiv = true;
    Constants constants = Constants::None;
};

}  // namespace kiv::discover
