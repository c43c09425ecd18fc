// Linear scaling of candidates: the score from running co-moments, the exact confirmation of a near-perfect
// fit, and the reported formula with its constants.
#include "kiv/discover/scaling.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace kiv::discover {
namespace {

// rmse of tokens evaluated as they stand; none when a row fails.
std::optional<double> exact_rmse(const Expr& tokens, const Columns& x, std::span<const double> y) {
    SearchConfig plain;
    plain.complexity_penalty = 0.0;  // rmse * (tokens * 0 + 1) is the rmse itself, bit for bit
    return fit_score(tokens, x, y, plain);
}

std::optional<Reported> measured(Expr tokens, const Columns& x, std::span<const double> y, double penalty) {
    const std::optional<double> rmse = exact_rmse(tokens, x, y);
    if (!rmse) return std::nullopt;
    Reported r;
    r.score = penalised_score(*rmse, tokens.size(), penalty);
    r.rmse = *rmse;
    r.tokens = std::move(tokens);
    return r;
}

double mean_of(const std::vector<double>& v) {
    double s = 0.0;
    for (const double t : v) s = s + t;
    return s / static_cast<double>(v.size());
}

// b * f + a, least squares about the means, then the same fit of the residual added (one refinement
// step); b is 0 when f does not vary measurably.
struct Map {
    double a = 0.0, b = 0.0;
    bool flat = false;
};
Map fit_map(const std::vector<double>& f, std::span<const double> y) {
    const std::size_t n = y.size();
    std::vector<double> target(y.begin(), y.end());
    Map map;
    for (int step = 0; step < 2; ++step) {
        const double mf = mean_of(f), my = mean_of(target);
        double cff = 0.0, cfy = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            const double d = f[i] - mf;
            cff = cff + d * d;
            cfy = cfy + d * (target[i] - my);
        }
        Moments m;
        m.mean = mf;
        m.cff = cff;
        m.cfy = cfy;
        const double b = m.slope(n);
        if (step == 0) map.flat = m.flat(n);
        map.b = map.b + b;
        map.a = map.a + (my - b * mf);
        for (std::size_t i = 0; i < n; ++i) target[i] = y[i] - (map.b * f[i] + map.a);
    }
    return map;
}

// b * f through the origin, refined once on its residual.
double fit_slope(const std::vector<double>& f, std::span<const double> y) {
    double b = 0.0;
    for (int step = 0; step < 2; ++step) {
        double ff = 0.0, fr = 0.0;
        for (std::size_t i = 0; i < y.size(); ++i) {
            ff = ff + f[i] * f[i];
            fr = fr + f[i] * (y[i] - b * f[i]);
        }
        if (!(ff > 0.0)) return b;
        b = b + fr / ff;
    }
    return b;
}

// f + a, refined once on its residual.
double fit_offset(const std::vector<double>& f, std::span<const double> y) {
    double a = 0.0;
    for (int step = 0; step < 2; ++step) {
        double s = 0.0;
        for (std::size_t i = 0; i < y.size(); ++i) s = s + (y[i] - (f[i] + a));
        a = a + s / static_cast<double>(y.size());
    }
    return a;
}

Expr scaled(double b, const Expr& f) {
    Expr e;
    e.reserve(f.size() + 2);
    e.push_back(Token::constant(b));
    e.insert(e.end(), f.begin(), f.end());
    e.push_back(Token::oper(OpKind::Mul));
    return e;
}

Expr offset(Expr e, double a) {
    e.push_back(Token::constant(a));
    e.push_back(Token::oper(OpKind::Add));
    return e;
}

}  // namespace

std::optional<double> scaled_score(const Moments& acc, const TargetMoments& target, std::span<const double> y,
                                   std::size_t complexity, double penalty, const ValuesPass& again) {
    const std::size_t n = y.size();
    if (n == 0) return std::numeric_limits<double>::quiet_NaN();
    const double cyy = target.cyy[n - 1];
    double sse = acc.residual(cyy, n);
    if (sse <= kConfirmBelow * cyy) {
        const double b = acc.slope(n);
        const double a = target.mean - b * acc.mean;
        double sum = 0.0;
        const bool ok = again([&](std::size_t begin, const double* v, std::size_t count) {
            const std::size_t stop = std::min(begin + count, n);
            for (std::size_t i = begin; i < stop; ++i) {
                const double d = (b * v[i - begin] + a) - y[i];
                sum = sum + d * d;
            }
        });
        if (!ok) return std::nullopt;
        sse = sum;
    }
    return penalised_score(std::sqrt(sse / static_cast<double>(n)), complexity, penalty);
}

