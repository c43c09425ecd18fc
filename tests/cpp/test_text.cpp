// Float formatting: fixed, shortest round-trip and exponent forms, and the value records' repr texts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <ostream>
#include <string>

#include "kiv/failure.hpp"
#include "kiv/text.hpp"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct FixedCase {
    double v;
    int decimals;
    const char* text;
};

void PrintTo(const FixedCase& c, std::ostream* os) { *os << c.v << " with " << c.decimals << " decimals"; }

class FixedText : public ::testing::TestWithParam<FixedCase> {};

TEST_P(FixedText, MatchesExactRounding) {
    const FixedCase& c = GetParam();
    EXPECT_EQ(kiv::format_fixed(c.v, c.decimals), c.text) << "value " << c.v;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FixedText,
    ::testing::Values(
        // Exact binary ties go to the even digit.
        FixedCase{0.5, 0, "0"}, FixedCase{1.5, 0, "2"}, FixedCase{2.5, 0, "2"}, FixedCase{3.5, 0, "4"},
        FixedCase{0.0078125, 6, "0.007812"}, FixedCase{0.0234375, 6, "0.023438"},
        FixedCase{0.03125, 4, "0.0312"}, FixedCase{0.09375, 4, "0.0938"},
        // Decimal-looking ties are decided by the exact binary value, not the literal.
        FixedCase{1.0000005, 6, "1.000001"}, FixedCase{5e-7, 6, "0.000000"},
        FixedCase{123456.7890125, 6, "123456.789012"}, FixedCase{9.9999995, 6, "9.999999"},
        FixedCase{2.00005, 4, "2.0000"}, FixedCase{9.99995, 4, "10.0000"},
        // Never exponent form.
        FixedCase{1e20, 6, "100000000000000000000.000000"},
        FixedCase{-1e22, 4, "-10000000000000000000000.0000"},
        FixedCase{1e300, 6,
                  "1000000000000000052504760255204420248704468581108159154915854115511802457988908195786371375080"
                  "4478640437044438328838781769425232353604305756447921847867069828483872009265758037378302337947"
                  "880900593689532349707999450811190389676408800746527427801424945792587888200568428381156694721"
                  "96386865459400540160.000000"},
        FixedCase{1.7976931348623157e308, 0,
                  "1797693134862315708145274237317043567980705675258449965989174768031572607800285387605895586327"
                  "6687817154045895351438246423432132688946418276846754670353751698604991057655128207624549009038"
                  "9328944075868508455133942304583236903222948165808559332123348274797826204144723168738177180919"
                  "299881250404026184124858368"},
        // Tiny and subnormal values round to zero with their sign.
        FixedCase{5e-324, 6, "0.000000"}, FixedCase{-5e-324, 6, "-0.000000"},
        FixedCase{2.2250738585072014e-308, 4, "0.0000"}, FixedCase{-1e-9, 6, "-0.000000"},
        FixedCase{0.0, 6, "0.000000"}, FixedCase{-0.0, 6, "-0.000000"}, FixedCase{-0.0, 4, "-0.0000"},
        FixedCase{1.5, 6, "1.500000"}, FixedCase{-2.0, 6, "-2.000000"},
        FixedCase{kNaN, 6, "NaN"}, FixedCase{-kNaN, 6, "NaN"}, FixedCase{kInf, 6, "inf"},
        FixedCase{-kInf, 4, "-inf"}));

struct ShortCase {
    double v;
    const char* text;
};

void PrintTo(const ShortCase& c, std::ostream* os) { *os << c.v; }

class ShortestText : public ::testing::TestWithParam<ShortCase> {};

