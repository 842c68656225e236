#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "quorvel/audio/Effect.hpp"
#include "quorvel/rules/Values.hpp"

// Which audio an effect takes, and the facts a front end needs to run a
// chain offline: the tail it appends and the delay-line limit it enforces.
// Offline front ends (the tool, Python, the browser's render) refuse a
// setting that does not fit; a real-time plugin holds it to the limit.
namespace quorvel::rules {

// Sample rates every front end accepts, in Hz (whole numbers).
inline constexpr unsigned int kMinimumRate = 1;
inline constexpr unsigned int kMaximumRate = 1000000;

// The level an offline render's tail decays to: -60 dB of the input's peak.
inline constexpr double kTailLevel = 0.001;
// The longest tail an offline render appends, in seconds.
inline constexpr double kMaximumTailSeconds = 10.0;

// `rate` (Hz) as the whole number the effects run at; throws RuleError
// "sample rate 0 Hz: ..." unless it is a whole number in [kMinimumRate, kMaximumRate].
unsigned int checkedRate(double rate);

// Throws RuleError unless `type` takes `channels` channels, with what to do
// instead, e.g. "PingPongDelay: takes 2 channels (stereo); the input has 1
// (mono): make a stereo copy first".
void checkChannels(const audio::EffectInfo& type, std::uint64_t channels);

// Throws RuleError when a setting of `effect` needs more than its delay
// line holds at `rate` Hz: "Delay: delayMs=800 does not fit the delay line
// at 96000 Hz (at most 500 ms)". A bypassed effect reads no line and passes.
void checkFits(const audio::EffectControls& effect, unsigned int rate);

// `limit`, the largest value of `parameter` that fits, as users type
// values: rounded down to whole milliseconds or to the millisecond in
// seconds so that the value shown does fit, with the unit ("500 ms", "0.124 s").
std::string limitText(const audio::Parameter& parameter, double limit);

// Frames of silence an offline render appends after the input at `rate` Hz
// until the chain's output has decayed to kTailLevel: every effect's latency
// and tail, summed, at most kMaximumTailSeconds.
std::uint64_t tailFrames(const std::vector<const audio::EffectControls*>& chain, unsigned int rate);

}  // namespace quorvel::rules
