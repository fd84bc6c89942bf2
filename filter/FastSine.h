// A sine for the synthesis that is several times cheaper than the C runtime's, with a bound on
// how far it lies from the runtime's own result. The sample word takes the fast value only
// where that bound cannot change the word (CPacker::SineWord), so the words stay those of the
// runtime's sin.
#pragma once
#include <cstdint>

namespace fastsine
{
// Arguments from 0 up to this; beyond it the runtime's sin is taken.
constexpr double LIMIT = 4194304.0;  // 2^22

// sin(x) for 0 <= x < LIMIT. Reduction by pi/2 in three parts (the first two short enough
// that k times them is exact for every k below LIMIT), then the Taylor series of sin or cos
// on |r| <= pi/4, whose first omitted terms lie below 2^-54. Measured against a 113-bit sin
// the error stays under 2^-52.
inline double Sin(double x)
{
    constexpr double kTwoOverPi = 0.636619772367581343075535053490057448;
    constexpr double kRoundToInteger = 6755399441055744.0;  // 1.5 x 2^52
    constexpr double kP1 = 0x1.921fb54p+0, kP2 = 0x1.10b4612p-30, kP3 = -0x1.676733ae8fe48p-60;
    const double k = (x * kTwoOverPi + kRoundToInteger) - kRoundToInteger;
    const double r = ((x - k * kP1) - k * kP2) - k * kP3;
    const double r2 = r * r;
    const unsigned nQuadrant = unsigned(int64_t(k)) & 3;
    double v;
    if (nQuadrant & 1)
        v = 1.0 + r2 * (-1.0 / 2 +
                        r2 * (1.0 / 24 +
                              r2 * (-1.0 / 720 +
                                    r2 * (1.0 / 40320 +
                                          r2 * (-1.0 / 3628800 +
                                                r2 * (1.0 / 479001600 +
                                                      r2 * (-1.0 / 87178291200.0 + r2 * (1.0 / 20922789888000.0))))))));
    else
        v = r + r * r2 *
                    (-1.0 / 6 +
                     r2 * (1.0 / 120 +
                           r2 * (-1.0 / 5040 +
                                 r2 * (1.0 / 362880 +
                                       r2 * (-1.0 / 39916800 + r2 * (1.0 / 6227020800.0 + r2 * (-1.0 / 1307674368000.0)))))));
    return (nQuadrant & 2) ? -v : v;
}

// How far Sin(x) may lie from the runtime's sin(x), doubled. Sin's own error is below 2^-52;
// the runtime's (the x87 fsin of mingw-w64, whose pi has 66 bits) measures below
// x * 2^-65 + 2^-54. Taken here: 2 x (2^-50 + x * 2^-62 + 2^-52), rounded up.
inline double Tolerance(double x)
{
    return x * 0x1p-61 + 0x1p-48;
}
}
