#include "ChainRenderer.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace quorvelfx {

ChainRenderer::ChainRenderer(EffectChain& chain, unsigned int channels, unsigned int blockFrames)
    : chain_(chain),
      channels_(channels),
      blockFrames_(blockFrames),
      interleaved_(static_cast<std::size_t>(channels) * blockFrames) {}

RenderStats ChainRenderer::run(const Reader& read, std::uint64_t inputFrames,
                               std::uint64_t tailFrames, const Writer& write,
                               ProgressBar& progress) {
  using Clock = std::chrono::steady_clock;
  RenderStats stats;
  std::uint64_t inputLeft = inputFrames;
  std::uint64_t tailLeft = tailFrames;
  while (inputLeft + tailLeft > 0) {
    unsigned int frames = 0;
    std::fill(interleaved_.begin(), interleaved_.end(), 0.0f);
    if (inputLeft > 0) {
      const std::uint64_t want = std::min<std::uint64_t>(blockFrames_, inputLeft);
      const std::uint64_t got = read(interleaved_.data(), want);
      frames = static_cast<unsigned int>(got);
      inputLeft = got < want ? 0 : inputLeft - got;
    }
    if (frames < blockFrames_ && inputLeft == 0) {
      const std::uint64_t silence = std::min<std::uint64_t>(blockFrames_ - frames, tailLeft);
      frames += static_cast<unsigned int>(silence);
      tailLeft -= silence;
    }
    if (frames == 0) continue;

    quorvel::AudioBuffer<float>& in = chain_.input();
    for (unsigned int c = 0; c < channels_; ++c) {
      float* channel = in.getChannel(c);
      for (unsigned int f = 0; f < frames; ++f) channel[f] = interleaved_[f * channels_ + c];
    }
    const Clock::time_point start = Clock::now();
    const quorvel::AudioBuffer<float>& out = chain_.process(frames);
    stats.processingSeconds += std::chrono::duration<double>(Clock::now() - start).count();
    for (unsigned int c = 0; c < channels_; ++c) {
      const float* channel = out.getChannel(c);
      for (unsigned int f = 0; f < frames; ++f) {
        const float sample = channel[f];
        interleaved_[f * channels_ + c] = sample;
        stats.peak = std::max(stats.peak, std::fabs(sample));
        stats.sumOfSquares += static_cast<double>(sample) * sample;
      }
    }
    write(interleaved_.data(), frames);
    stats.frames += frames;
    stats.samples += static_cast<std::uint64_t>(frames) * channels_;
    progress.update(stats.frames);
  }
  progress.finish();
  return stats;
}

}  // namespace quorvelfx
