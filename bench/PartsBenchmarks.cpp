// Where a node's time goes: the processors without the host, and the parts
// they are built from, each on the work one 256-frame stereo block at 48 kHz
// gives it. Every figure is ns per sample (frames x channels), so that the
// parts can be set beside the node benchmarks: the oscillators of the swept
// effects, the block sine inside them, the interpolated reads, and, for the
// delays, the memory traffic alone (the four streams of an echo loop).

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "OscillatorStep.hpp"
#include "VectorTarget.hpp"
#include "quorvel/audio/CircularBuffer.hpp"
#include "quorvel/audio/Effect.hpp"
#include "quorvel/audio/LFO.hpp"
#include "vector/Sine.hpp"
#include "vector/SweepLoops.hpp"

namespace {

using namespace quorvel::audio;

constexpr unsigned int kFrames = 256;
constexpr unsigned int kChannels = 2;
constexpr int kRate = 48000;
constexpr double kSamples = kFrames * kChannels;

void perSample(benchmark::State& state) {
  state.counters["ns_per_sample"] = benchmark::Counter(
      kSamples * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.SetLabel(activeVectorTarget());
}

std::vector<float> noise(std::size_t count, unsigned int seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> uniform(-0.5f, 0.5f);
  std::vector<float> samples(count);
  for (float& s : samples) s = uniform(rng);
  return samples;
}

// The processor alone, out of place, after a second of audio has filled its lines.
void processor(benchmark::State& state, const char* name) {
  const std::unique_ptr<Effect> effect = makeEffect(name, kChannels);
  effect->prepare(kRate, kChannels);
  std::vector<float> left = noise(kFrames, 1), right = noise(kFrames, 2);
  std::vector<float> outLeft(kFrames), outRight(kFrames);
  const float* in[] = {left.data(), right.data()};
  float* out[] = {outLeft.data(), outRight.data()};
  for (int done = 0; done < kRate; done += kFrames) effect->process(in, out, kChannels, kFrames);
  for (auto _ : state) {
    effect->process(in, out, kChannels, kFrames);
    benchmark::DoNotOptimize(outLeft.data());
    benchmark::ClobberMemory();
  }
  perSample(state);
}

// A stereo pair of oscillators a quarter cycle apart (chorus, flanger), or
// one shared by both channels (vibrato), through a chunk.
void oscillators(benchmark::State& state, bool shared) {
  LFO first;
  LFO second;
  first.setFrequency(0.5f);
  second.setFrequency(0.5f);
  second.setPhaseOffset(1.5707964f);
  std::vector<float> a(kFrames), b(kFrames);
  for (auto _ : state) {
    if (shared) {
      LFOAccess::fill(first, kRate, a.data(), kFrames);
    } else {
      LFOAccess::fillPair(first, second, kRate, a.data(), b.data(), kFrames);
    }
    benchmark::DoNotOptimize(a.data());
    benchmark::DoNotOptimize(b.data());
    benchmark::ClobberMemory();
  }
  perSample(state);
}

// The sines alone of a pair of oscillators: one per sample.
void sines(benchmark::State& state) {
  std::vector<float> angles(kFrames * kChannels), out(angles.size());
  for (std::size_t i = 0; i < angles.size(); ++i) {
    angles[i] = static_cast<float>(std::fmod(i * 0.0137, 1.0) * 6.283185307179586);
  }
  for (auto _ : state) {
    detail::sineBlock(angles.data(), out.data(), out.size());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  perSample(state);
}

// One interpolated read per sample from each channel's line, at positions
// a few milliseconds of sweep behind the write head, as a chorus reads.
void reads(benchmark::State& state) {
  CircularBuffer lines[] = {CircularBuffer(kDelayLineLength), CircularBuffer(kDelayLineLength)};
  std::vector<float> positions(kFrames), out(kFrames);
  for (CircularBuffer& line : lines) {
    const std::vector<float> fill = noise(kDelayLineLength, 3);
    std::memcpy(line.data(), fill.data(), fill.size() * sizeof(float));
  }
  for (unsigned int f = 0; f < kFrames; ++f) {
    positions[f] = 20000.0f + f - 600.0f * (1.0f + std::sin(f * 0.01f)) + 0.37f;
  }
  for (auto _ : state) {
    for (CircularBuffer& line : lines) {
      line.interpolate(positions.data(), out.data(), kFrames);
      benchmark::DoNotOptimize(out.data());
    }
    benchmark::ClobberMemory();
  }
  perSample(state);
}

// What an echo loop cannot do without: per channel, read the input and the
// line, write the line and the output, with no arithmetic at all.
void echoStreams(benchmark::State& state) {
  std::vector<float> lines(kDelayLineLength * kChannels);
  const std::vector<float> in = noise(kFrames * kChannels, 4);
  std::vector<float> out(kFrames * kChannels);
  unsigned int write = 0;
  for (auto _ : state) {
    const unsigned int read = (write + kDelayLineLength - 9600) % kDelayLineLength;
    for (unsigned int c = 0; c < kChannels; ++c) {
      float* line = lines.data() + c * kDelayLineLength;
      std::memcpy(out.data() + c * kFrames, line + read, kFrames * sizeof(float));
      std::memcpy(line + write, in.data() + c * kFrames, kFrames * sizeof(float));
    }
    write = (write + kFrames) % (kDelayLineLength - kFrames);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  perSample(state);
}

// A stereo pair of swept lines through a chunk, without the oscillators: the
// flanger's (read first, feedback, dry in the output; range(1) = 1) or the
// chorus's (range(1) = 0) line at a swept delay of range(0) samples plus a
// slow wobble, to see how the cost depends on how closely the reads follow
// the writes (store forwarding, shallow groups).
void sweptLines(benchmark::State& state) {
  const float depth = static_cast<float>(state.range(0));
  const bool flanger = state.range(1) != 0;
  const unsigned int mode = kernels::kSweepDry | (flanger ? kernels::kSweepFeedback : 0u);
  const kernels::SweptLineGains gains{2.0f, 0.8f, flanger ? 0.6f : 0.0f};
  std::vector<float> lines = noise(kDelayLineLength * kChannels, 5);
  const std::vector<float> in = noise(kFrames * kChannels, 6);
  std::vector<float> out(kFrames * kChannels);
  // The delays of 64 chunks, made once: the kernel reads its row only.
  constexpr unsigned int kChunks = 64;
  std::vector<float> delays(kFrames * kChunks);
  for (std::size_t f = 0; f < delays.size(); ++f) {
    delays[f] = depth + 0.5f + 0.5f * std::sin(0.001f * static_cast<float>(f));
  }
  int writes[kChannels] = {0, 0};
  unsigned int chunk = 0;
  for (auto _ : state) {
    const float* const d = delays.data() + (chunk % kChunks) * kFrames;
    for (unsigned int c = 0; c < kChannels; ++c) {
      kernels::sweptLine(lines.data() + c * kDelayLineLength, kDelayLineLength, writes[c], d, gains,
                         in.data() + c * kFrames, out.data() + c * kFrames, kFrames, mode);
    }
    ++chunk;
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  perSample(state);
}

BENCHMARK_CAPTURE(processor, Delay, "Delay")->Name("Parts/Processor/Delay");
BENCHMARK_CAPTURE(processor, PingPongDelay, "PingPongDelay")->Name("Parts/Processor/PingPongDelay");
BENCHMARK_CAPTURE(processor, Chorus, "Chorus")->Name("Parts/Processor/Chorus");
BENCHMARK_CAPTURE(processor, Flanger, "Flanger")->Name("Parts/Processor/Flanger");
BENCHMARK_CAPTURE(processor, Vibrato, "Vibrato")->Name("Parts/Processor/Vibrato");
BENCHMARK_CAPTURE(oscillators, Pair, false)->Name("Parts/Oscillators/Pair");
BENCHMARK_CAPTURE(oscillators, Shared, true)->Name("Parts/Oscillators/Shared");
BENCHMARK(sines)->Name("Parts/Sines");
BENCHMARK(reads)->Name("Parts/Reads");
BENCHMARK(echoStreams)->Name("Parts/EchoStreams");
BENCHMARK(sweptLines)
    ->Name("Parts/SweptLines")
    ->ArgNames({"depth", "feedback"})
    ->ArgsProduct({{0, 4, 12, 30, 60, 120, 240, 1200}, {0, 1}});

}  // namespace
