// The literal per-sample models the nodes are checked against
// (tests/perf/ReferenceModels.hpp), on the signals and blocks of the node
// benchmarks, so that one run gives both costs. QUORVEL_VECTOR_TARGET names
// the instruction set the nodes' kernels run on (one of vectorTargets());
// every run reports the one in use as the context key vector_target and as
// the label of the literal benchmarks.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "BenchSupport.hpp"
#include "ReferenceModels.hpp"
#include "VectorTarget.hpp"
#include "quorvel/audio/VectorTargets.hpp"

namespace bench {
namespace {
template <typename Model>
Model makeModel() {
  if constexpr (std::is_same_v<Model, reference::PingPong>) {
    return Model{};
  } else {
    return Model(kChannels);
  }
}

template <typename Model>
void literalBlocks(benchmark::State& state) {
  const auto frames = static_cast<unsigned int>(state.range(0));
  AudioBuffer<float> input(kChannels, frames, kRate);
  AudioBuffer<float> output(kChannels, frames, kRate);
  fillNoise(input);
  Model model = makeModel<Model>();
  // Fill the delay lines first so every read finds real audio.
  for (unsigned int done = 0; done < kRate; done += frames) model.process(input, output);
  for (auto _ : state) {
    model.process(input, output);
    benchmark::DoNotOptimize(output.getChannel(0));
    benchmark::ClobberMemory();
  }
  setCounters(state, frames);
  state.SetLabel(quorvel::audio::activeVectorTarget());
}

#define QUORVEL_LITERAL_BLOCK_SIZES Arg(32)->Arg(256)->Arg(2048)

BENCHMARK(literalBlocks<reference::Delay>)->Name("Literal/Delay")->QUORVEL_LITERAL_BLOCK_SIZES;
BENCHMARK(literalBlocks<reference::PingPong>)
    ->Name("Literal/PingPongDelay")
    ->QUORVEL_LITERAL_BLOCK_SIZES;
BENCHMARK(literalBlocks<reference::Chorus>)->Name("Literal/Chorus")->QUORVEL_LITERAL_BLOCK_SIZES;
BENCHMARK(literalBlocks<reference::Flanger>)->Name("Literal/Flanger")->QUORVEL_LITERAL_BLOCK_SIZES;
BENCHMARK(literalBlocks<reference::Vibrato>)->Name("Literal/Vibrato")->QUORVEL_LITERAL_BLOCK_SIZES;

}  // namespace
}  // namespace bench
