// Double-precision sine for the voices' render paths: sine() is pure and safe on any thread; a
// TrackedSine belongs to the one thread that advances it.
#pragma once

namespace zintor {

/// sin(x) without a library call, cheap enough to run several times per sample.
/// Error: below 1e-15 of std::sin for |x| up to about 1e6 radians (Taylor series to x^19 after reduction).
inline double sine(double x) {
    // 2π split so that k × kTwoPiHigh is exact for |k| < 2^20 (Cody–Waite reduction).
    constexpr double kTwoPiHigh = 0x1.921fb54400000p+2;
    constexpr double kTwoPiLow = 0x1.0b4611a626331p-32;
    constexpr double kInvTwoPi = 0.15915494309189535;
    constexpr double kPi = 0x1.921fb54442d18p+1;
    constexpr double kHalfPi = kPi * 0.5;

    // Branch-free (the compiler may then run several at once); k fits 32 bits for |x| below 1e9.
    const double scaled = x * kInvTwoPi;
    const double k = static_cast<double>(static_cast<int>(scaled + (scaled >= 0.0 ? 0.5 : -0.5)));
    const double reduced = (x - k * kTwoPiHigh) - k * kTwoPiLow; // now within −π..π
    const double y = reduced > kHalfPi ? kPi - reduced : reduced < -kHalfPi ? -kPi - reduced : reduced;

    // Taylor series to y^19: the first omitted term is below 3e-16 on −π/2..π/2.
    const double u = y * y;
    double p = -1.0 / 121645100408832000.0; // −1/19!
    p = p * u + 1.0 / 355687428096000.0;    // 1/17!
    p = p * u - 1.0 / 1307674368000.0;      // −1/15!
    p = p * u + 1.0 / 6227020800.0;         // 1/13!
    p = p * u - 1.0 / 39916800.0;           // −1/11!
    p = p * u + 1.0 / 362880.0;             // 1/9!
    p = p * u - 1.0 / 5040.0;               // −1/7!
    p = p * u + 1.0 / 120.0;                // 1/5!
    p = p * u - 1.0 / 6.0;                  // −1/3!
    return y + y * u * p;
}

inline double cosine(double x) {
    constexpr double kHalfPi = 0x1.921fb54442d18p+0;
    return sine(x + kHalfPi);
}

/// sin of a phase that usually advances by the same amount on every sample: while the step repeats,
/// the value is rotated by the step's cosine and sine instead of being evaluated again, and is
/// recomputed exactly every kResyncSamples samples so that rounding cannot build up (the error stays
/// below 1e-13). Any other change of the phase (a wrap, a new rate, a write from outside) falls back
/// to one direct evaluation.
class TrackedSine {
  public:
    static constexpr int kResyncSamples = 256;

    /// sin(phase) for the phase of this sample.
    [[gnu::always_inline]] double next(double phase) {
        const double delta = phase - phase_;
        phase_ = phase;
        if (rotating_ && delta == delta_ && --countdown_ > 0) {
            const double s = sin_ * cosDelta_ + cos_ * sinDelta_;
            cos_ = cos_ * cosDelta_ - sin_ * sinDelta_;
            sin_ = s;
            return s;
        }
        sin_ = sine(phase);
        rotating_ = delta == previousDelta_;
        if (rotating_) { // the second equal step in a row: start rotating from exact values
            cos_ = cosine(phase);
            delta_ = delta;
            sinDelta_ = sine(delta);
            cosDelta_ = cosine(delta);
            countdown_ = kResyncSamples;
        }
        previousDelta_ = delta;
        return sin_;
    }

  private:
    friend struct TrackedSineLanes; // runs two of these side by side

    double phase_ = 0.0;
    double sin_ = 0.0;
    double cos_ = 1.0;
    double delta_ = 0.0;
    double previousDelta_ = -1.0;
    double sinDelta_ = 0.0;
    double cosDelta_ = 1.0;
    int countdown_ = 0;
    bool rotating_ = false;
};

} // namespace zintor
