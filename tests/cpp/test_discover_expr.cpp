// Expression evaluation: guards, result check, malformed sequences, parameters and column-wise data passes.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "discover_test_util.hpp"
#include "kiv/discover/expr.hpp"
#include "kiv/failure.hpp"

using namespace kiv::discover;
using namespace kiv::discover::testing;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::optional<double> at_point(const Expr& e, std::vector<double> point = {}, std::vector<double> params = {}) {
    return eval_point(e, point, params);
}

TEST(EvalPoint, MalformedSequencesHaveNoValue) {
    EXPECT_FALSE(at_point({}));
    EXPECT_FALSE(at_point(E({C(2.0), C(3.0)})));
    EXPECT_FALSE(at_point(E({O(OpKind::Add)})));
    EXPECT_FALSE(at_point(E({C(1.0), O(OpKind::Add)})));
    EXPECT_FALSE(at_point(E({O(OpKind::Neg)})));
    EXPECT_FALSE(at_point(E({V(0)})));
    EXPECT_EQ(at_point(E({V(0)}), {5.0}), 5.0);
    EXPECT_FALSE(at_point(E({V(1)}), {5.0}));
}

TEST(EvalPoint, PushedValuesAreNotChecked) {
    EXPECT_TRUE(std::isnan(*at_point(E({C(kNaN)}))));
    EXPECT_EQ(at_point(E({C(-kInf)})), -kInf);
    EXPECT_EQ(at_point(E({V(0)}), {kInf}), kInf);
    // ...but the result of any operator is.
    EXPECT_FALSE(at_point(E({C(kInf), O(OpKind::Neg)})));
    EXPECT_FALSE(at_point(E({C(kNaN), O(OpKind::Abs)})));
}

struct OpCase {
    const char* name;
    Expr expr;
    std::optional<double> want;  // nullopt: no value
};

class EvalPointOps : public ::testing::TestWithParam<OpCase> {};

TEST_P(EvalPointOps, GuardsAndResults) {
    const OpCase& c = GetParam();
    auto got = at_point(c.expr);
    ASSERT_EQ(got.has_value(), c.want.has_value()) << c.name;
    if (c.want) {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(*got), std::bit_cast<std::uint64_t>(*c.want)) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, EvalPointOps,
    ::testing::Values(
        OpCase{"neg", E({C(2.5), O(OpKind::Neg)}), -2.5},
        OpCase{"recip tiny", E({C(1e-301), O(OpKind::Recip)}), std::nullopt},
        OpCase{"recip floor", E({C(1e-300), O(OpKind::Recip)}), 1.0 / 1e-300},
        OpCase{"recip neg tiny", E({C(-1e-301), O(OpKind::Recip)}), std::nullopt},
        OpCase{"recip nan", E({C(kNaN), O(OpKind::Recip)}), std::nullopt},
        OpCase{"exp overflow", E({C(710.0), O(OpKind::Exp)}), std::nullopt},
        OpCase{"exp 709", E({C(709.0), O(OpKind::Exp)}), std::exp(709.0)},
        OpCase{"ln zero", E({C(0.0), O(OpKind::Ln)}), std::nullopt},
        OpCase{"ln negative", E({C(-1.0), O(OpKind::Ln)}), std::nullopt},
        OpCase{"ln nan", E({C(kNaN), O(OpKind::Ln)}), std::nullopt},
        OpCase{"ln 2", E({C(2.0), O(OpKind::Ln)}), std::log(2.0)},
        OpCase{"sqrt zero", E({C(0.0), O(OpKind::Sqrt)}), 0.0},
        OpCase{"sqrt negative zero", E({C(-0.0), O(OpKind::Sqrt)}), -0.0},
        OpCase{"sqrt negative", E({C(-1e-300), O(OpKind::Sqrt)}), std::nullopt},
        OpCase{"sin", E({C(1.0), O(OpKind::Sin)}), std::sin(1.0)},
        OpCase{"cos", E({C(1.0), O(OpKind::Cos)}), std::cos(1.0)},
        OpCase{"sin inf", E({C(kInf), O(OpKind::Sin)}), std::nullopt},
        OpCase{"abs", E({C(-3.0), O(OpKind::Abs)}), 3.0},
        OpCase{"div zero", E({C(1.0), C(0.0), O(OpKind::Div)}), std::nullopt},
        OpCase{"div tiny", E({C(1.0), C(-9e-301), O(OpKind::Div)}), std::nullopt},
        OpCase{"div order", E({C(2.0), C(5.0), O(OpKind::Div)}), 0.4},
        OpCase{"sub order", E({C(2.0), C(5.0), O(OpKind::Sub)}), -3.0},
        OpCase{"add overflow", E({C(1e308), C(1e308), O(OpKind::Add)}), std::nullopt},
        OpCase{"mul", E({C(1.5), C(-2.0), O(OpKind::Mul)}), -3.0},
        OpCase{"kiv slip", E({C(800.0), C(1.0), O(OpKind::Kiv)}), std::exp(std::log(800.0))},
        OpCase{"kiv 709.781", E({C(709.781), C(1.0), O(OpKind::Kiv)}), std::exp(std::log(709.781))},
        OpCase{"kiv 709.78 exact", E({C(709.78), C(1.0), O(OpKind::Kiv)}), std::exp(709.78)},
        OpCase{"kiv zeros", E({C(0.0), C(0.0), O(OpKind::Kiv)}), 1.0 - -690.7755278982137},
        OpCase{"kiv negative b", E({C(0.0), C(-2.718281828459045), O(OpKind::Kiv)}), 1.0 - std::log(2.718281828459045)},
        OpCase{"kiv tiny negative b", E({C(0.0), C(-1e-310), O(OpKind::Kiv)}), 1.0 - -690.7755278982137},
        OpCase{"kiv nan b", E({C(0.0), C(kNaN), O(OpKind::Kiv)}), std::nullopt},
        OpCase{"guard after failure", E({C(0.0), O(OpKind::Ln), C(1.0), O(OpKind::Add)}), std::nullopt}),
    [](const auto& info) {
        std::string s = info.param.name;
        for (char& ch : s) if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return s;
    });

