#pragma once

// Plain per-sample models of the five effect nodes, one operation per line in
// the order the effects are defined: a ring with remainder wraps, an
// oscillator with one sinf per step, fmodf and floorf where the definitions
// use them. They are deliberately slow and obvious; the optimised nodes must
// reproduce their output bit for bit. They run on any planar block type with
// the accessors of quorvel::AudioBuffer (channel and frame counts, sample
// rate, getSample, setSample), so the host-free processor tests use them too.

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <vector>

#if !defined(__GLIBC__)
#include "vector/Sine.hpp"
#endif

namespace reference {

// The reference sine is glibc's sinf. With another C library (WebAssembly's)
// the library's own sinf differs in the last bit now and then; there the
// core's sine, checked against glibc's values, stands in for it.
inline float referenceSine(float angle) {
#if defined(__GLIBC__)
  return sinf(angle);
#else
  float value = angle;
  quorvel::audio::detail::sineBlock(&value, &value, 1);
  return value;
#endif
}

// A subnormal becomes a zero of its sign: what the lines store and the
// effects output, so that decaying tails reach silence.
inline float flushed(float x) { return std::fabs(x) < FLT_MIN ? std::copysign(0.0f, x) : x; }

// What every delay line stores for a sample: silence in place of a NaN or
// an infinity, so that one bad sample cannot poison a feedback loop.
inline float stored(float x) { return std::isfinite(x) ? flushed(x) : 0.0f; }

// Copies the input block into the output block (same shape in these tests).
template <typename Buffer>
void copyBlock(const Buffer& in, Buffer& out) {
  for (unsigned int c = 0; c < in.getNumberOfChannels(); ++c) {
    for (unsigned int f = 0; f < in.getNumberOfFrames(); ++f)
      out.setSample(c, f, in.getSample(c, f));
  }
}

class Ring {
 public:
  explicit Ring(int size) : size(size), samples(static_cast<std::size_t>(size), 0.0f) {}

  int wrap(int p) const { return (p + size) % size; }
  void setRead(int p) { read = wrap(p); }
  void stepWrite() { write = wrap(write + 1); }
  void stepRead() { read = wrap(read + 1); }
  float at(int p) const { return samples[static_cast<std::size_t>(wrap(p))]; }
  float atRead() const { return samples[static_cast<std::size_t>(read)]; }
  void store(float x) { samples[static_cast<std::size_t>(write)] = x; }
  void reset() {
    for (float& x : samples) x = 0.0f;
    read = 0;
    write = 0;
  }

  float interpolate(float position) const {
    const float base = std::floor(position);
    const float fraction = position - base;
    const int i = static_cast<int>(base);
    const float current = at(i);
    const float next = at(i + 1);
    const double weightCurrent = 1.0 - static_cast<double>(fraction);
    const double partCurrent = weightCurrent * static_cast<double>(current);
    const float partNext = fraction * next;
    return static_cast<float>(partCurrent + static_cast<double>(partNext));
  }

  int size;
  std::vector<float> samples;
  int read = 0;
  int write = 0;
};

class Oscillator {
 public:
  float step(int rate) {
    if (rate != sampleRate) {
      sampleRate = rate;
      // A rate of 0 or below holds the phase still instead of stepping by infinity.
      inverseSampleRate = rate > 0 ? static_cast<float>(1.0 / static_cast<double>(rate)) : 0.0f;
    }
    const double angleDouble =
        static_cast<double>(phaseOffset) + static_cast<double>(phase) * 6.283185307179586;
    const float angle = static_cast<float>(angleDouble);
    const float scaled = referenceSine(angle) * amplitude;
    const float value = scaled + offset;
    const float increment = frequency * inverseSampleRate;
    float next = increment + phase;
    if (next >= 1.0f) next = next - 1.0f;
    // A runaway phase (non-finite or absurd frequency) restarts at 0.
    if (!(std::fabs(next) <= 18446744073709551616.0f)) next = 0.0f;
    phase = next;
    return value;
  }

