#pragma once

#include "quorvel/SDKExport.hpp"

namespace quorvel {

// The format of an audio bus: sample rate, channel count and block length.
struct QUORVEL_SDK_API AudioBusFormat {
  // A format of `sampleRate` Hz, `numberOfChannels` channels and blocks of
  // `numberOfFrames` frames.
  AudioBusFormat(unsigned int sampleRate = 0, unsigned int numberOfChannels = 0,
                 unsigned int numberOfFrames = 0) noexcept
      : sampleRate(sampleRate), numberOfChannels(numberOfChannels), numberOfFrames(numberOfFrames) {}

  // True when the two formats agree in sample rate, channel count and frame count.
  static bool matchBusFormats(const AudioBusFormat& inputFormat,
                              const AudioBusFormat& outputFormat) noexcept;

  unsigned int sampleRate;
  unsigned int numberOfChannels;
  unsigned int numberOfFrames;
};

}  // namespace quorvel
