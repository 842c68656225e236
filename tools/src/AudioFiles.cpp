#include "AudioFiles.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
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

// WAVEX and WAV are one container to the user.
int containerOf(int format) {
  const int type = format & SF_FORMAT_TYPEMASK;
  return type == SF_FORMAT_WAVEX ? SF_FORMAT_WAV : type;
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

const char* describeContainer(int format) {
  for (const Container& container : kContainers) {
    if (container.type == containerOf(format)) return container.description;
  }
  return "audio";
}

}  // namespace

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

namespace {

// Parses a chunk length as libsndfile's log prints it: decimal or 0x-prefixed hex.
unsigned long long parseLogNumber(const char* text) { return std::strtoull(text, nullptr, 0); }

}  // namespace

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

AudioFileReader::AudioFileReader(const std::string& path) : path_(path) {
  InputSource origin;
  origin.path = path;
  openInput(origin);
}

AudioFileReader::AudioFileReader(const InputSource& origin) : path_(origin.path) {
  origin.validate();
  openInput(origin);
}

void AudioFileReader::openInput(const InputSource& origin) {
  const bool standardInput = origin.path == "-";
  const std::string where = standardInput ? std::string("standard input") : origin.path;
  struct stat status {};
  if (standardInput ? fstat(STDIN_FILENO, &status) != 0 : stat(where.c_str(), &status) != 0) {
    throw CliError(kExitIo, where + ": cannot open input: " + std::strerror(errno));
  }
  if (S_ISDIR(status.st_mode)) throw CliError(kExitIo, where + ": input is a directory");
  const bool regular = S_ISREG(status.st_mode);
  if (regular && status.st_size == 0) throw CliError(kExitIo, where + ": input file is empty");
  if (origin.isRaw()) {
    info_.samplerate = static_cast<int>(origin.rate);
    info_.channels = static_cast<int>(origin.channels);
    info_.format = SF_FORMAT_RAW | SF_ENDIAN_LITTLE |
                   findEncoding(ValueParser::lowercase(origin.encoding))->subtype;
    if (!sf_format_check(&info_)) {
      throw CliError(kExitUsage, where + ": raw input cannot be read as " + origin.encoding +
                                     " at " + std::to_string(origin.rate) + " Hz with " +
                                     std::to_string(origin.channels) + " channels");
    }
  }
  if (standardInput) {
    file_ = sf_open_fd(STDIN_FILENO, SFM_READ, &info_, SF_FALSE);
  } else if (regular) {
    file_ = sf_open(where.c_str(), SFM_READ, &info_);
  } else {
    // A FIFO or device: opened here (waiting for a writer) and read as a stream.
    const int descriptor = ::open(where.c_str(), O_RDONLY);
    if (descriptor < 0) {
      throw CliError(kExitIo, where + ": cannot open input: " + std::strerror(errno));
    }
    file_ = sf_open_fd(descriptor, SFM_READ, &info_, SF_TRUE);
    if (file_ == nullptr) close(descriptor);
  }
  if (file_ == nullptr) {
    std::string message = where + ": not a readable audio file (" + sf_strerror(nullptr) + ")";
    // libsndfile's FLAC decoder needs to seek; everything else it reads from a pipe.
    if (!regular) message += "; from a pipe only WAV, AIFF, AU, Ogg and raw can be read";
    throw CliError(kExitIo, message);
  }
  if (info_.channels <= 0 || info_.samplerate <= 0) {
    sf_close(file_);
    file_ = nullptr;
    throw CliError(kExitIo, where + ": audio file has no channels or no sample rate");
  }
  const std::string typeName = ValueParser::lowercase(origin.type);
  const Container* expected = typeName.empty() ? nullptr : findContainer(typeName);
  if (expected != nullptr && expected->type != containerOf(info_.format)) {
    const std::string found = describeContainer(info_.format);
    sf_close(file_);
    file_ = nullptr;
    throw CliError(kExitIo, where + ": is " + found + ", not " + expected->description +
                                " (--input-type " + origin.type + ")");
  }
  // libsndfile normalises PCM to [-1, 1]; float files pass through unscaled.
  sf_command(file_, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
  for (int id = SF_STR_FIRST; id <= SF_STR_LAST; ++id) {
    const char* value = sf_get_string(file_, id);
    if (value != nullptr && *value != '\0') tags_.emplace_back(id, value);
  }
  // A stream's header cannot be checked against its size (a WAV from a pipe
  // declares 0, 0xFFFFFFFF or a guess), so only a regular file's length is trusted.
  lengthKnown_ = regular && info_.frames != SF_COUNT_MAX && info_.frames >= 0;
  framesDeclared_ = lengthKnown_ ? static_cast<std::uint64_t>(info_.frames) : 0;
  if (lengthKnown_) noteShortData();
}

AudioFileReader::~AudioFileReader() {
  if (file_ != nullptr) sf_close(file_);
}

// libsndfile shortens a WAV or AIFF whose data chunk runs past the end of the
// file and records the mismatch in its log as "data : <declared> (should be
// <present>)". That is how a WAV written to a pipe (size 0xFFFFFFFF or never
// updated) or cut off in transfer looks; the audio that is there is worth
// processing, but the user should know the file was not what it claimed.
void AudioFileReader::noteShortData() {
  std::vector<char> log(16384, '\0');
  sf_command(file_, SFC_GET_LOG_INFO, log.data(), static_cast<int>(log.size()));
  for (const char* line = log.data(); *line != '\0';) {
    const char* end = std::strchr(line, '\n');
    const std::size_t length = end ? static_cast<std::size_t>(end - line) : std::strlen(line);
    const std::string text(line, length);
    const bool dataChunk = text.rfind("data", 0) == 0 || text.rfind("SSND", 0) == 0;
    const std::size_t colon = text.find(':');
    const std::size_t should = text.find("(should be ");
    if (dataChunk && colon != std::string::npos && should != std::string::npos) {
      const unsigned long long declared = parseLogNumber(text.c_str() + colon + 1);
      const unsigned long long present = parseLogNumber(text.c_str() + should + 11);
      if (declared > present) {
        warning_ = (path_ == "-" ? std::string("standard input") : path_) +
                   ": data chunk declares " + std::to_string(declared) +
                   " bytes but the file holds " + std::to_string(present) + "; read the " +
                   std::to_string(frames()) + " frames there";
      }
    }
    if (end == nullptr) break;
    line = end + 1;
  }
}

std::uint64_t AudioFileReader::read(float* interleaved, std::uint64_t count) {
  const sf_count_t got = sf_readf_float(file_, interleaved, static_cast<sf_count_t>(count));
  if (got < 0 || sf_error(file_) != SF_ERR_NO_ERROR) {
    throw CliError(kExitIo, (path_ == "-" ? std::string("standard input") : path_) +
                                ": read error: " + sf_strerror(file_));
  }
  // libsndfile may leave part of a cut-off last frame in the buffer past the
  // frames it returns; a caller that renders whole blocks must see silence there.
  if (static_cast<std::uint64_t>(got) < count) {
    std::fill(interleaved + static_cast<std::uint64_t>(got) * channels(),
              interleaved + count * channels(), 0.0f);
  }
  framesRead_ += static_cast<std::uint64_t>(got);
  if (lengthKnown_ && got == 0 && count > 0 && framesRead_ < frames()) {
    throw CliError(kExitIo, path_ + ": audio file ends after " + std::to_string(framesRead_) +
                                " of its " + std::to_string(frames()) + " frames");
  }
  return static_cast<std::uint64_t>(got);
}

namespace {

void putLittleEndian32(unsigned char* bytes, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::uint32_t getLittleEndian32(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// libsndfile writes float WAV with a 16-byte fmt chunk (SoX warns "wave
// header missing extended part of fmt chunk") or as WAVE_FORMAT_EXTENSIBLE
// (SoX warns too). Every non-PCM fmt chunk should end in a cbSize field, so
// this inserts cbSize = 0 after the 16 bytes, moving the rest of the file up
// by two. Returns false on an I/O error; a header it does not expect is left alone.
bool addFmtExtensionSize(int descriptor) {
  bool ok = true;
  unsigned char header[38];
  struct stat status {};
  if (pread(descriptor, header, sizeof header, 0) == static_cast<ssize_t>(sizeof header) &&
      fstat(descriptor, &status) == 0 && std::memcmp(header, "RIFF", 4) == 0 &&
      std::memcmp(header + 8, "WAVEfmt ", 8) == 0 && getLittleEndian32(header + 16) == 16 &&
      header[20] == 3 && header[21] == 0 && getLittleEndian32(header + 4) < 0xFFFFFFF0u) {
    constexpr off_t kFmtEnd = 36;
    std::vector<unsigned char> buffer(1 << 20);
    for (off_t end = status.st_size; ok && end > kFmtEnd;) {
      const off_t start = std::max(kFmtEnd, end - static_cast<off_t>(buffer.size()));
      const auto length = static_cast<std::size_t>(end - start);
      ok = pread(descriptor, buffer.data(), length, start) == static_cast<ssize_t>(length) &&
           pwrite(descriptor, buffer.data(), length, start + 2) == static_cast<ssize_t>(length);
      end = start;
    }
    unsigned char size[4];
    const unsigned char extension[2] = {0, 0};
    putLittleEndian32(size, getLittleEndian32(header + 4) + 2);
    ok = ok && pwrite(descriptor, size, 4, 4) == 4;
    putLittleEndian32(size, 18);
    ok = ok && pwrite(descriptor, size, 4, 16) == 4 && pwrite(descriptor, extension, 2, 36) == 2;
  }
  return ok;
}

bool addFmtExtensionSize(const std::string& path) {
  const int descriptor = open(path.c_str(), O_RDWR);
  if (descriptor < 0) return false;
  const bool ok = addFmtExtensionSize(descriptor);
  return close(descriptor) == 0 && ok;
}

// mkstemp creates files readable by the owner only; a finished output gets
// the mode a plain open() would have given it.
mode_t defaultFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// Follows `path` through symbolic links (relative targets are taken from the
// link's directory) to the file that is really written; a dangling link gives
// the path of the file it names, which is then created there, as cp does.
std::string followLinks(const std::string& path) {
  std::string current = path;
  for (int hop = 0; hop < 40; ++hop) {
    struct stat status {};
    if (lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return current;
    std::vector<char> target(static_cast<std::size_t>(status.st_size > 0 ? status.st_size : 255) +
                             2);
    const ssize_t length = readlink(current.c_str(), target.data(), target.size() - 1);
    if (length < 0) return current;
    const std::string text(target.data(), static_cast<std::size_t>(length));
    const std::size_t slash = current.find_last_of('/');
    current = text.front() == '/' || slash == std::string::npos
                  ? text
                  : current.substr(0, slash + 1) + text;
  }
  throw CliError(kExitIo, path + ": cannot write output: too many levels of symbolic links");
}

constexpr std::uint32_t kUnknownSize = 0xFFFFFFFFu;

// A WAV header for a stream whose length is not known when it starts:
// libsndfile refuses to write WAV where it cannot seek back to fill in the
// sizes, so the header is written here with both sizes at 0xFFFFFFFF (what
// readers take as "to the end") and the samples follow as raw little-endian.
std::vector<unsigned char> streamingWavHeader(int format, unsigned int sampleRate,
                                              unsigned int channels) {
  const int subtype = format & SF_FORMAT_SUBMASK;
  int bytes = 4;
  switch (subtype) {
    case SF_FORMAT_PCM_U8: bytes = 1; break;
    case SF_FORMAT_PCM_16: bytes = 2; break;
    case SF_FORMAT_PCM_24: bytes = 3; break;
    case SF_FORMAT_DOUBLE: bytes = 8; break;
    default: bytes = 4;
  }
  const bool isFloat = subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
  std::vector<unsigned char> header;
  auto text = [&](const char* tag) { header.insert(header.end(), tag, tag + 4); };
  auto word = [&](std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) header.push_back(static_cast<unsigned char>(value >> (8 * i)));
  };
  text("RIFF");
  word(kUnknownSize, 4);
  text("WAVE");
  text("fmt ");
  word(isFloat ? 18 : 16, 4);
  word(isFloat ? 3 : 1, 2);  // WAVE_FORMAT_IEEE_FLOAT or WAVE_FORMAT_PCM
  word(channels, 2);
  word(sampleRate, 4);
  word(sampleRate * channels * static_cast<std::uint32_t>(bytes), 4);
  word(channels * static_cast<std::uint32_t>(bytes), 2);
  word(static_cast<std::uint32_t>(bytes) * 8, 2);
  if (isFloat) {
    word(0, 2);  // cbSize
    text("fact");
    word(4, 4);
    word(kUnknownSize, 4);
  }
  text("data");
  word(kUnknownSize, 4);
  return header;
}

bool writeAll(int descriptor, const unsigned char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t wrote = ::write(descriptor, bytes, size);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    bytes += wrote;
    size -= static_cast<std::size_t>(wrote);
  }
  return true;
}

bool writeAllAt(int descriptor, const char* bytes, std::size_t size, off_t offset, int& error) {
  while (size > 0) {
    const ssize_t wrote = pwrite(descriptor, bytes, size, offset);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      error = wrote < 0 ? errno : ENOSPC;
      return false;
    }
    bytes += wrote;
    size -= static_cast<std::size_t>(wrote);
    offset += wrote;
  }
  return true;
}

}  // namespace

// libsndfile writes float WAV with the 16-byte fmt chunk that commit() extends
// by cbSize (see addFmtExtensionSize); moving the finished file up by two bytes
// costs as much as writing it again. A temporary float WAV is therefore handed
// to libsndfile through this: every byte it puts at or after the end of the
// fmt chunk lands two bytes further on, so commit() only patches the sizes.
struct AudioFileWriter::ShiftedFile {
  static constexpr sf_count_t kFmtEnd = 36;

  explicit ShiftedFile(int fd) : descriptor(fd) {}

  int descriptor;
  sf_count_t position = 0;
  sf_count_t length = 0;  // as libsndfile sees the file
  int error = 0;          // errno of the first failed write

  static ShiftedFile& of(void* data) { return *static_cast<ShiftedFile*>(data); }

  static sf_count_t fileLength(void* data) { return of(data).length; }
  static sf_count_t seek(sf_count_t offset, int whence, void* data) {
    ShiftedFile& file = of(data);
    const sf_count_t base = whence == SEEK_CUR   ? file.position
                            : whence == SEEK_END ? file.length
                                                 : 0;
    if (base + offset < 0) return -1;
    file.position = base + offset;
    return file.position;
  }
  static sf_count_t tell(void* data) { return of(data).position; }

  // Calls `transfer(pointer, bytes, physical offset)` for the parts of
  // [position, position + count) before and after the gap.
  template <typename Transfer>
  sf_count_t split(sf_count_t count, Transfer transfer) {
    sf_count_t done = 0;
    while (done < count) {
      const sf_count_t at = position + done;
      const sf_count_t part = at < kFmtEnd ? std::min(count - done, kFmtEnd - at) : count - done;
      const sf_count_t moved = transfer(done, part, at < kFmtEnd ? at : at + 2);
      done += moved;
      if (moved < part) break;
    }
    position += done;
    return done;
  }
  static sf_count_t read(void* bytes, sf_count_t count, void* data) {
    ShiftedFile& file = of(data);
    return file.split(count, [&](sf_count_t done, sf_count_t part, sf_count_t offset) {
      const ssize_t got = pread(file.descriptor, static_cast<char*>(bytes) + done,
                                static_cast<std::size_t>(part), offset);
      return static_cast<sf_count_t>(std::max<ssize_t>(got, 0));
    });
  }
  static sf_count_t write(const void* bytes, sf_count_t count, void* data) {
    ShiftedFile& file = of(data);
    const sf_count_t wrote =
        file.split(count, [&](sf_count_t done, sf_count_t part, sf_count_t offset) -> sf_count_t {
          if (file.error != 0) return 0;
          const bool ok = writeAllAt(file.descriptor, static_cast<const char*>(bytes) + done,
                                     static_cast<std::size_t>(part), offset, file.error);
          return ok ? part : 0;
        });
    file.length = std::max(file.length, file.position);
    return wrote;
  }

  // Fills in the gap as cbSize = 0 and the sizes that include it; a header
  // other than the one expected is moved back to where libsndfile put it.
  bool finish() {
    unsigned char header[38];
    if (pread(descriptor, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) {
      return false;
    }
    const std::uint32_t riffSize = getLittleEndian32(header + 4);
    if (std::memcmp(header, "RIFF", 4) == 0 && std::memcmp(header + 8, "WAVEfmt ", 8) == 0 &&
        getLittleEndian32(header + 16) == 16 && header[20] == 3 && header[21] == 0 &&
        riffSize < 0xFFFFFFF0u) {
      unsigned char size[4];
      const char extension[2] = {0, 0};
      putLittleEndian32(size, riffSize + 2);
      bool ok = writeAllAt(descriptor, reinterpret_cast<const char*>(size), 4, 4, error);
      putLittleEndian32(size, 18);
      ok = ok && writeAllAt(descriptor, reinterpret_cast<const char*>(size), 4, 16, error);
      return ok && writeAllAt(descriptor, extension, 2, kFmtEnd, error);
    }
    std::vector<char> buffer(1 << 20);
    for (sf_count_t from = kFmtEnd; from < length;) {
      const auto part = static_cast<std::size_t>(
          std::min<sf_count_t>(length - from, static_cast<sf_count_t>(buffer.size())));
      if (pread(descriptor, buffer.data(), part, from + 2) != static_cast<ssize_t>(part) ||
          !writeAllAt(descriptor, buffer.data(), part, from, error)) {
        return false;
      }
      from += static_cast<sf_count_t>(part);
    }
    return ftruncate(descriptor, length) == 0;
  }

  static SF_VIRTUAL_IO io() { return SF_VIRTUAL_IO{fileLength, seek, read, write, tell}; }
};

// libsndfile's own words for a failed write, which the shifted file cannot give it.
std::string AudioFileWriter::writeFailure() const {
  if (shifted_ && shifted_->error != 0) {
    return std::string("System error : ") + std::strerror(shifted_->error) + ".";
  }
  return sf_strerror(file_);
}

bool AudioFileWriter::writesDirectly(const std::string& path) {
  if (path == "-") return true;
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && (S_ISFIFO(status.st_mode) || S_ISCHR(status.st_mode));
}

AudioFileWriter::AudioFileWriter(const std::string& path, const OutputFormat& format,
                                 unsigned int sampleRate, unsigned int channels,
                                 const AudioTags& tags, const Quantisation& quantisation)
    : path_(path),
      format_(format),
      channels_(channels),
      quantisation_(quantisation),
      random_(quantisation.seed) {
  const std::string where = path == "-" ? std::string("standard output") : path;
  SF_INFO info{};
  info.samplerate = static_cast<int>(sampleRate);
  info.channels = static_cast<int>(channels);
  info.format = format.sndfileFormat();
  if (!sf_format_check(&info)) {
    throw CliError(kExitIo, where + ": " + format.name() + " cannot hold " +
                                std::to_string(channels) + " channels at " +
                                std::to_string(sampleRate) + " Hz");
  }
  struct stat status {};
  const bool exists = path != "-" && stat(path.c_str(), &status) == 0;
  if (exists && S_ISDIR(status.st_mode)) {
    throw CliError(kExitIo, path + ": output is a directory");
  }
  direct_ = writesDirectly(path);
  int descriptor = -1;
  if (direct_) {
    descriptor = path == "-" ? STDOUT_FILENO : ::open(path.c_str(), O_WRONLY);
    if (descriptor < 0) {
      throw CliError(kExitIo, where + ": cannot write output: " + std::strerror(errno));
    }
  } else {
    // The temporary goes beside the file a link leads to, so the rename that
    // replaces it stays within one directory (atomic) and the link survives.
    targetPath_ = followLinks(path);
    const std::size_t slash = targetPath_.find_last_of('/');
    const std::string directory =
        slash == std::string::npos ? "" : targetPath_.substr(0, slash + 1);
    const std::string base =
        slash == std::string::npos ? targetPath_ : targetPath_.substr(slash + 1);
    // The name is tracked before the file exists, so that a signal at any
    // moment, on any thread, finds every temporary there is to remove;
    // O_EXCL makes the name ours as mkstemp would.
    static std::atomic<unsigned int> serial{0};
    std::random_device entropy;
    std::string name;
    for (int attempt = 0; attempt < 100; ++attempt) {
      char suffix[16];
      std::snprintf(suffix, sizeof suffix, "%06x%02x", entropy() & 0xFFFFFFu,
                    serial.fetch_add(1) & 0xFFu);
      name = directory + "." + base + ".quorvel-fx-" + suffix;
      cleanupSlot_ = InterruptCleanup::track(name);
      descriptor = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      if (descriptor >= 0 || errno != EEXIST) break;
      InterruptCleanup::untrack(cleanupSlot_);
      cleanupSlot_ = -1;
    }
    if (descriptor < 0) {
      const int error = errno;
      InterruptCleanup::untrack(cleanupSlot_);
      cleanupSlot_ = -1;
      errno = error;
      const std::string through =
          targetPath_ == path ? "" : " (through the link to " + targetPath_ + ")";
      throw CliError(kExitIo,
                     path + ": cannot write output" + through + ": " + std::strerror(errno));
    }
    temporaryPath_ = name;
    // A replaced file keeps its permissions and, where allowed, its owner
    // (chown first: it may clear set-id bits). A new one gets open()'s mode.
    struct stat target {};
    if (stat(targetPath_.c_str(), &target) == 0 && S_ISREG(target.st_mode)) {
      if (fchown(descriptor, target.st_uid, target.st_gid) != 0) {
        // Only root may give a file away; the new file is then the user's own.
      }
      fchmod(descriptor, target.st_mode & 07777);
    } else {
      fchmod(descriptor, defaultFileMode());
    }
  }

  // Where the output cannot seek, WAV is written with a streaming header of
  // its own; AIFF, whose libsndfile writer then silently drops the audio, is refused.
  const int container = format.sndfileFormat() & SF_FORMAT_TYPEMASK;
  const bool seekable = lseek(descriptor, 0, SEEK_CUR) >= 0;
  if (!seekable && container == SF_FORMAT_AIFF) {
    if (descriptor != STDOUT_FILENO) close(descriptor);
    discard();
    throw CliError(kExitUsage, where +
                                   ": AIFF cannot be written to a pipe; use --type wav, au or "
                                   "raw for a stream");
  }
  if (!seekable && container == SF_FORMAT_WAV) {
    const std::vector<unsigned char> header =
        streamingWavHeader(format.sndfileFormat(), sampleRate, channels);
    if (!writeAll(descriptor, header.data(), header.size())) {
      const std::string reason = std::strerror(errno);
      if (descriptor != STDOUT_FILENO) close(descriptor);
      discard();
      throw CliError(kExitIo, where + ": write error: " + reason);
    }
    info.format = SF_FORMAT_RAW | SF_ENDIAN_LITTLE | (format.sndfileFormat() & SF_FORMAT_SUBMASK);
  }
  // A regular file given as standard output (a shell redirection) is patched
  // after closing like a temporary, if the audio starts at its beginning.
  if (direct_ && seekable && S_ISREG(fstat(descriptor, &status) == 0 ? status.st_mode : 0) &&
      lseek(descriptor, 0, SEEK_CUR) == 0) {
    patchDescriptor_ = descriptor;
  }
  if (!direct_ && container == SF_FORMAT_WAV && !format.isPcm()) {
    shifted_ = std::make_unique<ShiftedFile>(descriptor);
    SF_VIRTUAL_IO io = ShiftedFile::io();
    file_ = sf_open_virtual(&io, SFM_WRITE, &info, shifted_.get());
    // libsndfile does not see a failed write through virtual I/O; its header is checked here.
    if (file_ != nullptr && shifted_->error != 0) {
      sf_close(file_);
      file_ = nullptr;
    }
  } else {
    file_ =
        sf_open_fd(descriptor, SFM_WRITE, &info, descriptor == STDOUT_FILENO ? SF_FALSE : SF_TRUE);
  }
  if (file_ == nullptr) {
    const std::string reason = writeFailure();
    shifted_.reset();
    if (descriptor != STDOUT_FILENO) close(descriptor);
    discard();
    throw CliError(kExitIo, where + ": cannot write output: " + reason);
  }
  // No PEAK chunk in float files: it carries the time of writing, and the
  // same command must give the same bytes.
  sf_command(file_, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
  // Tags go in before the audio: FLAC and Ogg take them only then. A tag the
  // container has no field for is dropped.
  for (const auto& [id, value] : tags) sf_set_string(file_, id, value.c_str());
}

AudioFileWriter::~AudioFileWriter() { discard(); }

void AudioFileWriter::write(const float* interleaved, std::uint64_t count) {
  if (format_.isPcm()) {
    writePcm(interleaved, count);
    return;
  }
  const sf_count_t wrote = sf_writef_float(file_, interleaved, static_cast<sf_count_t>(count));
  if (wrote != static_cast<sf_count_t>(count)) {
    throw CliError(kExitIo, path_ + ": write error: " + writeFailure());
  }
}

// TPDF dither of one step peak: the sum of two uniform values in [-0.5, 0.5).
// splitmix64, so a seed gives the same file on every platform.
double AudioFileWriter::ditherOffset(std::uint64_t& state) noexcept {
  auto uniform = [&state] {
    state += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) * 0x1.0p-53;
  };
  const double first = uniform();
  return first + uniform() - 1.0;
}

// Quantises to the output's step here rather than in libsndfile, whose float
// conversion truncates towards minus infinity (a DC offset of half a step)
// and cannot dither. The integers go in left-justified, so libsndfile only
// shifts them down to the output width.
void AudioFileWriter::writePcm(const float* interleaved, std::uint64_t count) {
  const int bits = format_.pcmBits();
  const double steps = std::ldexp(1.0, bits - 1);
  const std::int64_t shift = std::int64_t{1} << (32 - bits);
  const bool dither = quantisation_.dither && bits < 32;
  const std::uint64_t samples = count * channels_;
  integers_.resize(samples);
  // The generator and the count stay in registers: stores to the integers
  // would otherwise force them to memory on every sample.
  int* integers = integers_.data();
  std::uint64_t random = random_;
  std::uint64_t clipped = 0;
  for (std::uint64_t i = 0; i < samples; ++i) {
    const float sample = interleaved[i];
    if (std::fabs(sample) > 1.0f) ++clipped;
    // A NaN has no step to round to (and must not reach the integer
    // conversion): it is written as silence. Infinities clip like any overload.
    double scaled = std::isnan(sample) ? 0.0 : static_cast<double>(sample) * steps;
    if (dither) scaled += ditherOffset(random);
    // Clamped to whole steps first, then rounded down by truncation: the same
    // step as floor() then clamp, without a call to floor() per sample.
    const double bounded = std::clamp(scaled + 0.5, -steps, steps - 1.0);
    std::int64_t step = static_cast<std::int64_t>(bounded);
    if (static_cast<double>(step) > bounded) --step;
    integers[i] = static_cast<int>(step * shift);
  }
  random_ = random;
  clipped_ += clipped;
  const sf_count_t wrote = sf_writef_int(file_, integers_.data(), static_cast<sf_count_t>(count));
  if (wrote != static_cast<sf_count_t>(count)) {
    throw CliError(kExitIo, path_ + ": write error: " + writeFailure());
  }
}

void AudioFileWriter::commit() {
  const std::string where = path_ == "-" ? std::string("standard output") : path_;
  const bool shiftedOutput = shifted_ != nullptr;
  // libsndfile syncs its own descriptor only; a shifted file's is synced here, at the same point.
  if (shiftedOutput) {
    fsync(shifted_->descriptor);
  } else {
    sf_write_sync(file_);
  }
  const int closed = sf_close(file_);
  file_ = nullptr;
  if (closed != 0) {
    const std::string reason = sf_error_number(closed);
    discard();
    throw CliError(kExitIo, where + ": write error: " + reason);
  }
  if (shiftedOutput) {
    bool ok = shifted_->error == 0 && shifted_->finish();
    int error = shifted_->error != 0 ? shifted_->error : errno;
    if (close(shifted_->descriptor) != 0 && ok) {
      ok = false;
      error = errno;
    }
    shifted_.reset();
    if (!ok) {
      discard();
      throw CliError(kExitIo, where + ": write error: " + std::strerror(error));
    }
  }
  const bool floatWav =
      (format_.sndfileFormat() & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV && !format_.isPcm();
  if (direct_) {
    // Nothing to move: the data went straight to the output.
    // A shell opens a redirection write-only; the header is read back through a second open.
    if (floatWav && patchDescriptor_ >= 0 &&
        !addFmtExtensionSize("/dev/fd/" + std::to_string(patchDescriptor_))) {
      throw CliError(kExitIo, where + ": write error: " + std::strerror(errno));
    }
    return;
  }
  if (floatWav && !shiftedOutput && !addFmtExtensionSize(temporaryPath_)) {
    const std::string reason = std::strerror(errno);
    discard();
    throw CliError(kExitIo, where + ": write error: " + reason);
  }
  if (std::rename(temporaryPath_.c_str(), targetPath_.c_str()) != 0) {
    const std::string reason = std::strerror(errno);
    discard();
    throw CliError(kExitIo, where + ": cannot move finished output into place: " + reason);
  }
  InterruptCleanup::untrack(cleanupSlot_);
  cleanupSlot_ = -1;
  temporaryPath_.clear();
}

void AudioFileWriter::discard() noexcept {
  if (file_ != nullptr) {
    sf_close(file_);
    file_ = nullptr;
  }
  if (shifted_) {
    close(shifted_->descriptor);
    shifted_.reset();
  }
  if (!temporaryPath_.empty()) {
    InterruptCleanup::untrack(cleanupSlot_);
    cleanupSlot_ = -1;
    unlink(temporaryPath_.c_str());
    temporaryPath_.clear();
  }
}

namespace {

// The handler may only touch async-signal-safe state: preallocated buffers
// and lock-free atomics. A slot's path is written only while its flag is clear.
char trackedPaths[InterruptCleanup::kSlots][4096];
std::atomic<bool> slotTracked[InterruptCleanup::kSlots];
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler reads these flags");
// Serialises claiming and releasing slots between threads (never taken in the handler).
std::mutex slotClaims;
bool slotClaimed[InterruptCleanup::kSlots];

extern "C" void removeTrackedAndExit(int signal) {
  for (int slot = 0; slot < InterruptCleanup::kSlots; ++slot) {
    if (slotTracked[slot].load(std::memory_order_acquire)) unlink(trackedPaths[slot]);
  }
  _exit(signal == SIGTERM ? kExitTerminated : kExitInterrupted);
}

}  // namespace

void InterruptCleanup::install() {
  struct sigaction action {};
  action.sa_handler = removeTrackedAndExit;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int InterruptCleanup::track(const std::string& path) {
  if (path.size() >= sizeof trackedPaths[0]) return -1;
  const std::lock_guard<std::mutex> lock(slotClaims);
  for (int slot = 0; slot < kSlots; ++slot) {
    if (slotClaimed[slot]) continue;
    slotClaimed[slot] = true;
    std::memcpy(trackedPaths[slot], path.c_str(), path.size() + 1);
    slotTracked[slot].store(true, std::memory_order_release);
    return slot;
  }
  return -1;
}

void InterruptCleanup::untrack(int slot) {
  if (slot < 0 || slot >= kSlots) return;
  const std::lock_guard<std::mutex> lock(slotClaims);
  slotTracked[slot].store(false, std::memory_order_release);
  slotClaimed[slot] = false;
}

}  // namespace quorvelfx
