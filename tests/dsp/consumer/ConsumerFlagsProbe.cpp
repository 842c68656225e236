// Drives the DSP core through its public headers and prints, per section, an
// FNV-1a hash of every output bit. The build compiles this file twice, with
// the project's flags and with contraction (and FMA where the CPU has it):
// the core's arithmetic is compiled in the core, so both must print the same.
// Everything computed here is exact in float, so that the probe's own
// arithmetic cannot depend on the flags either.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "quorvel/audio/CircularBuffer.hpp"
#include "quorvel/audio/Effect.hpp"
#include "quorvel/audio/LFO.hpp"
#include "quorvel/audio/Vibrato.hpp"

namespace {

using namespace quorvel::audio;

struct Hash {
  std::uint64_t value = 14695981039346656037ull;
  void add(float x) {
    unsigned char bytes[sizeof x];
    std::memcpy(bytes, &x, sizeof x);
    for (unsigned char b : bytes) value = (value ^ b) * 1099511628211ull;
  }
  void add(const float* x, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) add(x[i]);
  }
};

// Samples k x 2^-23 - 1 in [-1, 1) from a linear congruential generator.
struct Noise {
  std::uint32_t state;
  float next() {
    state = state * 1664525u + 1013904223u;
    return static_cast<float>(state >> 8) * (1.0f / 8388608.0f) - 1.0f;
  }
};

void report(const char* section, const Hash& hash) {
  std::printf("%-14s %016llx\n", section, static_cast<unsigned long long>(hash.value));
}

void interpolation() {
  Noise noise{1};
  CircularBuffer ring(4801);
  for (int i = 0; i < ring.getSize(); ++i) {
    ring.writeSample(noise.next());
    ring.stepWritePointer(1);
  }
  // Positions on a 1/64 grid, inside and around the ring, negative ones too.
  std::vector<float> positions(20000);
  for (std::size_t k = 0; k < positions.size(); ++k) {
    positions[k] = static_cast<float>(static_cast<int>(k % 9700) - 4850) +
                   static_cast<float>(k % 64) * 0.015625f;
  }
  Hash scalar, block;
  for (float p : positions) scalar.add(ring.interpolate(p));
  std::vector<float> out(positions.size());
  ring.interpolate(positions.data(), out.data(), out.size());
  block.add(out.data(), out.size());
  report("interpolate", scalar);
  report("interpolate[]", block);
}

void oscillator() {
  LFO lfo;
  lfo.setFrequency(3.75f);
  lfo.setAmplitude(0.5f);
  lfo.setOffset(0.5f);
  lfo.setPhaseOffset(0.3125f);
  Hash hash;
  for (int i = 0; i < 30000; ++i) {
    if (i == 10000) lfo.setFrequency(440.0f);
    hash.add(lfo.process(i < 20000 ? 44100 : 96000));
  }
  report("LFO", hash);
}

// Stereo blocks of varying length and sample rate, every parameter moved
// between blocks through the table unless `byTable` is false.
void run(Effect& effect, const std::string& section, bool byTable = true) {
  Noise noise{7};
  std::vector<float> left(1600), right(1600);
  float* out[] = {left.data(), right.data()};
  std::vector<float> inLeft(1600), inRight(1600);
  const float* in[] = {inLeft.data(), inRight.data()};
  Hash hash;
  for (unsigned int b = 0; b < 60; ++b) {
    for (const Parameter& p : byTable ? effect.parameters() : ParameterTable(nullptr, 0)) {
      const double step = 0.5 + static_cast<double>(b % 5) * 0.25;
      const double value = p.type == ParameterType::Boolean   ? (b % 9 != 8)
                           : p.type == ParameterType::Integer ? 1 + (b * 131) % 999
                                                              : p.defaultValue * step;
      effect.set(p.key, value);
    }
    effect.prepare(b % 20 < 15 ? 48000 : 44100, 2);
    const unsigned int frames = 1 + (b * 397) % 1500;
    for (unsigned int f = 0; f < frames; ++f) {
      inLeft[f] = noise.next();
      inRight[f] = noise.next();
    }
    effect.process(in, out, 2, frames);
    hash.add(left.data(), frames);
    hash.add(right.data(), frames);
  }
  report(section.c_str(), hash);
}

}  // namespace

int main() {
  interpolation();
  oscillator();
  for (const EffectInfo* info : effectTypes()) {
    std::unique_ptr<Effect> effect = makeEffect(info->name, 2);
    run(*effect, std::string(info->name));
  }
  // A class built directly, driven through its typed setters.
  Vibrato vibrato(2);
  vibrato.setSweepWidth(0.0234375f);
  vibrato.setFrequency(6.5f);
  run(vibrato, "Vibrato(class)", false);
  return 0;
}
