#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "EffectChain.hpp"
#include "ProgressBar.hpp"
#include "RenderStats.hpp"

namespace quorvelfx {

// Drives a prepared EffectChain block by block: pulls interleaved input,
// appends the silent tail, pushes interleaved output, and measures it.
class ChainRenderer {
 public:
  // Fills up to `frames` interleaved frames; returns how many, 0 at the end.
  using Reader = std::function<std::uint64_t(float* interleaved, std::uint64_t frames)>;
  // Takes `frames` interleaved output frames.
  using Writer = std::function<void(const float* interleaved, std::uint64_t frames)>;

  // Renders through `chain`, which must be prepared for `channels` channels
  // and blocks of `blockFrames` frames.
  ChainRenderer(EffectChain& chain, unsigned int channels, unsigned int blockFrames);

  // Processes `inputFrames` frames from `read` (fewer if it ends sooner)
  // followed by `tailFrames` frames of silence, and sends every output block
  // to `write`, reporting progress to `progress`.
  RenderStats run(const Reader& read, std::uint64_t inputFrames, std::uint64_t tailFrames,
                  const Writer& write, ProgressBar& progress);

 private:
  EffectChain& chain_;
  unsigned int channels_;
  unsigned int blockFrames_;
  std::vector<float> interleaved_;
};

}  // namespace quorvelfx
