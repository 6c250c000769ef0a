// Inline sines for the voices and slow oscillators, worked out in double precision. Pure; any thread.
#pragma once

#include <bit>
#include <cstdint>

namespace vexla {

/// sin(x) in double precision for |x| < 2^20 radians, within 5e-14 of the exact sine: far below what a
/// single-precision result or a 16-bit sample can show. No library call, no table, no branch and only
/// SSE2 arithmetic, so a loop of them vectorises on any x86-64.
inline double preciseSin(double x) {
    constexpr double kInvPi = 0.318309886183790671538;
    // π in three parts of 33 significant bits each: k × part is exact for |k| < 2^20, so the reduction
    // keeps its precision near the sine's zeros too.
    constexpr double kPi1 = 3.14159265346825122833;
    constexpr double kPi2 = 1.21542010126079319532e-10;
    constexpr double kPi3 = 4.04453249742233291160e-21;
    constexpr double kRoundShift =
        6755399441055744.0; // 1.5 × 2^52: the sum's low bits hold the nearest integer
    const double shifted = x * kInvPi + kRoundShift;
    const double k = shifted - kRoundShift;
    // sin(x) = (−1)^k sin(x − kπ), with x − kπ in [−π/2, π/2].
    const std::uint64_t oddTurn = std::bit_cast<std::uint64_t>(shifted) << 63;
    const double r = ((x - k * kPi1) - k * kPi2) - k * kPi3;
    const double r2 = r * r;
    // Taylor terms up to r^17: the first one left out is below 5e-14 at π/2.
    const double p =
        r + r * r2 *
                (-1.0 / 6.0 +
                 r2 * (1.0 / 120.0 +
                       r2 * (-1.0 / 5040.0 +
                             r2 * (1.0 / 362880.0 + r2 * (-1.0 / 39916800.0 +
                                                          r2 * (1.0 / 6227020800.0 +
                                                                r2 * (-1.0 / 1307674368000.0 +
                                                                      r2 * (1.0 / 355687428096000.0))))))));
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(p) ^ oddTurn);
}

/// sin(x) of a single-precision angle (|x| < 2^20), rounded once to float: the correctly rounded sine
/// except, very rarely, one unit in the last place.
inline float fastSin(float x) {
    return static_cast<float>(preciseSin(static_cast<double>(x)));
}

} // namespace vexla
