// Linear scaling: a candidate f scored as its best affine map a + b·f onto the target, and the formula
// reported for it, with a and b as constants and the terms that do not matter left out.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>

#include "kiv/discover/expr.hpp"
#include "kiv/discover/fit.hpp"
#include "kiv/discover/moments.hpp"

namespace kiv::discover {

// Tokens the map adds to a candidate's own: b, *, a, +. A scaled candidate is ranked with them counted.
inline constexpr std::size_t kScaleTokens = 4;

// A residual below this share of the target's spread (the sum of its squared deviations) is confirmed by
// an exact pass over the rows with the fitted a and b, since the co-moments lose that much to
// cancellation; and a running residual is taken this much lower before it may cut a candidate off.
inline constexpr double kConfirmBelow = 1e-8;

// The leaving-out rule of the reported formula: of f, b*f, f + a and b*f + a (each refitted), the one with
// the least n·ln(rmse²) + k·ln(n), k its fitted constants (an information criterion: a constant stays only
// when it lowers the error by more than noise would), rmse measured exactly on the reported tokens and
// taken as at least least_rmse * kDropRelative + kDropAbsolute * rms(y), so that on exact data every option
// within rounding of the best ties and the fewest constants win; of ties, the fewest tokens.
inline constexpr double kDropRelative = 1e-6;
inline constexpr double kDropAbsolute = 1e-12;

// Sum of (b * f + a - y)^2 over rows in row order, by a caller that can produce f's values again: it calls
// the given function for each batch of (first row, values, count) and returns false when a row fails.
using ValuesPass = std::function<bool(const std::function<void(std::size_t, const double*, std::size_t)>&)>;

// The score of a candidate whose moments over every row are acc: rmse of the best map times
// (complexity * penalty + 1), complexity counting the map's tokens. A near-perfect residual is confirmed
// by again(); none when that pass fails. NaN for an empty target.
std::optional<double> scaled_score(const Moments& acc, const TargetMoments& target, std::span<const double> y,
                                   std::size_t complexity, double penalty, const ValuesPass& again);

// The same for a token expression evaluated on the data (the seeds).
std::optional<double> scaled_score(const Expr& expr, const Columns& x, std::span<const double> y,
                                   const TargetMoments& target, double penalty);

// The formula reported for f: the map's constants fitted to f's values on the rows (least squares about
// the means, with one step of refinement on the residual), then the fewest tokens that the leaving-out
// rule allows among b*f + a, b*f, f + a and f (or the constant mean of y when f does not vary; f itself
// when no rmse is a number, as for a NaN target). Its
// score is that of its tokens, evaluated as they stand (fit_score), and rmse the same without the
// penalty. None when f fails on a row.
struct Reported {
    Expr tokens;
    double score = 0.0;
    double rmse = 0.0;
};
std::optional<Reported> report_scaled(const Expr& f, const Columns& x, std::span<const double> y, double penalty);

// The formula reported as it stands (no map): its score and exact rmse.
std::optional<Reported> report_plain(const Expr& f, const Columns& x, std::span<const double> y, double penalty);

}  // namespace kiv::discover
