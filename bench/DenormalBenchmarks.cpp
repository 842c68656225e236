// The cost of the decay after the music stops. Each iteration first plays
// 10 s of loud noise into a fresh node (untimed), then times 10 more seconds
// of either the same noise ("Loud") or silence ("Silence"). In the silence the
// feedback paths decay into subnormal floats; the two times should be close.
//
// The delays run a short, strongly fed-back echo (1 ms, feedback 0.9) so the
// tail reaches the subnormal range within the first second and stays there:
// with a gain of 0.9 the smallest subnormals round back to themselves and
// never reach zero. The flanger's own fixed feedback (0.6) does the same.

#include <vector>

#include "BenchSupport.hpp"

namespace bench {
namespace {

constexpr unsigned int kBlock = 256;
constexpr unsigned int kSeconds = 10;
constexpr unsigned int kBlocks = kSeconds * kRate / kBlock;

template <typename Node>
void configure(Node& node) {
  if constexpr (std::is_same_v<Node, DelayNode> || std::is_same_v<Node, PingPongDelayNode>) {
    node.setDelayMs(1);
    node.setFeedbackLevel(0.9f);
  }
}

template <typename Node, bool kSilence>
void decay(benchmark::State& state) {
  AudioBuffer<float> loud(kChannels, kBlock, kRate);
  AudioBuffer<float> quiet(kChannels, kBlock, kRate);
  AudioBuffer<float> output(kChannels, kBlock, kRate);
  AudioBus loudBus(loud);
  AudioBus quietBus(quiet);
  AudioBus out(output);
  fillNoise(loud);
  for (auto _ : state) {
    state.PauseTiming();
    auto node = makeNode<Node>();
    configure(*node);
    for (unsigned int b = 0; b < kBlocks; ++b) node->process(loudBus, out);
    state.ResumeTiming();
    AudioBus& timed = kSilence ? quietBus : loudBus;
    for (unsigned int b = 0; b < kBlocks; ++b) node->process(timed, out);
    benchmark::DoNotOptimize(output.getChannel(0));
    benchmark::ClobberMemory();
  }
  setCounters(state, static_cast<double>(kBlocks) * kBlock);
}

BENCHMARK(decay<DelayNode, false>)->Name("Denormal/Delay/Loud")->Unit(benchmark::kMillisecond);
BENCHMARK(decay<DelayNode, true>)->Name("Denormal/Delay/Silence")->Unit(benchmark::kMillisecond);
BENCHMARK(decay<PingPongDelayNode, false>)
    ->Name("Denormal/PingPongDelay/Loud")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(decay<PingPongDelayNode, true>)
    ->Name("Denormal/PingPongDelay/Silence")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(decay<FlangerNode, false>)->Name("Denormal/Flanger/Loud")->Unit(benchmark::kMillisecond);
BENCHMARK(decay<FlangerNode, true>)
    ->Name("Denormal/Flanger/Silence")
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bench
