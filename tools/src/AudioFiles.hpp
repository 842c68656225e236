#pragma once

#include <sndfile.h>

#include <cstdint>
#include <memory>
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
// --type when given, else the file name's extension (wav, flac, aiff/aif,
// aifc, ogg, au/snd, raw), the encoding the --encoding option (float, double,
// pcm8, pcm16, pcm24, pcm32; ulaw and alaw for AU and raw too). Without
// --encoding an output in the input's container keeps the input's encoding;
// otherwise the container's default applies (float; pcm24 for FLAC; raw takes
// the input's integer or float encoding, else float).
class OutputFormat {
 public:
  // Resolves `path`, `encoding` and `type` (which overrides the extension; it
  // is needed for "-", standard output) for an input of SF_FORMAT_*
  // `inputFormat` (0 when not known yet); throws CliError(kExitUsage) for an
  // unknown or missing type or an encoding the container cannot hold.
  static OutputFormat resolve(const std::string& path, const std::string& encoding,
                              int inputFormat = 0, const std::string& type = "");

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

// Where the audio comes from and, for headerless raw samples, what they are.
// The fields follow --input-type, --rate, --channels and --input-encoding.
struct InputSource {
  std::string path;  // "-" is standard input
  // "" tells the type by content (or raw for a .raw name); else one of wav,
  // flac, aiff/aif, aifc, ogg, au/snd, raw.
  std::string type;
  unsigned int rate = 0;      // raw only
  unsigned int channels = 0;  // raw only
  // raw only: pcm8..pcm32 (signed, little-endian), float, double, ulaw, alaw.
  std::string encoding;

  // True when the input is read as raw samples (by type or by a .raw name).
  bool isRaw() const;
  // Throws CliError(kExitUsage) for raw input missing its rate, channels or
  // encoding, or for those given with an input that has a header. With an
  // empty path only what the type alone shows is checked.
  void validate() const;
};

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
  ~AudioFileReader();
  AudioFileReader(const AudioFileReader&) = delete;
  AudioFileReader& operator=(const AudioFileReader&) = delete;

  // The path given at construction.
  const std::string& path() const noexcept { return path_; }
  // Sample rate in Hz.
  unsigned int sampleRate() const noexcept { return static_cast<unsigned int>(info_.samplerate); }
  // Number of interleaved channels.
  unsigned int channels() const noexcept { return static_cast<unsigned int>(info_.channels); }
  // Length in frames as the file declares it; 0 when the length is not known
  // (see lengthKnown()).
  std::uint64_t frames() const noexcept { return lengthKnown_ ? framesDeclared_ : 0; }
  // False for a stream whose header gives no usable length (a WAV from a pipe,
  // raw samples on standard input): read() then runs to the real end.
  bool lengthKnown() const noexcept { return lengthKnown_; }
  // The libsndfile SF_FORMAT_* value (container | encoding) of the file.
  int format() const noexcept { return info_.format; }
  // The file's text tags (title, artist, ...), in SF_STR_* order.
  const AudioTags& tags() const noexcept { return tags_; }
  // Why the file was read shorter than its header says; empty when it was not.
  const std::string& warning() const noexcept { return warning_; }

  // Reads up to `count` frames into `interleaved` (count * channels() floats);
  // returns how many were read, 0 at the end. Throws on a decoding error or
  // when a file of known length ends before it.
  std::uint64_t read(float* interleaved, std::uint64_t count);

 private:
  void openInput(const InputSource& origin);
  void noteShortData();

  std::string path_;
  SF_INFO info_{};
  std::uint64_t framesDeclared_ = 0;
  bool lengthKnown_ = true;
  SNDFILE* file_ = nullptr;
  std::uint64_t framesRead_ = 0;
  AudioTags tags_;
  std::string warning_;
};

// Writes interleaved float frames to a temporary file beside the output and
// renames it over the output only in commit(). Destroying an uncommitted
// writer deletes the temporary file, so a failure never leaves a partial
// output or clobbers an existing one. A symbolic link is written through: its
// final target is replaced and keeps its permission bits and owner. Standard
// output ("-"), a FIFO or a character device is written directly, without a
// temporary. Throws CliError(kExitIo) naming the file.
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

  // Appends `count` frames of `interleaved` samples (count * channels floats);
  // any number at a time, large blocks being cheapest.
  void write(const float* interleaved, std::uint64_t count);
  // Finishes the file and moves it to the output path.
  void commit();

  // Samples beyond [-1, 1] written so far; always 0 for float and Vorbis output.
  std::uint64_t clippedSamples() const noexcept { return clipped_; }
  // The path of the temporary file while it exists; empty for direct output.
  const std::string& temporaryPath() const noexcept { return temporaryPath_; }
  // True when the output is written in place (standard output, FIFO, device).
  bool isDirect() const noexcept { return direct_; }
  // True for a path written in place rather than through a temporary file.
  static bool writesDirectly(const std::string& path);

 private:
  void discard() noexcept;
  void writePcm(const float* interleaved, std::uint64_t count);
  static double ditherOffset(std::uint64_t& state) noexcept;

  struct ShiftedFile;
  std::string writeFailure() const;

  std::string path_;
  std::string targetPath_;  // path_ with symbolic links resolved
  std::string temporaryPath_;
  int cleanupSlot_ = -1;
  bool direct_ = false;
  int patchDescriptor_ = -1;  // standard output redirected to a regular file
  OutputFormat format_;
  unsigned int channels_;
  Quantisation quantisation_;
  std::uint64_t random_;
  std::vector<int> integers_;
  SNDFILE* file_ = nullptr;
  std::unique_ptr<ShiftedFile> shifted_;  // a float WAV's temporary, see ShiftedFile
  std::uint64_t clipped_ = 0;
};

// Removes the temporary output files when the process is stopped by SIGINT or
// SIGTERM, so an interrupted run leaves nothing behind. Up to kSlots files at
// once, tracked and untracked from any thread.
class InterruptCleanup {
 public:
  static constexpr int kSlots = 64;

  // Installs the signal handlers; safe to call more than once.
  static void install();
  // Marks `path` as a temporary file to delete if a signal arrives; returns
  // its slot, or -1 when all slots are taken or the path is too long.
  static int track(const std::string& path);
  // Forgets the file in `slot` (after it was renamed or removed); -1 is ignored.
  static void untrack(int slot);
};

}  // namespace quorvelfx
