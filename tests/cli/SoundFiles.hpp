#pragma once

#include <sndfile.h>

#include <string>
#include <vector>

// Interleaved audio in memory.
struct Sound {
  unsigned int sampleRate = 0;
  unsigned int channels = 0;
  std::vector<float> samples;
  int format = 0;  // SF_FORMAT_* as read from a file

  std::size_t frames() const { return channels ? samples.size() / channels : 0; }
};

// Reads, writes and synthesises test audio with libsndfile.
class SoundFiles {
 public:
  // Writes `sound` to `path` in `format` (32-bit float WAV unless given).
  static void write(const std::string& path, const Sound& sound,
                    int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  // Reads all of `path`; fails the calling test when it cannot be opened.
  static Sound read(const std::string& path);
  // A deterministic test signal: decaying noise bursts plus a different sine
  // per channel, peak about 0.6.
  static Sound testSignal(unsigned int channels, unsigned int sampleRate, double seconds);
};
