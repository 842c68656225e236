#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>

namespace quorvelfx {

// Reads an audio file of any format libsndfile knows, as interleaved floats
// in [-1, 1] for PCM. Throws CliError(kExitIo) naming the file on failure.
class AudioFileReader {
 public:
  // Opens `path`; fails for a missing, empty, non-audio or truncated file.
  explicit AudioFileReader(const std::string& path);
  ~AudioFileReader();
  AudioFileReader(const AudioFileReader&) = delete;
  AudioFileReader& operator=(const AudioFileReader&) = delete;

  // The path given at construction.
  const std::string& path() const noexcept { return path_; }
  // Sample rate in Hz.
  unsigned int sampleRate() const noexcept { return static_cast<unsigned int>(info_.samplerate); }
  // Number of interleaved channels.
  unsigned int channels() const noexcept { return static_cast<unsigned int>(info_.channels); }
  // Length in frames as the file declares it.
  std::uint64_t frames() const noexcept { return static_cast<std::uint64_t>(info_.frames); }

  // Reads up to `count` frames into `interleaved` (count * channels() floats);
  // returns how many were read, 0 at the end. Throws on a decoding error or
  // when the file ends before its declared length.
  std::uint64_t read(float* interleaved, std::uint64_t count);

 private:
  void rejectTruncatedData();

  std::string path_;
  SF_INFO info_{};
  SNDFILE* file_ = nullptr;
  std::uint64_t framesRead_ = 0;
};

}  // namespace quorvelfx
