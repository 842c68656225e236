#pragma once

#include <string>
#include <utility>
#include <vector>

// The words the options use for containers and sample encodings (--type,
// --encoding, --input-type, --input-encoding, file extensions) and the
// libsndfile formats they stand for.
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
  // The SF_FORMAT_* value raw samples are read as (little-endian); call after validate().
  int rawFormat() const;
  // The container type (SF_FORMAT_WAV, ...) --input-type names; 0 when it names none.
  int expectedContainer() const;
};

// The container of a SF_FORMAT_* value as the options see it (WAVEX is WAV).
int containerOf(int format) noexcept;
// The container's name in messages ("WAV", "FLAC", ...); "audio" for one the options do not name.
const char* describeContainer(int format) noexcept;

}  // namespace quorvelfx
