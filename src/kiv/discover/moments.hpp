// Running co-moments of a candidate's values with the target, in row order: the best affine map a + b·f of
// a candidate f onto the target, and its residual, in one pass over the rows.
#pragma once

#include <cmath>
#include <cstddef>
#include <span>
#include <vector>

namespace kiv::discover {

// What every candidate shares: the target's running mean and co-moment row by row (Welford's updates, in
// row order from the first row). For row i: inv[i] = 1 / (i + 1); dev[i] = y[i] minus the mean of rows
// 0..i; cyy[i] = the sum of squared deviations of rows 0..i from their mean.
struct TargetMoments {
    std::vector<double> inv, dev, cyy;
    double mean = 0.0;

    explicit TargetMoments(std::span<const double> y) : inv(y.size()), dev(y.size()), cyy(y.size()) {
        double c = 0.0;
        for (std::size_t i = 0; i < y.size(); ++i) {
            inv[i] = 1.0 / static_cast<double>(i + 1);
            const double d = y[i] - mean;
            mean = mean + d * inv[i];
            dev[i] = y[i] - mean;
            c = c + d * dev[i];
            cyy[i] = c;
        }
    }
    static std::size_t bytes_for(std::size_t rows) noexcept { return 3 * rows * sizeof(double); }
};

// The target's rows from one stretch on, as a lane kernel reads them.
struct TargetLanes {
    const double* inv;
    const double* dev;
};

// A candidate's running mean and its co-moments with itself and with the target, rows added in order.
// Welford's updates keep them accurate for values far from zero (a law with a large offset).
struct Moments {
    double mean = 0.0;  // of the candidate's values
    double cff = 0.0;   // sum of squared deviations of the values from their mean
    double cfy = 0.0;   // sum of products of the values' and the target's deviations

    // Row i with value f; inv and dev are the target's entries for that row.
    void add(double f, double inv, double dev) noexcept {
        const double d = f - mean;
        mean = mean + d * inv;
        cff = cff + d * (f - mean);
        cfy = cfy + d * dev;
    }

    // True when the values do not vary measurably (their spread is below 1e-12 of their size, or NaN):
    // the best map is then the constant mean of the target.
    bool flat(std::size_t rows) const noexcept {
        return !(cff > 1e-24 * mean * mean * static_cast<double>(rows)) || !std::isfinite(cff);
    }

    // The least residual sum of squares over (a, b) for the rows added so far, whose target co-moment is
    // cyy: cyy - cfy^2 / cff, at least 0. It never falls as rows are added (the least sum over more rows
    // bounds the least over fewer from above), up to rounding: cancellation makes it inexact when the fit
    // is near perfect, to about 1e-16 of cyy.
    double residual(double cyy, std::size_t rows) const noexcept {
        if (flat(rows)) return cyy;
        const double r = cyy - cfy * (cfy / cff);
        return r > 0.0 ? r : 0.0;
    }

    // The map after all rows: b = cfy / cff, a = mean(y) - b * mean(f); b is 0 when flat.
    double slope(std::size_t rows) const noexcept { return flat(rows) ? 0.0 : cfy / cff; }
};

}  // namespace kiv::discover
