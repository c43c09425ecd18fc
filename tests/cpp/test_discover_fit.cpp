// Fitting candidates: rmse, the penalised score, candidate order and failures on the pool.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "discover_test_util.hpp"
#include "kiv/discover/fit.hpp"
#include "kiv/failure.hpp"

using namespace kiv::discover;
using namespace kiv::discover::testing;

namespace {

TEST(Rmse, DividesByTheTargetLength) {
    EXPECT_EQ(rmse(std::vector<double>{1.0, 2.0}, std::vector<double>{1.0, 2.0}), 0.0);
    // Two rows, four targets: (1 + 4) / 4.
    EXPECT_EQ(rmse(std::vector<double>{1.0, 2.0}, std::vector<double>{0.0, 0.0, 5.0, 5.0}), std::sqrt(5.0 / 4.0));
    // Four rows, two targets: only the first two rows count.
    EXPECT_EQ(rmse(std::vector<double>{1.0, 2.0, 9.0, 9.0}, std::vector<double>{0.0, 0.0}), std::sqrt(5.0 / 2.0));
    EXPECT_TRUE(std::isnan(rmse(std::vector<double>{1.0}, std::vector<double>{})));
    double z = rmse(std::vector<double>{}, std::vector<double>{1.0, 2.0});
    EXPECT_EQ(z, 0.0);
    EXPECT_TRUE(std::signbit(z));
    EXPECT_TRUE(std::isnan(rmse(std::vector<double>{1.0, 2.0}, std::vector<double>{std::nan(""), 2.0})));
}

TEST(Score, PenaltyScalesWithComplexity) {
    EXPECT_EQ(penalised_score(0.5, 3, 0.001), 0.5 * (3.0 * 0.001 + 1.0));
    EXPECT_EQ(penalised_score(0.5, 3, 0.001), 0.5015);
    EXPECT_EQ(penalised_score(2.0, 8, 0.001), 2.0 * (8 * 0.001 + 1.0));
    EXPECT_EQ(penalised_score(0.0, 100, 0.001), 0.0);
}

TEST(FitCandidate, ResultFields) {
    Columns x = {{1.0, 2.0, 3.0}};
    std::vector<double> y = {2.0, 4.0, 6.5};
    SearchConfig cfg;
    auto r = fit_candidate(E({V(0), V(0), O(OpKind::Add)}), x, y, cfg);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->formula, "(x + x)");
    EXPECT_TRUE(r->params.empty());
    EXPECT_EQ(r->tokens, E({V(0), V(0), O(OpKind::Add)}));
    EXPECT_EQ(r->complexity, 3u);
    EXPECT_EQ(r->score, std::sqrt(0.25 / 3.0) * (3.0 * 0.001 + 1.0));
    EXPECT_FALSE(fit_candidate(E({V(0), C(2.0), O(OpKind::Sub), O(OpKind::Ln)}), x, y, cfg));
}

TEST(FitCandidates, KeepsCandidateOrderAndSkipsFailures) {
    std::vector<double> col(500);
    for (std::size_t i = 0; i < col.size(); ++i) col[i] = 0.01 * static_cast<double>(i) - 1.0;
    Columns x = {col};
    std::vector<double> y(col.size(), 0.25);
    std::vector<Expr> cands;
    for (int i = 0; i < 300; ++i) {
        // Every third candidate takes ln of data that crosses zero and fails.
        if (i % 3 == 0) cands.push_back(E({V(0), O(OpKind::Ln)}));
        else cands.push_back(E({V(0), C(static_cast<double>(i)), O(OpKind::Mul)}));
    }
    auto results = fit_candidates(cands, x, y, SearchConfig{});
    ASSERT_EQ(results.size(), 200u);
    std::size_t k = 0;
    for (int i = 0; i < 300; ++i) {
        if (i % 3 == 0) continue;
        EXPECT_EQ(results[k].tokens, cands[static_cast<std::size_t>(i)]);
        EXPECT_EQ(results[k].formula, "(x * " + std::to_string(i) + ".0000)");
        ++k;
    }
}

TEST(FitCandidates, DataErrorsAbortTheWholeFit) {
    std::vector<Expr> cands(50, E({C(1.0)}));
    try {
        fit_candidates(cands, {{1.0, 2.0}, {1.0}}, std::vector<double>{1.0, 2.0}, SearchConfig{});
        FAIL() << "expected a failure";
    } catch (const kiv::InternalFailure& f) {
        EXPECT_STREQ(f.what(), "index out of bounds: the len is 1 but the index is 1");
    }
    EXPECT_THROW(fit_candidates(cands, {}, std::vector<double>{1.0}, SearchConfig{}), kiv::InternalFailure);
}

}  // namespace
