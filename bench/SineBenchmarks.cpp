// The oscillators' sine: the C library's sinf called once per value against
// the block sine that reproduces it, on 256-angle chunks (a swept effect's
// chunk) of oscillator angles, and a whole oscillator chunk. Each reports ns
// per value; the block sine's label names the instruction set it runs on.
// QUORVEL_VECTOR_TARGET forces one of vectorTargets().

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "OscillatorStep.hpp"
#include "VectorTarget.hpp"
#include "quorvel/audio/LFO.hpp"
#include "quorvel/audio/VectorTargets.hpp"
#include "vector/Sine.hpp"

namespace {

constexpr unsigned int kChunk = 256;
// A chunk of the angles an oscillator a quarter cycle ahead forms: in
// [pi/2, pi/2 + 2 pi), a few cycles' worth so every quadrant is visited.
std::vector<float> oscillatorAngles() {
  std::vector<float> angles(kChunk);
  for (unsigned int i = 0; i < kChunk; ++i) {
    const double phase = std::fmod(i * 0.0137, 1.0);
    angles[i] = static_cast<float>(1.5707963705062866 + phase * 6.283185307179586);
  }
  return angles;
}

void perValue(benchmark::State& state, double values) {
  state.counters["ns_per_value"] = benchmark::Counter(
      values * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void librarySine(benchmark::State& state) {
  const std::vector<float> angles = oscillatorAngles();
  std::vector<float> out(kChunk);
  for (auto _ : state) {
    for (unsigned int i = 0; i < kChunk; ++i) out[i] = std::sin(angles[i]);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  perValue(state, kChunk);
  state.SetLabel("std::sin");
}

void blockSine(benchmark::State& state) {
  const std::vector<float> angles = oscillatorAngles();
  std::vector<float> out(kChunk);
  for (auto _ : state) {
    quorvel::audio::detail::sineBlock(angles.data(), out.data(), kChunk);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  perValue(state, kChunk);
  state.SetLabel(quorvel::audio::detail::vectorSineInUse() ? quorvel::audio::activeVectorTarget()
                                                           : "std::sin (self-check failed)");
}

// An oscillator as the swept effects run it: value by value through step(),
// against a chunk filled at once.
void oscillatorSteps(benchmark::State& state) {
  quorvel::audio::LFO lfo;
  lfo.setFrequency(0.8f);
  lfo.setPhaseOffset(1.5707964f);
  std::vector<float> out(kChunk);
  for (auto _ : state) {
    for (unsigned int i = 0; i < kChunk; ++i) out[i] = lfo.process(48000);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  perValue(state, kChunk);
  state.SetLabel("step()");
}

void oscillatorChunk(benchmark::State& state) {
  quorvel::audio::LFO lfo;
  lfo.setFrequency(0.8f);
  lfo.setPhaseOffset(1.5707964f);
  std::vector<float> out(kChunk);
  for (auto _ : state) {
    quorvel::audio::LFOAccess::fill(lfo, 48000, out.data(), kChunk);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  perValue(state, kChunk);
  state.SetLabel(quorvel::audio::activeVectorTarget());
}

BENCHMARK(librarySine)->Name("Sine/Library");
BENCHMARK(blockSine)->Name("Sine/Block");
BENCHMARK(oscillatorSteps)->Name("Sine/OscillatorSteps");
BENCHMARK(oscillatorChunk)->Name("Sine/OscillatorChunk");

}  // namespace