TEST(EvalPoint, ParamUsesVectorSlotOrItsStoredValue) {
    Expr e = E({P(3, 7.5), P(0, 9.0), O(OpKind::Sub)});
    EXPECT_EQ(at_point(e, {}, {1.0, 2.0}), 7.5 - 1.0);
    EXPECT_EQ(at_point(e, {}, {}), 7.5 - 9.0);
    EXPECT_EQ(at_point(e, {}, {1.0, 2.0, 3.0, 4.0}), 4.0 - 1.0);
    // A parameter's value, like a constant's, is pushed unchecked.
    EXPECT_TRUE(std::isnan(*at_point(E({P(0, 1.0)}), {}, {kNaN})));
}

TEST(GatherRow, ReadsEveryColumnAndChecksBounds) {
    Columns cols = {{1.0, 2.0}, {3.0, 4.0}, {5.0}};
    EXPECT_EQ(gather_row(cols, 0), (std::vector<double>{1.0, 3.0, 5.0}));
    try {
        gather_row(cols, 1);
        FAIL() << "expected a failure";
    } catch (const kiv::InternalFailure& f) {
        EXPECT_STREQ(f.what(), "index out of bounds: the len is 1 but the index is 1");
    }
}

TEST(EvalDataset, Examples) {
    Expr ln_x = E({V(0), O(OpKind::Ln)});
    EXPECT_EQ(eval_dataset(ln_x, {{}}, {}), std::vector<double>{});
    EXPECT_EQ(eval_dataset(ln_x, {{1.0, 2.0, 3.0}}, {}), (std::vector<double>{0.0, std::log(2.0), std::log(3.0)}));
    EXPECT_FALSE(eval_dataset(ln_x, {{1.0, -1.0}}, {}));
    // With no rows nothing is evaluated, so even a malformed sequence yields the empty vector.
    EXPECT_EQ(eval_dataset(E({O(OpKind::Add)}), {{}}, {}), std::vector<double>{});
    EXPECT_FALSE(eval_dataset(E({O(OpKind::Add)}), {{1.0}}, {}));
    EXPECT_FALSE(eval_dataset(E({V(1)}), {{1.0}}, {}));
    // Longer later columns are read only as far as the first.
    EXPECT_EQ(eval_dataset(E({V(1)}), {{1.0}, {7.0, 8.0}}, {}), std::vector<double>{7.0});
}

