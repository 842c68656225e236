#include "Levels.hpp"

#include <fmt/format.h>
#include <sndfile.h>

#include <cmath>

namespace quorvelfx {

void OutputLevel::apply(float* samples, std::size_t count) noexcept {
  const bool scale = gain_ != 1.0f;
  float peak = peak_;
  std::uint64_t above = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const float sample = scale ? samples[i] * gain_ : samples[i];
    samples[i] = sample;
    const float magnitude = std::fabs(sample);
    if (magnitude > peak) peak = magnitude;
    if (magnitude > 1.0f) ++above;
  }
  peak_ = peak;
  above_ += above;
}

float OutputLevel::fromDecibels(double decibels) noexcept {
  return static_cast<float>(std::pow(10.0, decibels / 20.0));
}

float OutputLevel::normalising(float peak, double targetDb) noexcept {
  if (!(peak > 0.0f) || !std::isfinite(peak)) return 1.0f;
  return static_cast<float>(std::pow(10.0, targetDb / 20.0) / peak);
}

double OutputLevel::suggestedGainDb(float peak) noexcept {
  if (!(peak > 0.0f) || !std::isfinite(peak)) return 0.0;
  const double over = 20.0 * std::log10(static_cast<double>(peak)) + kSuggestedHeadroomDb;
  return -std::ceil(over * 10.0 - 1e-9) / 10.0;
}

std::string OutputLevel::overloadWarning(std::uint64_t count, float peak, int sndfileFormat) {
  const std::string level = fmt::format(" (peak {:+.1f} dBFS)", 20.0 * std::log10(peak));
  const std::string gain = fmt::format("--gain {:.1f} or --norm", suggestedGainDb(peak));
  const std::string lower = "lower the level with " + gain;
  const std::string samples = fmt::format("{} {}", count, count == 1 ? "sample" : "samples");

  const int container = sndfileFormat & SF_FORMAT_TYPEMASK;
  const int encoding = sndfileFormat & SF_FORMAT_SUBMASK;
  if (sndfileFormat == 0) {
    return samples + " above full scale" + level + "; " + gain + " would keep them below it";
  }
  if (encoding == SF_FORMAT_FLOAT || encoding == SF_FORMAT_DOUBLE) {
    return samples + " above full scale" + level +
           " are kept in the float file but clip in playback and in conversion to PCM; " + lower;
  }
  if (encoding == SF_FORMAT_VORBIS) {
    return samples + " above full scale" + level + " will clip when the Ogg file is decoded; " +
           lower;
  }
  // Integer PCM: the samples were clipped as they were written.
  const bool floatFits = container != SF_FORMAT_FLAC && container != SF_FORMAT_OGG;
  return samples + " clipped" + level + "; " + lower +
         (floatFits ? ", or keep them with --encoding float" : "");
}

}  // namespace quorvelfx
