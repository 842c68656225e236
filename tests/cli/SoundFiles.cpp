#include "SoundFiles.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

void SoundFiles::write(const std::string& path, const Sound& sound, int format) {
  SF_INFO info{};
  info.samplerate = static_cast<int>(sound.sampleRate);
  info.channels = static_cast<int>(sound.channels);
  info.format = format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << path << ": " << sf_strerror(nullptr);
  sf_writef_float(file, sound.samples.data(), static_cast<sf_count_t>(sound.frames()));
  sf_close(file);
}

Sound SoundFiles::read(const std::string& path) {
  Sound sound;
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  EXPECT_NE(file, nullptr) << path << ": " << sf_strerror(nullptr);
  if (file == nullptr) return sound;
  sound.sampleRate = static_cast<unsigned int>(info.samplerate);
  sound.channels = static_cast<unsigned int>(info.channels);
  sound.format = info.format;
  sound.samples.resize(static_cast<std::size_t>(info.frames) * sound.channels);
  sf_readf_float(file, sound.samples.data(), info.frames);
  sf_close(file);
  return sound;
}

Sound SoundFiles::testSignal(unsigned int channels, unsigned int sampleRate, double seconds) {
  Sound sound;
  sound.sampleRate = sampleRate;
  sound.channels = channels;
  const std::size_t frames = static_cast<std::size_t>(seconds * sampleRate);
  sound.samples.resize(frames * channels);
  std::uint32_t seed = 12345;
  for (std::size_t f = 0; f < frames; ++f) {
    const double t = static_cast<double>(f) / sampleRate;
    const double burst = std::exp(-std::fmod(t, 0.25) * 30.0);
    for (unsigned int c = 0; c < channels; ++c) {
      seed = seed * 1664525u + 1013904223u;
      const double noise = (static_cast<double>(seed >> 8) / 8388608.0 - 1.0) * burst;
      const double tone = std::sin(2.0 * M_PI * (330.0 + 110.0 * c) * t);
      sound.samples[f * channels + c] = static_cast<float>(0.3 * noise + 0.3 * tone);
    }
  }
  return sound;
}