  float frequency = 10.0f;
  float amplitude = 1.0f;
  float offset = 0.0f;
  float phaseOffset = 0.0f;
  float phase = 0.0f;
  int sampleRate = 0;
  float inverseSampleRate = 0.0f;
};

// Delay in whole samples, held to a line of 48000 samples.
inline int delaySamples(unsigned int sampleRate, unsigned int delayMs) {
  const double samples =
      std::trunc(static_cast<double>(sampleRate) / 1000.0 * static_cast<double>(delayMs));
  if (samples < 1.0) return 1;
  if (samples > 48000.0) return 48000;
  return static_cast<int>(samples);
}

// The swept read position behind the write position, reduced by fmodf.
inline float sweptPosition(const Ring& line, float d, float fixed) {
  const float w = static_cast<float>(line.write);
  const float length = static_cast<float>(line.size);
  const float a = w - d;
  const float b = a - fixed;
  const float c = b + length;
  return fmodf(c, length);
}

inline float sweptDelay(float v, float sweepWidth, float rate) {
  const float d = (v * sweepWidth) * rate;
  return std::isfinite(d) ? d : 0.0f;
}

struct Delay {
  explicit Delay(unsigned int channels) : lines(channels, Ring(48000)) {}

  template <typename Buffer>
  void process(const Buffer& in, Buffer& out) {
    copyBlock(in, out);
    const unsigned int rate = in.getSampleRate();
    const unsigned int channels = in.getNumberOfChannels();
    if (delayMs == 0 || !enabled) return;
    const unsigned int previousRate = lastSampleRate;
    bool place = rate != previousRate || delayMs != lastDelayMs;
    if (channels != lastChannels || rate != lastSampleRate) {
      for (Ring& line : lines) line.reset();
      lastSampleRate = rate;
      lastChannels = channels;
      place = true;
    }
    if (place) {
      const int d = delaySamples(rate, delayMs);
      for (Ring& line : lines) line.setRead(line.write - d);
      lastDelayMs = delayMs;
    }
    const unsigned int used = std::min<unsigned int>(channels, lines.size());
    for (unsigned int f = 0; f < in.getNumberOfFrames(); ++f) {
      for (unsigned int c = 0; c < used; ++c) {
        Ring& line = lines[c];
        const float x = in.getSample(c, f);
        const float y = line.atRead();
        const float fed = y * feedbackLevel;
        line.store(stored(fed + x));
        line.stepWrite();
        line.stepRead();
        const float dry = dryMix * x;
        const float wet = wetMix * y;
        out.setSample(c, f, flushed(dry + wet));
      }
    }
  }

  std::vector<Ring> lines;
  bool enabled = true;
  float dryMix = 0.7f, wetMix = 0.3f, feedbackLevel = 0.2f;
  unsigned int delayMs = 200;
  unsigned int lastDelayMs = 0, lastSampleRate = 0, lastChannels = 0;
};

struct PingPong {
  template <typename Buffer>
  void process(const Buffer& in, Buffer& out) {
    copyBlock(in, out);
    if (!enabled || delayMs == 0) return;
    const unsigned int rate = in.getSampleRate();
    if (rate != lastSampleRate || delayMs != lastDelayMs) {
      lastSampleRate = rate;
      length = static_cast<unsigned int>(delaySamples(rate, delayMs));
      lastDelayMs = delayMs;
    }
    const unsigned int used = std::min(in.getNumberOfChannels(), 2u);
    for (unsigned int f = 0; f < in.getNumberOfFrames(); ++f) {
      for (unsigned int c = 0; c < used; ++c) {
        std::vector<float>& own = c == 0 ? left : right;
        const std::vector<float>& cross = c == 0 ? right : left;
        const float x = in.getSample(c, f);
        const float wet = wetMix * own[readIndex];
        const float dry = dryMix * x;
        const float v = wet + dry;
        const float fed = feedbackLevel * cross[readIndex];
        own[writeIndex] = stored(fed + x);
        out.setSample(c, f, flushed(v));
      }
      readIndex = (readIndex + 1) % length;
      writeIndex = (writeIndex + 1) % length;
    }
  }

