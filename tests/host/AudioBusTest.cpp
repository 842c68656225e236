#include <gtest/gtest.h>

#include <vector>

#include "quorvel/AudioBus.hpp"
#include "quorvel/AudioBusFormat.hpp"

namespace {

using quorvel::AudioBuffer;
using quorvel::AudioBus;
using quorvel::AudioBusFormat;

constexpr float kCanary = -12345.0f;

// Caller-owned planar channels with a guard sample after each channel.
struct GuardedChannels {
  GuardedChannels(unsigned int channels, unsigned int frames, float fill)
      : data(channels, std::vector<float>(frames + 1, fill)) {
    for (auto& channel : data) {
      channel[frames] = kCanary;
      pointers.push_back(channel.data());
    }
  }
  std::vector<std::vector<float>> data;
  std::vector<float*> pointers;
};

TEST(AudioBuffer, OwnsZeroedStorageOrWrapsTheCallersArrays) {
  AudioBuffer<float> owned(2, 3, 48000);
  EXPECT_EQ(owned.getNumberOfChannels(), 2u);
  EXPECT_EQ(owned.getNumberOfFrames(), 3u);
  EXPECT_EQ(owned.getSampleRate(), 48000u);
  EXPECT_EQ(owned.getSample(1, 2), 0.0f);
  owned.setSample(1, 2, 0.5f);
  EXPECT_EQ(owned.getChannel(1)[2], 0.5f);

  GuardedChannels arrays(2, 4, 1.0f);
  AudioBuffer<float> wrapped(arrays.pointers.data(), 2, 4, 44100);
  wrapped.setSample(0, 3, 9.0f);
  EXPECT_EQ(arrays.data[0][3], 9.0f);  // no copy was made
  wrapped.setNumberOfFrames(2);
  EXPECT_EQ(wrapped.getNumberOfFrames(), 2u);
  wrapped.setNumberOfFrames(100);
  EXPECT_EQ(wrapped.getNumberOfFrames(), 4u);  // never beyond what it was built with
}

TEST(AudioBus, CopyFromFillsTheOverlapAndClearsTheRest) {
  AudioBuffer<float> source(1, 2, 48000);
  source.setSample(0, 0, 1.0f);
  source.setSample(0, 1, 2.0f);
  GuardedChannels arrays(2, 4, 7.0f);
  AudioBuffer<float> larger(arrays.pointers.data(), 2, 4, 48000);
  AudioBus(larger).copyFrom(AudioBus(source));
  EXPECT_EQ(arrays.data[0], (std::vector<float>{1.0f, 2.0f, 0.0f, 0.0f, kCanary}));
  EXPECT_EQ(arrays.data[1], (std::vector<float>{0.0f, 0.0f, 0.0f, 0.0f, kCanary}));
}

TEST(AudioBus, CopyFromNeverWritesOutsideASmallerDestination) {
  AudioBuffer<float> source(3, 8, 48000);
  for (unsigned int c = 0; c < 3; ++c)
    for (unsigned int f = 0; f < 8; ++f) source.setSample(c, f, 1.0f + c);
  GuardedChannels arrays(1, 2, 0.0f);
  AudioBuffer<float> smaller(arrays.pointers.data(), 1, 2, 48000);
  AudioBus(smaller).copyFrom(AudioBus(source));
  EXPECT_EQ(arrays.data[0], (std::vector<float>{1.0f, 1.0f, kCanary}));

  // A bus copied onto itself, or onto a second view of the same arrays, is unchanged.
  AudioBus bus(source);
  bus.copyFrom(bus);
  EXPECT_EQ(source.getSample(2, 7), 3.0f);
  AudioBuffer<float> alias(arrays.pointers.data(), 1, 2, 48000);
  AudioBus(alias).copyFrom(AudioBus(smaller));
  EXPECT_EQ(arrays.data[0], (std::vector<float>{1.0f, 1.0f, kCanary}));
}

TEST(AudioBusFormat, MatchesOnlyWhenAllThreeFieldsAgree) {
  const AudioBusFormat stereo(48000, 2, 256);
  EXPECT_TRUE(AudioBusFormat::matchBusFormats(stereo, AudioBusFormat(48000, 2, 256)));
  EXPECT_FALSE(AudioBusFormat::matchBusFormats(stereo, AudioBusFormat(44100, 2, 256)));
  EXPECT_FALSE(AudioBusFormat::matchBusFormats(stereo, AudioBusFormat(48000, 1, 256)));
  EXPECT_FALSE(AudioBusFormat::matchBusFormats(stereo, AudioBusFormat(48000, 2, 255)));
}

}  // namespace