TEST_P(ShortestText, ShapedAsFloatRepr) {
    const ShortCase& c = GetParam();
    EXPECT_EQ(kiv::format_shortest(c.v), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ShortestText,
    ::testing::Values(
        ShortCase{0.0, "0.0"}, ShortCase{-0.0, "-0.0"}, ShortCase{1.0, "1.0"}, ShortCase{0.5, "0.5"},
        ShortCase{-2.25, "-2.25"}, ShortCase{100.0, "100.0"}, ShortCase{12345.678, "12345.678"},
        ShortCase{0.30000000000000004, "0.30000000000000004"}, ShortCase{0.001, "0.001"},
        // Exponent thresholds: 1e16 and 1e-4 on either side.
        ShortCase{1e16, "1e16"}, ShortCase{9999999999999998.0, "9999999999999998.0"},
        ShortCase{1e-4, "0.0001"}, ShortCase{9.999999999999999e-05, "9.999999999999999e-5"},
        ShortCase{1.5e-5, "1.5e-5"}, ShortCase{1e-5, "1e-5"}, ShortCase{1e22, "1e22"},
        ShortCase{1.2345678901234568e17, "1.2345678901234568e17"}, ShortCase{-2.5e-300, "-2.5e-300"},
        ShortCase{5e-324, "5e-324"}, ShortCase{1.7976931348623157e308, "1.7976931348623157e308"},
        ShortCase{kNaN, "NaN"}, ShortCase{kInf, "inf"}, ShortCase{-kInf, "-inf"}));

class ExponentText : public ::testing::TestWithParam<ShortCase> {};

TEST_P(ExponentText, TwoDecimals) {
    const ShortCase& c = GetParam();
    EXPECT_EQ(kiv::format_exponent(c.v, 2), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExponentText,
    ::testing::Values(ShortCase{1.23e-4, "1.23e-4"}, ShortCase{0.5, "5.00e-1"}, ShortCase{0.0, "0.00e0"},
                      ShortCase{-0.0, "-0.00e0"}, ShortCase{12300.0, "1.23e4"}, ShortCase{-12300.0, "-1.23e4"},
                      // Rounding that carries into the exponent, and exact ties to even.
                      ShortCase{9.999, "1.00e1"}, ShortCase{1.125, "1.12e0"}, ShortCase{1.375, "1.38e0"},
                      ShortCase{5e-324, "4.94e-324"}, ShortCase{1e300, "1.00e300"}, ShortCase{kNaN, "NaN"},
                      ShortCase{kInf, "inf"}, ShortCase{-kInf, "-inf"}));

TEST(ShortestText, RoundTripsEveryDigitLength) {
    // Walk values of every magnitude; the text must parse back to the same bits.
    for (double v = 1e-320; v < 1e300; v *= 7.3) {
        for (double w : {v, -v, std::nextafter(v, 0.0)}) {
            const std::string t = kiv::format_shortest(w);
            EXPECT_EQ(std::strtod(t.c_str(), nullptr), w) << t;
            EXPECT_EQ(t.find('+'), std::string::npos) << t;
        }
    }
}

TEST(FormatDecimals, OutOfRangeCountIsAnInternalFailure) {
    EXPECT_THROW(kiv::format_fixed(1.0, -1), kiv::InternalFailure);
    EXPECT_THROW(kiv::format_exponent(1.0, 1000), kiv::InternalFailure);
}

TEST(ReprText, Point) {
    EXPECT_EQ(kiv::format_point({1.5, -2.0}), "KIVPoint(x=1.500000, y=-2.000000)");
    EXPECT_EQ(kiv::format_point({kNaN, kInf}), "KIVPoint(x=NaN, y=inf)");
}

TEST(ReprText, PairSignRule) {
    EXPECT_EQ(kiv::format_pair({1.0, -2.0}), "KIVPair(1.000000 - 2.000000i)");
    EXPECT_EQ(kiv::format_pair({0.5, -0.0}), "KIVPair(0.500000 + 0.000000i)");
    EXPECT_EQ(kiv::format_pair({-0.0, kNaN}), "KIVPair(-0.000000 - NaNi)");
    EXPECT_EQ(kiv::format_pair({-0.0, -kNaN}), "KIVPair(-0.000000 - NaNi)");
    EXPECT_EQ(kiv::format_pair({0.0, -kInf}), "KIVPair(0.000000 - infi)");
}

TEST(ReprText, Knot) {
    EXPECT_EQ(kiv::format_knot(kiv::make_knot({0.0, 1.0}, 0, 0.0)),
              "KIVKnot(n=0, rho=1.000000, theta=0.0000, point=KIVPoint { x: 0.0, y: 1.0 })");
    EXPECT_EQ(kiv::format_knot(kiv::make_knot({1e16, 1e-5}, -9223372036854775807 - 1, -1.0)),
              "KIVKnot(n=-9223372036854775808, rho=10000000000000046.000000, theta=-1.0000, "
              "point=KIVPoint { x: 1e16, y: 1e-5 })");
}

}  // namespace
