#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>

#include "OutputFormat.hpp"

namespace quorvelfx {

// Writes interleaved float frames to a temporary file beside the output and
// renames it over the output only in commit(). Destroying an uncommitted
// writer deletes the temporary file, so a failure never leaves a partial
// output or clobbers an existing one. Throws CliError(kExitIo) naming the file.
class AudioFileWriter {
 public:
  // Creates the temporary file for `path` in `format` at `sampleRate` Hz with `channels` channels.
  AudioFileWriter(const std::string& path, const OutputFormat& format, unsigned int sampleRate,
                  unsigned int channels);
  ~AudioFileWriter();
  AudioFileWriter(const AudioFileWriter&) = delete;
  AudioFileWriter& operator=(const AudioFileWriter&) = delete;

  // Appends `count` frames of `interleaved` samples (count * channels floats).
  void write(const float* interleaved, std::uint64_t count);
  // Finishes the file and moves it to the output path.
  void commit();

  // Samples beyond [-1, 1] written so far; always 0 for float and Vorbis output.
  std::uint64_t clippedSamples() const noexcept { return clipped_; }
  // The path of the temporary file while it exists.
  const std::string& temporaryPath() const noexcept { return temporaryPath_; }

 private:
  void discard() noexcept;

  std::string path_;
  std::string temporaryPath_;
  OutputFormat format_;
  unsigned int channels_;
  SNDFILE* file_ = nullptr;
  std::uint64_t clipped_ = 0;
};

}  // namespace quorvelfx
