#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>

// Audio files in and out: the output's container and encoding, reading any
// file libsndfile knows, and writing through a temporary file that a failure
// or an interrupt never leaves behind.
namespace quorvelfx {

// The container and sample encoding of an output file: the container follows
// the file name's extension (.wav .flac .aiff/.aif .ogg), the encoding the
// --encoding option (float, pcm16, pcm24; empty for the container's default).
class OutputFormat {
 public:
  // Resolves `path` and `encoding`; throws CliError(kExitUsage) for an unknown
  // extension or an encoding the container cannot hold.
  static OutputFormat resolve(const std::string& path, const std::string& encoding);

  // The libsndfile SF_FORMAT_* value (container | encoding).
  int sndfileFormat() const noexcept { return format_; }
  // True for integer PCM output, where samples beyond [-1, 1] are clipped.
  bool isPcm() const noexcept { return pcm_; }
  // A short human-readable name such as "WAV 32-bit float".
  const std::string& name() const noexcept { return name_; }

 private:
  OutputFormat(int format, bool pcm, std::string name);

  int format_;
  bool pcm_;
  std::string name_;
};

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

// Removes the temporary output file when the process is stopped by SIGINT or
// SIGTERM, so an interrupted run leaves nothing behind. One file at a time.
class InterruptCleanup {
 public:
  // Installs the signal handlers; safe to call more than once.
  static void install();
  // Marks `path` as the temporary file to delete if a signal arrives.
  static void track(const std::string& path);
  // Forgets the tracked file (after it was renamed or removed).
  static void untrack();
};

}  // namespace quorvelfx