  std::vector<float> left = std::vector<float>(48000, 0.0f);
  std::vector<float> right = std::vector<float>(48000, 0.0f);
  unsigned int readIndex = 0, writeIndex = 0, length = 0;
  bool enabled = true;
  float dryMix = 0.7f, wetMix = 0.3f, feedbackLevel = 0.2f;
  unsigned int delayMs = 200;
  unsigned int lastDelayMs = 0, lastSampleRate = 0;
};

// Chorus (feedback 0, stores the input) and flanger (stores input plus
// feedback) share one model: one oscillator and one line per channel, read
// before write.
struct QuadratureSweep {
  QuadratureSweep(unsigned int channels, float frequency, float width, float fixed, float feedback)
      : lines(channels, Ring(48000)),
        lfos(channels),
        sweepWidth(width),
        fixed(fixed),
        feedback(feedback) {
    for (unsigned int i = 0; i < channels; ++i) {
      lfos[i].frequency = frequency;
      lfos[i].amplitude = 0.5f;
      lfos[i].offset = 0.5f;
      lfos[i].phaseOffset = static_cast<float>(i * 1.5707963267948966);
    }
  }

  void setFrequency(float hz) {
    for (Oscillator& lfo : lfos) lfo.frequency = hz;
  }

  template <typename Buffer>
  void process(const Buffer& in, Buffer& out) {
    copyBlock(in, out);
    if (!enabled) return;
    const unsigned int rate = in.getSampleRate();
    const unsigned int channels = in.getNumberOfChannels();
    if (rate != lastSampleRate || channels != lastChannels) {
      for (Ring& line : lines) line.reset();
      lastSampleRate = rate;
      lastChannels = channels;
    }
    const unsigned int used = std::min<unsigned int>(channels, lines.size());
    if (in.getNumberOfFrames() == 0 || used == 0) return;
    for (unsigned int f = 0; f < in.getNumberOfFrames(); ++f) {
      for (unsigned int c = 0; c < used; ++c) {
        Ring& line = lines[c];
        const float v = lfos[c].step(static_cast<int>(rate));
        const float d = sweptDelay(v, sweepWidth, static_cast<float>(rate));
        const float x = in.getSample(c, f);
        const float y = line.interpolate(sweptPosition(line, d, fixed));
        if (feedback == 0.0f) {
          line.store(stored(x));
        } else {
          const float fed = feedback * y;
          line.store(stored(x + fed));
        }
        line.stepWrite();
        const float wet = mix * y;
        out.setSample(c, f, flushed(x + wet));
      }
    }
  }

  std::vector<Ring> lines;
  std::vector<Oscillator> lfos;
  float sweepWidth;
  float fixed;
  float feedback;
  float mix = 0.8f;
  bool enabled = true;
  unsigned int lastSampleRate = 0, lastChannels = 0;
};

struct Chorus : QuadratureSweep {
  explicit Chorus(unsigned int channels) : QuadratureSweep(channels, 0.2f, 0.025f, 1002.0f, 0.0f) {}
};

struct Flanger : QuadratureSweep {
  explicit Flanger(unsigned int channels) : QuadratureSweep(channels, 0.4f, 0.005f, 2.0f, 0.6f) {}
};

struct Vibrato {
  explicit Vibrato(unsigned int channels) : lines(channels, Ring(48000)) {
    lfo.frequency = 4.0f;
    lfo.amplitude = 0.5f;
    lfo.offset = 0.5f;
  }

  template <typename Buffer>
  void process(const Buffer& in, Buffer& out) {
    copyBlock(in, out);
    if (!enabled) return;
    const unsigned int rate = in.getSampleRate();
    const unsigned int channels = in.getNumberOfChannels();
    if (rate != lastSampleRate || channels != lastChannels) {
      for (Ring& line : lines) line.reset();
      lastSampleRate = rate;
      lastChannels = channels;
    }
    const unsigned int used = std::min<unsigned int>(channels, lines.size());
    for (unsigned int f = 0; f < in.getNumberOfFrames(); ++f) {
      const float v = lfo.step(static_cast<int>(rate));
      const float d = sweptDelay(v, sweepWidth, static_cast<float>(rate));
      for (unsigned int c = 0; c < used; ++c) {
        Ring& line = lines[c];
        line.store(stored(in.getSample(c, f)));
        const float y = line.interpolate(sweptPosition(line, d, 1.0f));
        line.stepWrite();
        out.setSample(c, f, flushed(y));
      }
    }
  }

  std::vector<Ring> lines;
  Oscillator lfo;
  float sweepWidth = 0.01f;
  bool enabled = true;
  unsigned int lastSampleRate = 0, lastChannels = 0;
};

}  // namespace reference
