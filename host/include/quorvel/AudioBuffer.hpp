#pragma once

#include <cstddef>
#include <vector>

namespace quorvel {

// A block of planar audio: numberOfChannels channels of numberOfFrames
// samples each, at a sample rate. Either owns zero-filled storage or wraps
// channel arrays that the caller owns.
template <typename T>
class AudioBuffer {
 public:
  // Owns numberOfChannels x numberOfFrames zero samples at `sampleRate` Hz.
  AudioBuffer(unsigned int numberOfChannels, unsigned int numberOfFrames, unsigned int sampleRate)
      : storage_(static_cast<std::size_t>(numberOfChannels) * numberOfFrames),
        channels_(numberOfChannels),
        numberOfFrames_(numberOfFrames),
        capacity_(numberOfFrames),
        sampleRate_(sampleRate) {
    for (unsigned int c = 0; c < numberOfChannels; ++c) {
      channels_[c] = storage_.data() + static_cast<std::size_t>(c) * numberOfFrames;
    }
  }

  // Wraps `numberOfChannels` caller-owned arrays of at least `numberOfFrames`
  // samples each, without copying; they must outlive the buffer.
  AudioBuffer(T* const* channels, unsigned int numberOfChannels, unsigned int numberOfFrames,
              unsigned int sampleRate)
      : channels_(channels, channels + numberOfChannels),
        numberOfFrames_(numberOfFrames),
        capacity_(numberOfFrames),
        sampleRate_(sampleRate) {}

  AudioBuffer(const AudioBuffer&) = delete;
  AudioBuffer& operator=(const AudioBuffer&) = delete;
  AudioBuffer(AudioBuffer&&) noexcept = default;
  AudioBuffer& operator=(AudioBuffer&&) noexcept = default;

  unsigned int getNumberOfChannels() const noexcept {
    return static_cast<unsigned int>(channels_.size());
  }
  unsigned int getNumberOfFrames() const noexcept { return numberOfFrames_; }
  // Sample rate in Hz.
  unsigned int getSampleRate() const noexcept { return sampleRate_; }

  // The sample of `channel` at `frame`; both must be in range.
  T getSample(unsigned int channel, unsigned int frame) const noexcept {
    return channels_[channel][frame];
  }
  // Stores `value` at `channel`, `frame`; both must be in range.
  void setSample(unsigned int channel, unsigned int frame, T value) noexcept {
    channels_[channel][frame] = value;
  }
  // The samples of `channel`, getNumberOfFrames() of them; `channel` must be in range.
  T* getChannel(unsigned int channel) noexcept { return channels_[channel]; }
  const T* getChannel(unsigned int channel) const noexcept { return channels_[channel]; }

  // Shortens or restores the block length, at most to the length the buffer
  // was built with; longer requests are cut to that length.
  void setNumberOfFrames(unsigned int numberOfFrames) noexcept {
    numberOfFrames_ = numberOfFrames < capacity_ ? numberOfFrames : capacity_;
  }
  // Sets the sample rate in Hz.
  void setSampleRate(unsigned int sampleRate) noexcept { sampleRate_ = sampleRate; }

 private:
  std::vector<T> storage_;
  std::vector<T*> channels_;
  unsigned int numberOfFrames_;
  unsigned int capacity_;
  unsigned int sampleRate_;
};

}  // namespace quorvel
