// Formula text, number formats and the LaTeX and Python rewrites.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "discover_test_util.hpp"
#include "kiv/discover/render.hpp"

using namespace kiv::discover;
using namespace kiv::discover::testing;

namespace {

struct RenderCase {
    Expr expr;
    const char* text;
};

class Render : public ::testing::TestWithParam<RenderCase> {};

TEST_P(Render, PlainText) { EXPECT_EQ(render_formula(GetParam().expr), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(
    Examples, Render,
    ::testing::Values(
        RenderCase{E({V(0)}), "x"}, RenderCase{E({V(1)}), "y"}, RenderCase{E({V(2)}), "z"},
        RenderCase{E({V(3)}), "{"}, RenderCase{E({V(7)}), "\x7f"}, RenderCase{E({V(8)}), "\xc2\x80"},
        RenderCase{E({V(135)}), "\xc3\xbf"}, RenderCase{E({V(256)}), "x"},
        RenderCase{E({C(1.0)}), "1.0000"}, RenderCase{E({C(0.0)}), "0.0000"},
        RenderCase{E({C(3.141592653589793)}), "π"}, RenderCase{E({C(3.1415926535897936)}), "3.1416"},
        RenderCase{E({C(3.1415926535)}), "3.1416"}, RenderCase{E({C(2.718281828459045)}), "e"},
        RenderCase{E({C(-0.0)}), "-0.0000"}, RenderCase{E({C(0.000125)}), "0.0001"},
        RenderCase{E({C(std::numeric_limits<double>::quiet_NaN())}), "NaN"},
        RenderCase{E({C(-std::numeric_limits<double>::infinity())}), "-inf"}, RenderCase{E({C(1e20)}), "100000000000000000000.0000"},
        RenderCase{E({C(2.7182818284590455)}), "2.7183"},
        RenderCase{E({P(0, 1.5)}), "c0(1.5000)"}, RenderCase{E({P(12, -0.25)}), "c12(-0.2500)"},
        RenderCase{E({V(0), C(1.0), O(OpKind::Sub)}), "(x - 1.0000)"},
        RenderCase{E({C(1.0), V(0), O(OpKind::Sub)}), "(1.0000 - x)"},
        RenderCase{E({V(0), O(OpKind::Neg)}), "(-x)"}, RenderCase{E({V(0), O(OpKind::Recip)}), "(1/x)"},
        RenderCase{E({V(0), C(1.0), O(OpKind::Add)}), "(x + 1.0000)"},
        RenderCase{E({V(0), O(OpKind::Ln), C(1.0), O(OpKind::Sub)}), "(ln(x) - 1.0000)"},
        RenderCase{E({V(0), V(1), O(OpKind::Kiv)}), "kiv(x, y)"},
        RenderCase{E({V(0), O(OpKind::Exp), O(OpKind::Sqrt), O(OpKind::Sin), O(OpKind::Cos), O(OpKind::Abs)}),
                   "abs(cos(sin(sqrt(exp(x)))))"},
        RenderCase{E({V(0), V(1), O(OpKind::Mul), V(2), O(OpKind::Div)}), "((x * y) / z)"},
        RenderCase{E({}), "?"}, RenderCase{E({C(1.0), C(2.0)}), "2.0000"},
        RenderCase{E({O(OpKind::Add)}), "( + )"}, RenderCase{E({C(1.0), O(OpKind::Div)}), "( / 1.0000)"},
        RenderCase{E({O(OpKind::Ln)}), "ln()"}));

TEST(Render, VariableCharactersComeFromTheByteCode) {
    // Index 136 wraps to code 0: one NUL character.
    EXPECT_EQ(render_formula(E({V(136)})), std::string(1, '\0'));
    EXPECT_EQ(render_formula(E({V(176)})), "(");
}

struct RewriteCase {
    const char* plain;
    const char* out;
};

class Latex : public ::testing::TestWithParam<RewriteCase> {};
TEST_P(Latex, Rewrite) { EXPECT_EQ(to_latex_text(GetParam().plain), GetParam().out); }
INSTANTIATE_TEST_SUITE_P(
    Examples, Latex,
    ::testing::Values(RewriteCase{"exp(x)", "\\exp(x)"},
                      RewriteCase{"sqrt((x + 1.0000))", "\\sqrt{(x + 1.0000)}"},
                      RewriteCase{"kiv(x, ln(y))", "\\mathrm{kiv}(x, \\ln(y))"},
                      RewriteCase{"sqrt(sqrt(x))", "\\sqrt{\\sqrt{x}}"},
                      RewriteCase{"(x * π)", "(x * \\pi)"},
                      RewriteCase{"(sqrt(x) + sqrt((1/x)))", "(\\sqrt{x} + \\sqrt{(1/x)})"},
                      RewriteCase{"sin(cos(abs(e)))", "\\sin(\\cos(abs(e)))"},
                      RewriteCase{"sqrt(x", "\\sqrt{x"},
                      RewriteCase{"sqrt(()", "\\sqrt{()"},
                      RewriteCase{"x", "x"}));

class Python : public ::testing::TestWithParam<RewriteCase> {};
TEST_P(Python, Rewrite) { EXPECT_EQ(to_python_text(GetParam().plain), GetParam().out); }
INSTANTIATE_TEST_SUITE_P(
    Examples, Python,
    ::testing::Values(RewriteCase{"(exp(x) - ln(x))", "import math\nf = lambda x: (math.exp(x) - math.log(x))"},
                      RewriteCase{"kiv(x, 1.0000)", "import math\nf = lambda x: kiv(x, 1.0000)"},
                      RewriteCase{"x", "import math\nf = lambda x: x"},
                      RewriteCase{"sqrt(sin(cos(abs(π))))",
                                  "import math\nf = lambda x: math.sqrt(math.sin(math.cos(abs(π))))"}));

}  // namespace