std::optional<double> scaled_score(const Expr& expr, const Columns& x, std::span<const double> y,
                                   const TargetMoments& target, double penalty) {
    const std::size_t n = y.size();
    Moments acc;
    const bool ok = for_each_batch(expr, x, {}, [&](std::size_t begin, const double* v, std::size_t count) {
        const std::size_t stop = std::min(begin + count, n);
        for (std::size_t i = begin; i < stop; ++i) acc.add(v[i - begin], target.inv[i], target.dev[i]);
    });
    if (!ok) return std::nullopt;
    const ValuesPass again = [&](const std::function<void(std::size_t, const double*, std::size_t)>& sink) {
        return for_each_batch(expr, x, {}, sink);
    };
    return scaled_score(acc, target, y, expr.size() + kScaleTokens, penalty, again);
}

std::optional<Reported> report_plain(const Expr& f, const Columns& x, std::span<const double> y, double penalty) {
    return measured(f, x, y, penalty);
}

std::optional<Reported> report_scaled(const Expr& f, const Columns& x, std::span<const double> y, double penalty) {
    const std::size_t n = y.size();
    std::optional<std::vector<double>> values = eval_dataset(f, x, {});
    if (!values) return std::nullopt;
    if (n == 0 || values->size() < n) return measured(f, x, y, penalty);
    values->resize(n);

    std::vector<Reported> options;
    std::vector<std::size_t> fitted;  // per option, the constants the map fitted
    auto consider = [&](Expr tokens, std::size_t constants) {
        if (auto r = measured(std::move(tokens), x, y, penalty)) {
            options.push_back(std::move(*r));
            fitted.push_back(constants);
        }
    };
    consider(f, 0);
    const Map map = fit_map(*values, y);
    if (map.flat) {
        consider({Token::constant(map.a)}, 1);
    } else {
        consider(scaled(fit_slope(*values, y), f), 1);
        consider(offset(f, fit_offset(*values, y)), 1);
        consider(offset(scaled(map.b, f), map.a), 2);
    }
    if (options.empty()) return std::nullopt;

    // The reference is the least rmse of all (the full map, but for rounding); then the fewest tokens
    // within the rule, the lower rmse of equal counts, the earlier of equals.
    double least = std::numeric_limits<double>::infinity();
    for (const Reported& r : options) least = std::min(least, r.rmse);
    // rms(y), scaled by the largest |y| so that no square overflows.
    double top = 0.0, rms = 0.0;
    for (const double t : y) top = std::max(top, std::fabs(t));
    if (top > 0.0) {
        for (const double t : y) rms = rms + (t / top) * (t / top);
        rms = top * std::sqrt(rms / static_cast<double>(n));
    }
    // Errors below the floor count as the floor, so that options equal but for rounding tie and the fewer
    // constants win; above it, a constant must lower n·ln(rmse²) by more than ln(n) to stay.
    const double floor = least * kDropRelative + kDropAbsolute * rms;
    const double rows = static_cast<double>(n);
    auto criterion = [&](std::size_t k) {
        const double e = std::max(options[k].rmse, floor);
        return e > 0.0 ? rows * (2.0 * std::log(e)) + static_cast<double>(fitted[k]) * std::log(rows)
                       : -std::numeric_limits<double>::infinity();
    };
    // Of equal criteria: the fewest constants, then the fewest tokens, then the lower rmse, then the first.
    auto before = [&](std::size_t k, std::size_t j, double ck, double cj) {
        if (ck != cj) return ck < cj;
        if (fitted[k] != fitted[j]) return fitted[k] < fitted[j];
        if (options[k].tokens.size() != options[j].tokens.size()) {
            return options[k].tokens.size() < options[j].tokens.size();
        }
        return options[k].rmse < options[j].rmse;
    };
    const Reported* chosen = nullptr;
    std::size_t at = 0;
    double best = 0.0;
    for (std::size_t k = 0; k < options.size(); ++k) {
        if (!(options[k].rmse == options[k].rmse)) continue;
        const double c = criterion(k);
        if (!chosen || before(k, at, c, best)) {
            chosen = &options[k];
            at = k;
            best = c;
        }
    }
    if (!chosen) {
        // Every rmse is NaN (a NaN target): f as it stands, rather than constants fitted to NaN.
        chosen = &options.front();
    }
    return *chosen;
}

}  // namespace kiv::discover
