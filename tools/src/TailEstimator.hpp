#pragma once

#include <quorvel/Node.hpp>

#include "EffectChain.hpp"
#include "EffectType.hpp"

namespace quorvelfx {

// How much silence to append so a chain's echoes can die away: for each
// effect, the time until its feedback has decayed by 60 dB, summed over the
// chain and capped at ten seconds.
class TailEstimator {
 public:
  // Longest tail the default ever asks for, in seconds.
  static constexpr double kMaximumSeconds = 10.0;

  // The tail for `chain` at `sampleRate` Hz, in seconds, within [0, kMaximumSeconds].
  static double chainSeconds(const EffectChain& chain, unsigned int sampleRate);
  // The tail of one effect with `node`'s current settings, in seconds; 0 when disabled.
  static double effectSeconds(const EffectType& type, quorvel::Node& node, unsigned int sampleRate);
};

}  // namespace quorvelfx
