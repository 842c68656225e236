#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Audio files in and out: the output's container and encoding, reading any
// file libsndfile knows, and writing through a temporary file that a failure
// or an interrupt never leaves behind.
namespace quorvelfx {

// The text tags of a file (SF_STR_* id, value), as libsndfile reads and writes them.
using AudioTags = std::vector<std::pair<int, std::string>>;

// The container and sample encoding of an output file: the container follows
// the file name's extension (.wav .flac .aiff/.aif .ogg), the encoding the
// --encoding option (float, double, pcm8, pcm16, pcm24, pcm32). Without
// --encoding an output in the input's container keeps the input's encoding;
// otherwise the container's default applies (float; pcm24 for FLAC).
class OutputFormat {
 public:
  // Resolves `path` and `encoding` for an input of SF_FORMAT_* `inputFormat`
  // (0 when not known yet); throws CliError(kExitUsage) for an unknown
  // extension or an encoding the container cannot hold.
  static OutputFormat resolve(const std::string& path, const std::string& encoding,
                              int inputFormat = 0);

  // The libsndfile SF_FORMAT_* value (container | encoding).
  int sndfileFormat() const noexcept { return format_; }
  // True for integer PCM output, where samples beyond [-1, 1] are clipped.
  bool isPcm() const noexcept { return bits_ > 0; }
  // Bits per sample of integer PCM output; 0 for float and Vorbis.
  int pcmBits() const noexcept { return bits_; }
  // A short human-readable name such as "WAV 32-bit float".
  const std::string& name() const noexcept { return name_; }

 private:
  OutputFormat(int format, int bits, std::string name);

  int format_;
  int bits_;
  std::string name_;
};

// How float samples become integers for PCM output: rounded to the nearest
// step, with TPDF dither (on by default) for outputs narrower than float.
struct Quantisation {
  static constexpr std::uint64_t kDefaultSeed = 1;

  bool dither = true;
  // Seeds the dither's random sequence, so the same run gives the same file.
  std::uint64_t seed = kDefaultSeed;
};

// Reads an audio file of any format libsndfile knows, as interleaved floats
// in [-1, 1] for PCM. Throws CliError(kExitIo) naming the file on failure.
class AudioFileReader {
 public:
  // Opens `path`; fails for a missing, empty or non-audio file. A data chunk
  // cut short is read as far as it goes (see warning()).
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
  // The libsndfile SF_FORMAT_* value (container | encoding) of the file.
  int format() const noexcept { return info_.format; }
  // The file's text tags (title, artist, ...), in SF_STR_* order.
  const AudioTags& tags() const noexcept { return tags_; }
  // Why the file was read shorter than its header says; empty when it was not.
  const std::string& warning() const noexcept { return warning_; }

  // Reads up to `count` frames into `interleaved` (count * channels() floats);
  // returns how many were read, 0 at the end. Throws on a decoding error or
  // when the file ends before its declared length.
  std::uint64_t read(float* interleaved, std::uint64_t count);

 private:
  void noteShortData();

  std::string path_;
  SF_INFO info_{};
  SNDFILE* file_ = nullptr;
  std::uint64_t framesRead_ = 0;
  AudioTags tags_;
  std::string warning_;
};

// Writes interleaved float frames to a temporary file beside the output and
// renames it over the output only in commit(). Destroying an uncommitted
// writer deletes the temporary file, so a failure never leaves a partial
// output or clobbers an existing one. Throws CliError(kExitIo) naming the file.
class AudioFileWriter {
 public:
  // Creates the temporary file for `path` in `format` at `sampleRate` Hz with
  // `channels` channels, carrying those of `tags` the container can hold.
  AudioFileWriter(const std::string& path, const OutputFormat& format, unsigned int sampleRate,
                  unsigned int channels, const AudioTags& tags = {},
                  const Quantisation& quantisation = {});
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
  void writePcm(const float* interleaved, std::uint64_t count);
  double ditherOffset() noexcept;

  std::string path_;
  std::string temporaryPath_;
  OutputFormat format_;
  unsigned int channels_;
  Quantisation quantisation_;
  std::uint64_t random_;
  std::vector<int> integers_;
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
