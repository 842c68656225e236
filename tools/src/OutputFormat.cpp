#include "OutputFormat.hpp"

#include <sndfile.h>

#include <utility>

#include "CliError.hpp"
#include "ValueParser.hpp"

namespace quorvelfx {
namespace {

std::string lowercaseExtension(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return ValueParser::lowercase(path.substr(dot + 1));
}

}  // namespace

OutputFormat::OutputFormat(int format, bool pcm, std::string name)
    : format_(format), pcm_(pcm), name_(std::move(name)) {}

OutputFormat OutputFormat::resolve(const std::string& path, const std::string& encoding) {
  if (encoding != "" && encoding != "float" && encoding != "pcm16" && encoding != "pcm24") {
    throw CliError(kExitUsage, "--encoding " + encoding + ": must be float, pcm16 or pcm24");
  }
  const std::string extension = lowercaseExtension(path);
  int container = 0;
  std::string containerName;
  std::string defaultEncoding = "float";
  if (extension == "wav") {
    container = SF_FORMAT_WAV;
    containerName = "WAV";
  } else if (extension == "aiff" || extension == "aif") {
    container = SF_FORMAT_AIFF;
    containerName = "AIFF";
  } else if (extension == "flac") {
    container = SF_FORMAT_FLAC;
    containerName = "FLAC";
    defaultEncoding = "pcm24";
  } else if (extension == "ogg") {
    if (!encoding.empty()) {
      throw CliError(kExitUsage, path + ": --encoding does not apply to Ogg Vorbis output");
    }
    return OutputFormat(SF_FORMAT_OGG | SF_FORMAT_VORBIS, false, "Ogg Vorbis");
  } else {
    throw CliError(kExitUsage, path + ": unknown output type '." + extension +
                                   "' (use .wav, .flac, .aiff or .ogg)");
  }
  const std::string chosen = encoding.empty() ? defaultEncoding : encoding;
  if (chosen == "float") {
    if (container == SF_FORMAT_FLAC) {
      throw CliError(kExitUsage, path + ": FLAC cannot hold float samples (use pcm16 or pcm24)");
    }
    return OutputFormat(container | SF_FORMAT_FLOAT, false, containerName + " 32-bit float");
  }
  if (chosen == "pcm16") {
    return OutputFormat(container | SF_FORMAT_PCM_16, true, containerName + " 16-bit PCM");
  }
  return OutputFormat(container | SF_FORMAT_PCM_24, true, containerName + " 24-bit PCM");
}

}  // namespace quorvelfx
