#pragma once

#include "quorvel/audio/Export.hpp"
#include "quorvel/audio/SweptDelay.hpp"

namespace quorvel::audio {

// A chorus: each channel adds to its input a copy delayed by 1002 samples plus
// a slowly swept fractional extra delay, without feedback. Every channel has
// its own oscillator; neighbouring channels sweep a quarter cycle apart.
// Sweep width 0.025 s, frequency 0.2 Hz to begin with.
class QUORVEL_DSP_API Chorus final : public SweptDelay {
 public:
  // State for `channels` channels: a silent 48000-sample line each with its
  // oscillator.
  explicit Chorus(unsigned int channels);

  static const Design& designOf() noexcept;
  static const EffectInfo& typeInfo() noexcept { return *designOf().info; }
  static ParameterTable parameterTable() noexcept { return designOf().parameters(); }
};

}  // namespace quorvel::audio
