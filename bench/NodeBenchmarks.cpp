// Steady-state cost of each node on stereo 48 kHz noise, per block size, and
// the host's own share (copying the bus and touching every sample through
// the accessors), the floor below any node.

#include "BenchSupport.hpp"

namespace bench {
namespace {

template <typename Node>
void processBlocks(benchmark::State& state) {
  const auto frames = static_cast<unsigned int>(state.range(0));
  AudioBuffer<float> input(kChannels, frames, kRate);
  AudioBuffer<float> output(kChannels, frames, kRate);
  fillNoise(input);
  AudioBus in(input);
  AudioBus out(output);
  auto node = makeNode<Node>();
  // Fill the delay lines first so every read finds real audio.
  for (unsigned int done = 0; done < kRate; done += frames) node->process(in, out);
  for (auto _ : state) {
    node->process(in, out);
    benchmark::DoNotOptimize(output.getChannel(0));
    benchmark::ClobberMemory();
  }
  setCounters(state, frames);
}

void hostFloor(benchmark::State& state) {
  const auto frames = static_cast<unsigned int>(state.range(0));
  AudioBuffer<float> input(kChannels, frames, kRate);
  AudioBuffer<float> output(kChannels, frames, kRate);
  fillNoise(input);
  AudioBus in(input);
  AudioBus out(output);
  for (auto _ : state) {
    out.copyFrom(in);
    for (unsigned int f = 0; f < frames; ++f) {
      for (unsigned int c = 0; c < kChannels; ++c) output.setSample(c, f, input.getSample(c, f));
    }
    benchmark::DoNotOptimize(output.getChannel(0));
    benchmark::ClobberMemory();
  }
  setCounters(state, frames);
}

#define QUORVEL_BLOCK_SIZES Arg(32)->Arg(256)->Arg(2048)

BENCHMARK(hostFloor)->Name("HostFloor")->QUORVEL_BLOCK_SIZES;
BENCHMARK(processBlocks<DelayNode>)->Name("Delay")->QUORVEL_BLOCK_SIZES;
BENCHMARK(processBlocks<PingPongDelayNode>)->Name("PingPongDelay")->QUORVEL_BLOCK_SIZES;
BENCHMARK(processBlocks<ChorusNode>)->Name("Chorus")->QUORVEL_BLOCK_SIZES;
BENCHMARK(processBlocks<FlangerNode>)->Name("Flanger")->QUORVEL_BLOCK_SIZES;
BENCHMARK(processBlocks<VibratoNode>)->Name("Vibrato")->QUORVEL_BLOCK_SIZES;

}  // namespace
}  // namespace bench
