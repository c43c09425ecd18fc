// A value barrier: keeps the optimiser from folding a product by a known constant into something else.
#pragma once

namespace kiv {

// Returns x unchanged, but the compiler no longer knows its value. A product (−1)·x must stay a real
// multiplication: folded into −x it would flip the sign bit of a NaN, which the multiplication keeps.
inline double opaque(double x) noexcept {
#if defined(__x86_64__) || defined(__i386__)
    __asm__("" : "+x"(x));
#elif defined(__aarch64__)
    __asm__("" : "+w"(x));
#else
    volatile double v = x;
    x = v;
#endif
    return x;
}

}  // namespace kiv
