#include "quorvel/AudioBus.hpp"

#include <algorithm>
#include <cstring>

#include "quorvel/AudioBusFormat.hpp"

namespace quorvel {

void AudioBus::copyFrom(const AudioBus& other) noexcept {
  AudioBuffer<float>& destination = *buffer_;
  const AudioBuffer<float>& source = *other.buffer_;
  if (&destination == &source) return;

  const unsigned int channels =
      std::min(destination.getNumberOfChannels(), source.getNumberOfChannels());
  const unsigned int frames = std::min(destination.getNumberOfFrames(), source.getNumberOfFrames());
  const std::size_t tail = destination.getNumberOfFrames() - frames;
  for (unsigned int c = 0; c < destination.getNumberOfChannels(); ++c) {
    float* out = destination.getChannel(c);
    if (c < channels) {
      // memmove: the two buffers may wrap the same arrays (in-place processing).
      if (frames > 0) std::memmove(out, source.getChannel(c), frames * sizeof(float));
      std::fill(out + frames, out + frames + tail, 0.0f);
    } else {
      std::fill(out, out + destination.getNumberOfFrames(), 0.0f);
    }
  }
}

bool AudioBusFormat::matchBusFormats(const AudioBusFormat& inputFormat,
                                     const AudioBusFormat& outputFormat) noexcept {
  return inputFormat.sampleRate == outputFormat.sampleRate &&
         inputFormat.numberOfChannels == outputFormat.numberOfChannels &&
         inputFormat.numberOfFrames == outputFormat.numberOfFrames;
}

}  // namespace quorvel
