#include "quorvel/audio/PingPongDelay.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "EffectSupport.hpp"
#include "SharedParameters.hpp"
#include "quorvel/audio/Delay.hpp"
#include "quorvel/audio/IeeeArithmeticScope.hpp"
#include "vector/EchoLoop.hpp"

namespace quorvel::audio {

namespace {

// Stereo by nature: each channel's echo comes back in the other.
const EffectInfo kInfo{"PingPongDelay",
                       "Ping Pong Delay",
                       "Applies a ping pong delay effect to the input audio signal.",
                       2,
                       2,
                       &PingPongDelay::parameterTable};

// The shortest delay the host schema publishes is 1 ms.
const std::array<Parameter, 5> kParameters =
    detail::echoParameters<PingPongDelay>("Enable or disable the ping-pong delay effect.", 1);

// The two cross-fed lines with the block's gains. Each call runs one
// channel of one frame at the shared index; the left channel goes first in
// every frame, so the right channel's cross read finds the left sample
// stored in this same frame, which is what sends a left impulse to both
// sides at once. Each own line is read before it is overwritten.
struct CrossFedLines {
  void left(const float& in, float& out, unsigned int index) const noexcept {
    const float x = in;
    const float v = wetMix * leftLine[index] + dryMix * x;
    leftLine[index] = detail::lineSample(feedbackLevel * rightLine[index] + x);
    out = detail::outputSample(v);
  }
  void right(const float& in, float& out, unsigned int index) const noexcept {
    const float x = in;
    const float v = wetMix * rightLine[index] + dryMix * x;
    rightLine[index] = detail::lineSample(feedbackLevel * leftLine[index] + x);
    out = detail::outputSample(v);
  }

  float* leftLine;
  float* rightLine;
  float dryMix;
  float wetMix;
  float feedbackLevel;
};

}  // namespace

PingPongDelay::PingPongDelay()
    : leftBuffer(std::make_unique<float[]>(kDelayLineLength)),
      rightBuffer(std::make_unique<float[]>(kDelayLineLength)) {}

const EffectInfo& PingPongDelay::typeInfo() noexcept { return kInfo; }

ParameterTable PingPongDelay::parameterTable() noexcept {
  return {kParameters.data(), kParameters.size()};
}

double PingPongDelay::tailSamples(unsigned int rate, double level) const noexcept {
  if (isBypassed()) return 0.0;
  // The first echo comes one delay after the input with gain wet. The right
  // line takes the left one's sample of the same frame, so each line decays
  // by feedback^2 per delay: echo k >= 2 has gain wet x feedback^(2k - 3) at
  // most. With m + 1 echoes of a plain feedback loop above the level, this
  // loop has (m + 3) / 2 of them, rounded down.
  const double plain = detail::audibleEchoes(getWetMix(), getFeedbackLevel(), level);
  const double echoes = plain <= 1.0 ? plain : std::floor((plain + 2.0) / 2.0);
  return echoes * Delay::delayInSamples(rate, getDelayMs());
}

void PingPongDelay::prepare(unsigned int rate, unsigned int) noexcept { sampleRate = rate; }

void PingPongDelay::reset() noexcept {
  std::memset(leftBuffer.get(), 0, kDelayLineLength * sizeof(float));
  std::memset(rightBuffer.get(), 0, kDelayLineLength * sizeof(float));
  index = 0;
  lastDelayMs = 0;
  delaySamples = 0;
  lastSampleRate = 0;
}

void PingPongDelay::process(const float* const* in, float* const* out, unsigned int channels,
                            unsigned int frames) noexcept {
  const bool enabled = isEnabled.load();
  const unsigned int ms = delayMs.load();
  if (!enabled || ms == 0) return detail::copyThrough(in, out, 0, channels, frames);
  // The same bits whatever floating-point mode the calling thread is in.
  const IeeeArithmeticScope ieeeArithmetic;

  // A new rate or delay time changes only the ring length: the lines keep
  // their contents and the index its value, so the tail carries on.
  if (sampleRate != lastSampleRate || ms != lastDelayMs) {
    lastSampleRate = sampleRate;
    delaySamples = Delay::delayInSamples(sampleRate, ms);
    lastDelayMs = ms;
  }
  const CrossFedLines lines{leftBuffer.get(), rightBuffer.get(), dryMix.load(), wetMix.load(),
                            feedbackLevel.load()};
  const unsigned int used = std::min(channels, 2u);
  detail::copyThrough(in, out, used, channels, frames);
  if (frames == 0) return;

  const unsigned int length = delaySamples;
  // After a ring is shortened the old, larger index serves the first frame
  // of the block and is then folded by the new length (at most
  // kDelayLineLength, so it always stays inside the lines); from then on it
  // lies below the length and folds by a compare.
  if (used > 0) lines.left(in[0][0], out[0][0], index);
  if (used > 1) lines.right(in[1][0], out[1][0], index);
  index = (index + 1) % length;
  if (used > 0) {
    index = kernels::crossFedLines(lines.leftLine, lines.rightLine, index, length, in[0] + 1,
                                   used > 1 ? in[1] + 1 : nullptr, out[0] + 1,
                                   used > 1 ? out[1] + 1 : nullptr, frames - 1,
                                   {lines.dryMix, lines.wetMix, lines.feedbackLevel});
  } else {
    index = static_cast<unsigned int>((index + (frames - 1ull)) % length);
  }
}

}  // namespace quorvel::audio
