// The DSP core timed without Python: what quorvel_audioeffects does for one
// call (block by block, 8192 frames: copy the input into the output, run the
// effect over it there), on planar float32 data read from a raw file.
//   core_bench EFFECT RAW_FILE CHANNELS FRAMES RATE REPEATS [OUT_RAW_FILE]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <quorvel/audio/Effect.hpp>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 7) {
    std::fprintf(stderr, "usage: %s EFFECT RAW CHANNELS FRAMES RATE REPEATS [OUT]\n", argv[0]);
    return 2;
  }
  const unsigned int channels = static_cast<unsigned int>(std::atoi(argv[3]));
  const std::size_t frames = std::strtoull(argv[4], nullptr, 10);
  const unsigned int rate = static_cast<unsigned int>(std::atoi(argv[5]));
  const int repeats = std::atoi(argv[6]);
  std::vector<float> input(channels * frames);
  std::ifstream file(argv[2], std::ios::binary);
  file.read(reinterpret_cast<char*>(input.data()),
            static_cast<std::streamsize>(input.size() * sizeof(float)));
  if (!file) {
    std::fprintf(stderr, "cannot read %s\n", argv[2]);
    return 1;
  }
  std::vector<float> output(input.size());
  const auto effect = quorvel::audio::makeEffect(argv[1], 2);
  if (!effect) return 1;
  double best = 1e300;
  constexpr std::size_t kBlock = 8192;
  std::vector<float*> rows(channels);
  for (int r = 0; r < repeats; ++r) {
    const auto start = std::chrono::steady_clock::now();
    effect->reset();
    effect->prepare(rate, channels);
    for (std::size_t at = 0; at < frames; at += kBlock) {
      const auto count = static_cast<unsigned int>(std::min(kBlock, frames - at));
      for (unsigned int c = 0; c < channels; ++c) {
        rows[c] = output.data() + c * frames + at;
        std::memcpy(rows[c], input.data() + c * frames + at, count * sizeof(float));
      }
      effect->process(rows.data(), rows.data(), channels, count);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    best = std::min(best, seconds);
  }
  if (argc > 7) {
    std::ofstream out(argv[7], std::ios::binary);
    out.write(reinterpret_cast<const char*>(output.data()),
              static_cast<std::streamsize>(output.size() * sizeof(float)));
  }
  std::printf("%.6f\n", best);
  return 0;
}
