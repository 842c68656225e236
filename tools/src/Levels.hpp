#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The output's level after the chain: a fixed gain, its peak, what went above
// full scale, and what to tell the user about it.
namespace quorvelfx {

class OutputLevel {
 public:
  // Full scale is 1.0; the gain suggestions leave this much headroom, in dB.
  static constexpr double kSuggestedHeadroomDb = 0.1;

  // Multiplies every sample by `gain` (linear, finite, >= 0).
  explicit OutputLevel(float gain = 1.0f) noexcept : gain_(gain) {}

  // Scales `count` samples in place and measures them.
  void apply(float* samples, std::size_t count) noexcept;

  // The gain applied, linear.
  float gain() const noexcept { return gain_; }
  // Largest absolute sample after the gain (NaN samples are not counted).
  float peak() const noexcept { return peak_; }
  // Samples whose magnitude exceeded 1.0 after the gain.
  std::uint64_t aboveFullScale() const noexcept { return above_; }

  // The linear gain of `decibels`, as float.
  static float fromDecibels(double decibels) noexcept;
  // The gain that brings `peak` (linear) to `targetDb` dBFS; 1 for a silent
  // or non-finite peak, which cannot be normalised.
  static float normalising(float peak, double targetDb) noexcept;
  // The --gain, in dB rounded down to a tenth, that brings `peak` to just
  // below full scale.
  static double suggestedGainDb(float peak) noexcept;

  // The warning for `count` samples above full scale with the given `peak`
  // in an output of SF_FORMAT_* `sndfileFormat` (0 when nothing is written),
  // with advice that the format can follow.
  static std::string overloadWarning(std::uint64_t count, float peak, int sndfileFormat);

 private:
  float gain_;
  float peak_ = 0.0f;
  std::uint64_t above_ = 0;
};

}  // namespace quorvelfx
