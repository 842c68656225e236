#pragma once

#include "quorvel/audio/Export.hpp"
#include "quorvel/audio/SweptDelay.hpp"

namespace quorvel::audio {

// A flanger: each channel adds to its input a copy delayed by 2 samples plus a
// short swept fractional delay, and feeds 0.6 of that copy back into its
// delay line. Every channel has its own oscillator; neighbouring channels
// sweep a quarter cycle apart. Sweep width 0.005 s, frequency 0.4 Hz to begin with.
class QUORVEL_DSP_API Flanger final : public SweptDelay {
 public:
  // State for `channels` channels: a silent 48000-sample line each with its
  // oscillator.
  explicit Flanger(unsigned int channels);

  static const Design& designOf() noexcept;
  static const EffectInfo& typeInfo() noexcept { return *designOf().info; }
  static ParameterTable parameterTable() noexcept { return designOf().parameters(); }
};

}  // namespace quorvel::audio
