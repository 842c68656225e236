#include "AudioFormats.hpp"

#include <sndfile.h>

#include <string>
#include <utility>
#include <vector>

#include "CommandLine.hpp"

namespace quorvelfx {

namespace {

std::string lowercaseExtension(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return ValueParser::lowercase(path.substr(dot + 1));
}

struct Encoding {
  const char* name;
  int subtype;
  int bits;  // 0 for float and companded encodings
  const char* description;
};

constexpr Encoding kEncodings[] = {
    {"float", SF_FORMAT_FLOAT, 0, "32-bit float"}, {"double", SF_FORMAT_DOUBLE, 0, "64-bit float"},
    {"pcm8", SF_FORMAT_PCM_S8, 8, "8-bit PCM"},    {"pcm16", SF_FORMAT_PCM_16, 16, "16-bit PCM"},
    {"pcm24", SF_FORMAT_PCM_24, 24, "24-bit PCM"}, {"pcm32", SF_FORMAT_PCM_32, 32, "32-bit PCM"},
    {"ulaw", SF_FORMAT_ULAW, 0, "u-law"},          {"alaw", SF_FORMAT_ALAW, 0, "A-law"},
};

const Encoding* findEncoding(const std::string& name) {
  for (const Encoding& encoding : kEncodings) {
    if (name == encoding.name) return &encoding;
  }
  return nullptr;
}

bool isCompanded(const Encoding& encoding) {
  return encoding.subtype == SF_FORMAT_ULAW || encoding.subtype == SF_FORMAT_ALAW;
}

// The encoding an input of `format` is written back in; empty for one that
// cannot be written losslessly from float (ADPCM, u-law, ...).
std::string encodingOf(int format) {
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8: return "pcm8";
    case SF_FORMAT_PCM_16: return "pcm16";
    case SF_FORMAT_PCM_24: return "pcm24";
    case SF_FORMAT_PCM_32: return "pcm32";
    case SF_FORMAT_FLOAT: return "float";
    case SF_FORMAT_DOUBLE: return "double";
    default: return "";
  }
}

// A container by the name --type, --input-type and file extensions use.
struct Container {
  const char* name;
  int type;
  const char* description;
};

constexpr Container kContainers[] = {
    {"wav", SF_FORMAT_WAV, "WAV"},    {"flac", SF_FORMAT_FLAC, "FLAC"},
    {"aiff", SF_FORMAT_AIFF, "AIFF"}, {"aif", SF_FORMAT_AIFF, "AIFF"},
    {"aifc", SF_FORMAT_AIFF, "AIFF"}, {"ogg", SF_FORMAT_OGG, "Ogg"},
    {"au", SF_FORMAT_AU, "AU"},       {"snd", SF_FORMAT_AU, "AU"},
    {"raw", SF_FORMAT_RAW, "raw"},
};

constexpr const char* kContainerNames = "wav, flac, aiff (aif), aifc, ogg, au (snd) or raw";

const Container* findContainer(const std::string& name) {
  for (const Container& container : kContainers) {
    if (name == container.name) return &container;
  }
  return nullptr;
}

}  // namespace

// WAVEX and WAV are one container to the user.
int containerOf(int format) noexcept {
  const int type = format & SF_FORMAT_TYPEMASK;
  return type == SF_FORMAT_WAVEX ? SF_FORMAT_WAV : type;
}

const char* describeContainer(int format) noexcept {
  for (const Container& container : kContainers) {
    if (container.type == containerOf(format)) return container.description;
  }
  return "audio";
}

OutputFormat::OutputFormat(int format, int bits, std::string name)
    : format_(format), bits_(bits), name_(std::move(name)) {}