void expect_out_of_bounds(const Expr& e, const Columns& cols, const char* message) {
    try {
        (void)eval_dataset(e, cols, {});
        FAIL() << "expected a failure";
    } catch (const kiv::InternalFailure& f) {
        EXPECT_STREQ(f.what(), message);
    }
}

TEST(EvalDataset, DataErrorsRaiseOutOfBounds) {
    expect_out_of_bounds(E({C(1.0)}), {}, "index out of bounds: the len is 0 but the index is 0");
    expect_out_of_bounds(E({C(1.0)}), {{1.0, 2.0, 3.0}, {1.0}}, "index out of bounds: the len is 1 but the index is 1");
    expect_out_of_bounds(E({V(0)}), {{1.0, 2.0}, {}}, "index out of bounds: the len is 0 but the index is 0");
    expect_out_of_bounds(E({C(1.0)}), {{1.0, 2.0, 3.0}, {1.0, 2.0}, {1.0}},
                         "index out of bounds: the len is 1 but the index is 1");
    // A row that fails before the short column runs out ends the evaluation first, without a failure.
    EXPECT_FALSE(eval_dataset(E({V(0), O(OpKind::Ln)}), {{-1.0, 2.0, 3.0}, {1.0}}, {}));
    // Rows beyond the first batch: the failure names the first missing row.
    std::vector<double> long_col(600, 1.0), short_col(300, 1.0);
    expect_out_of_bounds(E({V(0)}), {long_col, short_col}, "index out of bounds: the len is 300 but the index is 300");
}

// Random sequences (malformed ones included) evaluated column-wise must give exactly the row-by-row result.
TEST(EvalDataset, ColumnWiseEqualsRowByRow) {
    std::mt19937_64 rng(12345);
    // Every operator code and one past the table.
    std::uniform_int_distribution<int> op(0, static_cast<int>(kOps.size()));
    std::uniform_int_distribution<int> kind(0, 9), var(0, 2), len(0, 9), rows_d(0, 700);
    std::uniform_real_distribution<double> val(-3.0, 3.0);
    const std::vector<double> specials = {0.0, -0.0, 1e-300, -1e-301, 709.79, 1e308, kNaN, kInf, 2.0, -1.0};
    for (int trial = 0; trial < 3000; ++trial) {
        std::size_t rows = static_cast<std::size_t>(rows_d(rng));
        Columns cols(2, std::vector<double>(rows));
        for (auto& c : cols) {
            for (auto& v : c) v = (kind(rng) == 0) ? specials[rng() % specials.size()] : val(rng);
        }
        Expr e;
        int n = len(rng);
        for (int t = 0; t < n; ++t) {
            int k = kind(rng);
            if (k < 2) e.push_back(C(specials[rng() % specials.size()]));
            else if (k < 3) e.push_back(C(val(rng)));
            else if (k < 5) e.push_back(V(static_cast<std::size_t>(var(rng))));
            else if (k < 6) e.push_back(P(static_cast<std::size_t>(var(rng)), val(rng)));
            else e.push_back(O(static_cast<OpKind>(op(rng))));
        }
        std::vector<double> params = {0.5};
        std::optional<std::vector<double>> want;
        {
            std::vector<double> out;
            bool ok = true;
            for (std::size_t r = 0; r < rows && ok; ++r) {
                auto v = eval_point(e, gather_row(cols, r), params);
                if (!v) ok = false; else out.push_back(*v);
            }
            if (ok) want = out;
        }
        auto got = eval_dataset(e, cols, params);
        ASSERT_EQ(got.has_value(), want.has_value()) << "trial " << trial;
        if (got) {
            ASSERT_EQ(got->size(), want->size());
            for (std::size_t r = 0; r < got->size(); ++r) {
                ASSERT_EQ(std::bit_cast<std::uint64_t>((*got)[r]), std::bit_cast<std::uint64_t>((*want)[r]))
                    << "trial " << trial << " row " << r;
            }
        }
    }
}

}  // namespace
