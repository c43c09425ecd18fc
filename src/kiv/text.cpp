// Float-to-text formatting on std::to_chars: exact, locale-free and independent of the rounding mode.
#include "kiv/text.hpp"

#include <charconv>
#include <cmath>
#include <string_view>
#include <system_error>

#include "kiv/failure.hpp"

namespace kiv {
namespace {

// Holds the longest fixed text of a double: 309 integer digits, sign, point and the decimals asked for.
constexpr int kMaxDecimals = 64;
constexpr std::size_t kBufferSize = 400;

// The texts of the values that have no digits; empty for a finite v.
std::string_view non_finite_text(double v) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v < 0 ? "-inf" : "inf";
    return {};
}

void check_decimals(int decimals) {
    if (decimals < 0 || decimals > kMaxDecimals) {
        throw InternalFailure("decimal count out of range: " + std::to_string(decimals));
    }
}

// Scientific text as to_chars writes it ("d.ddde+XX", or "de+XX" for one digit), split into its sign,
// digits without the point, and the decimal exponent of the first digit.
struct Scientific {
    bool negative;
    std::string digits;
    int exponent;
};

Scientific split_scientific(std::string_view text) {
    Scientific s{false, {}, 0};
    std::size_t i = 0;
    if (text[i] == '-') {
        s.negative = true;
        ++i;
    }
    const std::size_t e = text.find('e', i);
    for (std::size_t j = i; j < e; ++j) {
        if (text[j] != '.') s.digits.push_back(text[j]);
    }
    std::from_chars(text.data() + e + 1 + (text[e + 1] == '+' ? 1 : 0), text.data() + text.size(), s.exponent);
    return s;
}

std::string_view to_chars_checked(char* buf, std::to_chars_result r) {
    if (r.ec != std::errc()) throw InternalFailure("float formatting buffer too small");
    return {buf, static_cast<std::size_t>(r.ptr - buf)};
}

}  // namespace

std::string format_fixed(double v, int decimals) {
    if (auto t = non_finite_text(v); !t.empty()) return std::string(t);
    check_decimals(decimals);
    char buf[kBufferSize];
    return std::string(
        to_chars_checked(buf, std::to_chars(buf, buf + kBufferSize, v, std::chars_format::fixed, decimals)));
}

std::string format_shortest(double v) {
    if (auto t = non_finite_text(v); !t.empty()) return std::string(t);
    char buf[kBufferSize];
    const Scientific s = split_scientific(
        to_chars_checked(buf, std::to_chars(buf, buf + kBufferSize, v, std::chars_format::scientific)));
    const int ndigits = static_cast<int>(s.digits.size());
    std::string out = s.negative ? "-" : "";
    if (v != 0.0 && (s.exponent >= 16 || s.exponent < -4)) {
        out += s.digits[0];
        if (ndigits > 1) {
            out += '.';
            out.append(s.digits, 1);
        }
        out += 'e';
        out += std::to_string(s.exponent);
        return out;
    }
    if (s.exponent < 0) {
        // 0.000ddd: the first digit sits -exponent places after the point.
        out += "0.";
        out.append(static_cast<std::size_t>(-s.exponent - 1), '0');
        out += s.digits;
    } else if (s.exponent + 1 >= ndigits) {
        // All digits before the point, padded with zeros, then ".0".
        out += s.digits;
        out.append(static_cast<std::size_t>(s.exponent + 1 - ndigits), '0');
        out += ".0";
    } else {
        out.append(s.digits, 0, static_cast<std::size_t>(s.exponent + 1));
        out += '.';
        out.append(s.digits, static_cast<std::size_t>(s.exponent + 1));
    }
    return out;
}

std::string format_exponent(double v, int decimals) {
    if (auto t = non_finite_text(v); !t.empty()) return std::string(t);
    check_decimals(decimals);
    char buf[kBufferSize];
    const std::string_view text = to_chars_checked(
        buf, std::to_chars(buf, buf + kBufferSize, v, std::chars_format::scientific, decimals));
    const std::size_t e = text.find('e');
    const Scientific s = split_scientific(text);
    std::string out(text.substr(0, e));
    out += 'e';
    out += std::to_string(s.exponent);
    return out;
}

std::string format_point(Point p) {
    return "KIVPoint(x=" + format_fixed(p.x, 6) + ", y=" + format_fixed(p.y, 6) + ")";
}

std::string format_pair(Pair p) {
    const bool minus = p.imag < 0.0 || std::isnan(p.imag);
    return "KIVPair(" + format_fixed(p.real, 6) + (minus ? " - " : " + ") + format_fixed(std::fabs(p.imag), 6) +
           "i)";
}

std::string format_knot(Knot k) {
    return "KIVKnot(n=" + std::to_string(k.n) + ", rho=" + format_fixed(rho(k), 6) +
           ", theta=" + format_fixed(k.theta, 4) + ", point=KIVPoint { x: " + format_shortest(k.x) +
           ", y: " + format_shortest(k.y) + " })";
}

}  // namespace kiv
