#pragma once

#include <cstdint>
#include <sndfile.hh>
#include <string>

#include "AudioFormats.hpp"

namespace quorvelfx {

// Reads an audio file of any format libsndfile knows, as interleaved floats
// in [-1, 1] for PCM. Throws CliError(kExitIo) naming the file on failure.
class AudioFileReader {
 public:
  // Opens `path`; fails for a missing, empty or non-audio file. A data chunk
  // cut short is read as far as it goes (see warning()).
  explicit AudioFileReader(const std::string& path);
  // Opens the input `origin` names (validated first): a file, a FIFO or standard
  // input, as raw samples or by its header.
  explicit AudioFileReader(const InputSource& origin);
  AudioFileReader(const AudioFileReader&) = delete;
  AudioFileReader& operator=(const AudioFileReader&) = delete;

  // The path given at construction.
  const std::string& path() const noexcept { return path_; }
  // Sample rate in Hz.
  unsigned int sampleRate() const noexcept { return static_cast<unsigned int>(file_.samplerate()); }
  // Number of interleaved channels.
  unsigned int channels() const noexcept { return static_cast<unsigned int>(file_.channels()); }
  // Length in frames as the file declares it; 0 when the length is not known
  // (see lengthKnown()).
  std::uint64_t frames() const noexcept { return lengthKnown_ ? framesDeclared_ : 0; }
  // False for a stream whose header gives no usable length (a WAV from a pipe,
  // raw samples on standard input): read() then runs to the real end.
  bool lengthKnown() const noexcept { return lengthKnown_; }
  // The libsndfile SF_FORMAT_* value (container | encoding) of the file.
  int format() const noexcept { return file_.format(); }
  // The file's text tags (title, artist, ...), in SF_STR_* order.
  const AudioTags& tags() const noexcept { return tags_; }
  // Why the file was read shorter than its header says; empty when it was not.
  const std::string& warning() const noexcept { return warning_; }

  // Reads up to `count` frames into `interleaved` (count * channels() floats);
  // returns how many were read, 0 at the end. Throws on a decoding error or
  // when a file of known length ends before it.
  std::uint64_t read(float* interleaved, std::uint64_t count);

 private:
  // A FIFO or device opened here; closed after libsndfile is done with it.
  struct OwnedDescriptor {
    int value = -1;
    OwnedDescriptor() = default;
    OwnedDescriptor(const OwnedDescriptor&) = delete;
    OwnedDescriptor& operator=(const OwnedDescriptor&) = delete;
    ~OwnedDescriptor();
  };

  void openInput(const InputSource& origin);
  void noteShortData();
  std::string where() const;

  std::string path_;
  OwnedDescriptor stream_;
  SndfileHandle file_;  // declared after stream_, so closed before it
  std::uint64_t framesDeclared_ = 0;
  bool lengthKnown_ = true;
  std::uint64_t framesRead_ = 0;
  AudioTags tags_;
  std::string warning_;
};

}  // namespace quorvelfx
