#pragma once

#include <string>

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

}  // namespace quorvelfx