OutputFormat OutputFormat::resolve(const std::string& path, const std::string& encoding,
                                   int inputFormat, const std::string& type) {
  if (!encoding.empty() && findEncoding(encoding) == nullptr) {
    throw CliError(kExitUsage,
                   "--encoding " + encoding +
                       ": must be float, double, pcm8, pcm16, pcm24 or pcm32 (ulaw, alaw for "
                       "AU and raw)");
  }
  const std::string typeName = ValueParser::lowercase(type);
  const Container* container = nullptr;
  if (!typeName.empty()) {
    container = findContainer(typeName);
    if (container == nullptr) {
      throw CliError(kExitUsage, "--type " + type + ": must be " + kContainerNames);
    }
  } else if (path == "-") {
    throw CliError(kExitUsage,
                   "cannot tell the output type of '-'; give it with --type (e.g. --type wav)");
  } else {
    const std::string extension = lowercaseExtension(path);
    if (extension.empty()) {
      throw CliError(kExitUsage, path +
                                     ": the output type cannot be told from the name; give it a "
                                     "file extension such as .wav, .flac, .aiff or .ogg, or "
                                     "--type (e.g. --type wav)");
    }
    container = findContainer(extension);
    if (container == nullptr) {
      throw CliError(kExitUsage, path + ": unknown output type '." + extension +
                                     "' (use .wav, .flac, .aiff, .ogg, .au or .raw, or --type)");
    }
  }
  const std::string where = path == "-" ? std::string("standard output") : path;
  if (container->type == SF_FORMAT_OGG) {
    if (!encoding.empty()) {
      throw CliError(kExitUsage, where + ": --encoding does not apply to Ogg Vorbis output");
    }
    return OutputFormat(SF_FORMAT_OGG | SF_FORMAT_VORBIS, 0, "Ogg Vorbis");
  }
  std::string containerName = container->description;
  std::string chosen = encoding;
  if (chosen.empty() &&
      (containerOf(inputFormat) == container->type || container->type == SF_FORMAT_RAW)) {
    chosen = encodingOf(inputFormat);
  }
  if (chosen.empty()) chosen = container->type == SF_FORMAT_FLAC ? "pcm24" : "float";
  const Encoding& picked = *findEncoding(chosen);

  if (container->type == SF_FORMAT_FLAC && (picked.bits == 0 || picked.bits > 24)) {
    throw CliError(kExitUsage, where + ": FLAC cannot hold " + picked.description +
                                   " samples (use pcm8, pcm16 or pcm24)");
  }
  if (isCompanded(picked) && container->type != SF_FORMAT_AU && container->type != SF_FORMAT_RAW) {
    throw CliError(kExitUsage, where + ": " + picked.description +
                                   " output is for AU and raw only (--type au or --type raw)");
  }
  int subtype = picked.subtype;
  // 8-bit WAV is unsigned by definition.
  if (container->type == SF_FORMAT_WAV && subtype == SF_FORMAT_PCM_S8) subtype = SF_FORMAT_PCM_U8;
  // Float AIFF only exists as AIFF-C, which libsndfile writes for it.
  if (container->type == SF_FORMAT_AIFF && picked.bits == 0) containerName = "AIFF-C";
  // Raw samples are little-endian, as raw input is read.
  const int endian = container->type == SF_FORMAT_RAW ? SF_ENDIAN_LITTLE : 0;
  return OutputFormat(container->type | subtype | endian, picked.bits,
                      containerName + " " + picked.description);
}

bool InputSource::isRaw() const {
  return ValueParser::lowercase(type) == "raw" ||
         (type.empty() && path != "-" && lowercaseExtension(path) == "raw");
}

void InputSource::validate() const {
  const std::string typeName = ValueParser::lowercase(type);
  if (!typeName.empty() && findContainer(typeName) == nullptr) {
    throw CliError(kExitUsage, "--input-type " + type + ": must be " + kContainerNames);
  }
  if (isRaw()) {
    std::vector<std::string> missing;
    if (rate == 0) missing.emplace_back("--rate");
    if (channels == 0) missing.emplace_back("--channels");
    if (encoding.empty()) missing.emplace_back("--input-encoding");
    if (missing.size() == 3) {
      throw CliError(kExitUsage, "raw input needs --rate, --channels and --input-encoding");
    }
    if (!missing.empty()) {
      throw CliError(
          kExitUsage,
          "raw input needs --rate, --channels and --input-encoding; " + missing.front() +
              (missing.size() == 2 ? " and " + missing.back() + " are" : std::string(" is")) +
              " missing");
    }
    if (findEncoding(ValueParser::lowercase(encoding)) == nullptr) {
      throw CliError(kExitUsage, "--input-encoding " + encoding +
                                     ": must be pcm8, pcm16, pcm24, pcm32, float, double, ulaw "
                                     "or alaw");
    }
    return;
  }
  const char* given = rate != 0           ? "--rate"
                      : channels != 0     ? "--channels"
                      : !encoding.empty() ? "--input-encoding"
                                          : nullptr;
  // Without a path (options checked before any file is named) a .raw name may still come.
  if (given == nullptr || (path.empty() && typeName.empty())) return;
  const Container* known = findContainer(typeName.empty() ? lowercaseExtension(path) : typeName);
  const std::string kind =
      known ? std::string("a ") + known->description + " file" : std::string("an audio file");
  throw CliError(kExitUsage,
                 std::string(given) + " is only for raw input; " + kind + " states its own");
}

int InputSource::rawFormat() const {
  return SF_FORMAT_RAW | SF_ENDIAN_LITTLE | findEncoding(ValueParser::lowercase(encoding))->subtype;
}

int InputSource::expectedContainer() const {
  const Container* named = type.empty() ? nullptr : findContainer(ValueParser::lowercase(type));
  return named == nullptr ? 0 : named->type;
}

}  // namespace quorvelfx
