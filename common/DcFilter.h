// A DC blocker for one output channel: a first-order high-pass near 5 Hz, faded in and out so that
// switching it never makes the output jump. render() on the audio thread only.
#pragma once

namespace common {

/// Corner of the DC filter's high-pass, Hz, at 44100 frames per second.
inline constexpr double kDcFilterCornerHz = 5.0;
/// Frames over which switching the DC filter crosses from the plain signal to the filtered one (50 ms).
inline constexpr int kDcFilterFadeFrames = 2205;

class DcFilter {
  public:
    /// Filters `frames` samples spaced `stride` floats apart, in place; what came before the first
    /// call counts as silence. With `on` false and no fade under way the samples are left exactly as
    /// they are; the filter follows them all the same, so that switching it on later starts from the
    /// signal's present level. The caller stops calling while its output is held silent, so that the
    /// filter resumes where the signal left off.
    void render(float* samples, int frames, int stride, bool on);

  private:
    double lastIn_ = 0.0;
    double lastOut_ = 0.0;
    int fade_ = 0; ///< 0 plain .. kDcFilterFadeFrames filtered
    bool started_ = false;
};

} // namespace common
