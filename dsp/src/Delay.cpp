#include "quorvel/audio/Delay.hpp"

#include <algorithm>
#include <cmath>

#include "EffectSupport.hpp"
#include "SharedParameters.hpp"
#include "quorvel/audio/IeeeArithmeticScope.hpp"
#include "vector/EchoLoop.hpp"

namespace quorvel::audio {

namespace {

// Each channel has a line of its own, so any number of channels can pass.
const EffectInfo kInfo{
    "Delay", "Delay",          "Applies a delay effect to the input audio signal.",
    1,       kMaximumChannels, &Delay::parameterTable};

// A delay of 0 ms bypasses the effect, so the range starts there.
const std::array<Parameter, 5> kParameters =
    detail::echoParameters<Delay>("Enable or disable the delay effect.", 0);

}  // namespace

Delay::Delay(unsigned int channels) : numChannels(channels) {
  buffers.reserve(channels);
  for (unsigned int i = 0; i < channels; ++i) {
    CircularBuffer line(kDelayLineLength);
    buffers.push_back(std::move(line));
  }
}

const EffectInfo& Delay::typeInfo() noexcept { return kInfo; }

ParameterTable Delay::parameterTable() noexcept { return {kParameters.data(), kParameters.size()}; }

unsigned int Delay::delayInSamples(unsigned int sampleRate, unsigned int delayMs) noexcept {
  const double samples =
      std::trunc(static_cast<double>(sampleRate) / 1000.0 * static_cast<double>(delayMs));
  if (samples < 1.0) return 1;
  if (samples > static_cast<double>(kDelayLineLength)) return kDelayLineLength;
  return static_cast<unsigned int>(samples);
}

double Delay::maxDelayMs(unsigned int sampleRate) noexcept {
  if (sampleRate == 0) return 4294967295.0;
  // The largest whole ms whose delay, as the effect computes it, still fits.
  double ms = std::floor(static_cast<double>(kDelayLineLength) * 1000.0 / sampleRate) + 1.0;
  while (ms > 0.0 && std::trunc(static_cast<double>(sampleRate) / 1000.0 * ms) >
                         static_cast<double>(kDelayLineLength)) {
    ms -= 1.0;
  }
  return ms;
}

double Delay::tailSamples(unsigned int rate, double level) const noexcept {
  if (isBypassed()) return 0.0;
  // Echo k (k >= 1) comes k delays after the input with gain wet x feedback^(k-1).
  const double echoes = detail::audibleEchoes(getWetMix(), getFeedbackLevel(), level);
  return echoes * delayInSamples(rate, getDelayMs());
}

void Delay::prepare(unsigned int rate, unsigned int channels) noexcept {
  sampleRate = rate;
  blockChannels = channels;
}

void Delay::reset() noexcept {
  for (CircularBuffer& line : buffers) line.reset();
  lastDelayMs = 0;
  lastSampleRate = 0;
  lastChannels = 0;
}

void Delay::process(const float* const* in, float* const* out, unsigned int channels,
                    unsigned int frames) noexcept {
  const unsigned int ms = delayMs.load();
  if (ms == 0 || !isEnabled.load()) return detail::copyThrough(in, out, 0, channels, frames);
  // The same bits whatever floating-point mode the calling thread is in.
  const IeeeArithmeticScope ieeeArithmetic;

  // A new rate or channel layout makes the stored echoes meaningless: clear
  // them. A reset also rewinds the read heads onto the write heads, so the
  // delay has to be placed again even when the rate and delay time are unchanged.
  bool placeReadPointers = sampleRate != lastSampleRate || ms != lastDelayMs;
  if (blockChannels != lastChannels || sampleRate != lastSampleRate) {
    for (CircularBuffer& line : buffers) line.reset();
    lastSampleRate = sampleRate;
    lastChannels = blockChannels;
    placeReadPointers = true;
  }
  if (placeReadPointers) {
    // Only the read heads move: the echo tail already in the lines comes out
    // at the new distance. A distance of a full line folds onto the write
    // head, which reads the sample written one line length earlier.
    const int delay = static_cast<int>(delayInSamples(sampleRate, ms));
    for (CircularBuffer& line : buffers) line.setReadPointer(line.getWritePointer() - delay);
    lastDelayMs = ms;
  }

  const unsigned int used = std::min(channels, numChannels);
  detail::copyThrough(in, out, used, channels, frames);
  if (frames == 0 || used == 0) return;
  // The gains are read once per block: a change made between two calls is
  // heard from the first frame of the next block, as it would be with a read
  // per sample, and the block runs on constants, several frames at a time.
  const kernels::EchoGains gains{dryMix.load(), wetMix.load(), feedbackLevel.load()};
  // Each channel's line is its own: the channels run one after the other.
  for (unsigned int c = 0; c < used; ++c) {
    CircularBuffer& line = buffers[c];
    int read = line.getReadPointer();
    int write = line.getWritePointer();
    kernels::echoLine(line.data(), line.getSize(), read, write, in[c], out[c], frames, gains);
    line.setReadPointer(read);
    line.setWritePointer(write);
  }
}

}  // namespace quorvel::audio
