#pragma once

#include <cstdint>
#include <memory>
#include <sndfile.hh>
#include <string>
#include <vector>

#include "AtomicOutput.hpp"
#include "AudioFormats.hpp"
#include "Dither.hpp"
#include "WavHeaders.hpp"

namespace quorvelfx {

// Writes interleaved float frames to an output through AtomicOutput: a
// temporary beside it renamed over it only in commit(), or in place for
// standard output ("-"), a FIFO or a character device. Destroying an
// uncommitted writer removes the temporary. Throws CliError(kExitIo) naming the file.
class AudioFileWriter {
 public:
  // Creates the output for `path` in `format` at `sampleRate` Hz with
  // `channels` channels, carrying those of `tags` the container can hold.
  AudioFileWriter(const std::string& path, const OutputFormat& format, unsigned int sampleRate,
                  unsigned int channels, const AudioTags& tags = {},
                  const Quantisation& quantisation = {});
  AudioFileWriter(const AudioFileWriter&) = delete;
  AudioFileWriter& operator=(const AudioFileWriter&) = delete;

  // Appends `count` frames of `interleaved` samples (count * channels floats);
  // any number at a time, large blocks being cheapest.
  void write(const float* interleaved, std::uint64_t count);
  // Finishes the file and moves it to the output path.
  void commit();

  // Samples beyond [-1, 1] written so far; always 0 for float and Vorbis output.
  std::uint64_t clippedSamples() const noexcept { return clipped_; }
  // The path of the temporary file while it exists; empty for direct output.
  const std::string& temporaryPath() const noexcept { return output_.temporaryPath(); }
  // True when the output is written in place (standard output, FIFO, device).
  bool isDirect() const noexcept { return output_.isDirect(); }
  // True for a path written in place rather than through a temporary file.
  static bool writesDirectly(const std::string& path) { return AtomicOutput::writesDirectly(path); }

 private:
  static const OutputFormat& checked(const std::string& path, const OutputFormat& format,
                                     unsigned int sampleRate, unsigned int channels);
  void open(unsigned int sampleRate, const AudioTags& tags);
  std::string writeFailure();

  std::string path_;
  OutputFormat format_;
  unsigned int channels_;
  PcmQuantiser quantiser_;
  std::vector<int> integers_;
  // Destroyed in reverse: libsndfile finishes the file, then the float WAV's
  // cbSize is no longer needed, then the descriptor closes.
  AtomicOutput output_;
  std::unique_ptr<FloatWavFile> floatWav_;
  SndfileHandle file_;
  std::uint64_t clipped_ = 0;
};

}  // namespace quorvelfx
