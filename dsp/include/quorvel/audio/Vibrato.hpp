#pragma once

#include "quorvel/audio/Export.hpp"
#include "quorvel/audio/SweptDelay.hpp"

namespace quorvel::audio {

// A vibrato: each channel is replaced by itself read 1 sample plus a swept
// fractional delay back, which bends the pitch up and down; no dry signal,
// no feedback. One oscillator sweeps all channels in step. Sweep width
// 0.01 s, frequency 4 Hz to begin with.
class QUORVEL_DSP_API Vibrato final : public SweptDelay {
 public:
  // State for `channels` channels: a silent 48000-sample line each, and
  // one oscillator.
  explicit Vibrato(unsigned int channels);

  static const Design& designOf() noexcept;
  static const EffectInfo& typeInfo() noexcept { return *designOf().info; }
  static ParameterTable parameterTable() noexcept { return designOf().parameters(); }
};

}  // namespace quorvel::audio
