#pragma once

#include "quorvel/AudioBuffer.hpp"
#include "quorvel/SDKExport.hpp"

namespace quorvel {

// One bus of an audio node: a view of the audio buffer it carries.
class QUORVEL_SDK_API AudioBus {
 public:
  // A bus carrying `buffer`, which must outlive the bus.
  explicit AudioBus(AudioBuffer<float>& buffer) noexcept : buffer_(&buffer) {}

  // The buffer the bus carries.
  AudioBuffer<float>& getBuffer() const noexcept { return *buffer_; }

  // Copies `other`'s samples into this bus's buffer over the channels and
  // frames both have; this buffer's remaining channels and frames are
  // cleared. Never writes outside this buffer.
  void copyFrom(const AudioBus& other) noexcept;

 private:
  AudioBuffer<float>* buffer_;
};

}  // namespace quorvel
