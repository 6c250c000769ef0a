// Inline sine of a single-precision angle, worked out in double precision. Pure; any thread.
#pragma once

#include <bit>
#include <cstdint>

namespace vexla {

/// sin(x) for |x| < 2^20 radians, within 1e-9 of the exact sine before the final rounding to float: the
/// result is the correctly rounded sine except, rarely, one unit in the last place. No library call, no
/// table, no branch, and only SSE2 arithmetic, so the voices' sines stay cheap on any x86-64.
inline float fastSin(float x) {
    constexpr double kInvPi = 0.318309886183790671538;
    constexpr double kPiHigh = 3.141592653589793116;  // π rounded to double
    constexpr double kPiLow = 1.2246467991473532e-16; // π − kPiHigh
    constexpr double kRoundShift = 6755399441055744.0; // 1.5 × 2^52: the sum's low bits hold the nearest integer
    const double xd = x;
    const double shifted = xd * kInvPi + kRoundShift;
    const double k = shifted - kRoundShift;
    // sin(x) = (−1)^k sin(x − kπ), with x − kπ in [−π/2, π/2].
    const std::uint64_t oddTurn = std::bit_cast<std::uint64_t>(shifted) << 63;
    const double r = (xd - k * kPiHigh) - k * kPiLow;
    const double r2 = r * r;
    // Taylor terms up to r^13: the first one left out is below 7e-10 at π/2.
    const double p =
        r + r * r2 *
                (-1.0 / 6.0 +
                 r2 * (1.0 / 120.0 +
                       r2 * (-1.0 / 5040.0 +
                             r2 * (1.0 / 362880.0 + r2 * (-1.0 / 39916800.0 + r2 * (1.0 / 6227020800.0))))));
    return static_cast<float>(std::bit_cast<double>(std::bit_cast<std::uint64_t>(p) ^ oddTurn));
}

} // namespace vexla
