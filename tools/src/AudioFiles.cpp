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
  int bits;  // 0 for float
  const char* description;
};

constexpr Encoding kEncodings[] = {
    {"float", SF_FORMAT_FLOAT, 0, "32-bit float"}, {"double", SF_FORMAT_DOUBLE, 0, "64-bit float"},
    {"pcm8", SF_FORMAT_PCM_S8, 8, "8-bit PCM"},    {"pcm16", SF_FORMAT_PCM_16, 16, "16-bit PCM"},
    {"pcm24", SF_FORMAT_PCM_24, 24, "24-bit PCM"}, {"pcm32", SF_FORMAT_PCM_32, 32, "32-bit PCM"},
};

const Encoding* findEncoding(const std::string& name) {
  for (const Encoding& encoding : kEncodings) {
    if (name == encoding.name) return &encoding;
  }
  return nullptr;
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

}  // namespace

OutputFormat::OutputFormat(int format, int bits, std::string name)
    : format_(format), bits_(bits), name_(std::move(name)) {}

OutputFormat OutputFormat::resolve(const std::string& path, const std::string& encoding,
                                   int inputFormat, const std::string& type) {
  static_cast<void>(type);
  if (!encoding.empty() && findEncoding(encoding) == nullptr) {
    throw CliError(kExitUsage, "--encoding " + encoding +
                                   ": must be float, double, pcm8, pcm16, pcm24 or pcm32");
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
    return OutputFormat(SF_FORMAT_OGG | SF_FORMAT_VORBIS, 0, "Ogg Vorbis");
  } else {
    if (extension.empty()) {
      throw CliError(kExitUsage, path +
                                     ": the output type cannot be told from the name; give it a "
                                     "file extension such as .wav, .flac, .aiff or .ogg");
    }
    throw CliError(kExitUsage, path + ": unknown output type '." + extension +
                                   "' (use .wav, .flac, .aiff or .ogg)");
  }
  std::string chosen = encoding;
  if (chosen.empty() && containerOf(inputFormat) == container) chosen = encodingOf(inputFormat);
  if (chosen.empty()) chosen = defaultEncoding;
  const Encoding& picked = *findEncoding(chosen);

  if (container == SF_FORMAT_FLAC && (picked.bits == 0 || picked.bits > 24)) {
    throw CliError(kExitUsage, path + ": FLAC cannot hold " + picked.description +
                                   " samples (use pcm8, pcm16 or pcm24)");
  }
  int subtype = picked.subtype;
  // 8-bit WAV is unsigned by definition.
  if (container == SF_FORMAT_WAV && subtype == SF_FORMAT_PCM_S8) subtype = SF_FORMAT_PCM_U8;
  if (picked.bits == 0) {
    // Float AIFF only exists as AIFF-C, which libsndfile writes for it.
    if (container == SF_FORMAT_AIFF) containerName = "AIFF-C";
  }
  return OutputFormat(container | subtype, picked.bits, containerName + " " + picked.description);
}

namespace {

// Parses a chunk length as libsndfile's log prints it: decimal or 0x-prefixed hex.
unsigned long long parseLogNumber(const char* text) { return std::strtoull(text, nullptr, 0); }

}  // namespace

bool InputSpec::isRaw() const {
  return type == "raw" || (type.empty() && lowercaseExtension(path) == "raw");
}

void InputSpec::validate() const {}

AudioFileReader::AudioFileReader(const InputSpec& spec) : AudioFileReader(spec.path) {}

AudioFileReader::AudioFileReader(const std::string& path) : path_(path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) {
    throw CliError(kExitIo, path + ": cannot open input: " + std::strerror(errno));
  }
  if (S_ISDIR(status.st_mode)) throw CliError(kExitIo, path + ": input is a directory");
  if (status.st_size == 0) throw CliError(kExitIo, path + ": input file is empty");
  file_ = sf_open(path.c_str(), SFM_READ, &info_);
  if (file_ == nullptr) {
    throw CliError(kExitIo, path + ": not a readable audio file (" + sf_strerror(nullptr) + ")");
  }
  if (info_.channels <= 0 || info_.samplerate <= 0) {
    sf_close(file_);
    throw CliError(kExitIo, path + ": audio file has no channels or no sample rate");
  }
  // libsndfile normalises PCM to [-1, 1]; float files pass through unscaled.
  sf_command(file_, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
  for (int id = SF_STR_FIRST; id <= SF_STR_LAST; ++id) {
    const char* value = sf_get_string(file_, id);
    if (value != nullptr && *value != '\0') tags_.emplace_back(id, value);
  }
  framesDeclared_ = static_cast<std::uint64_t>(info_.frames);
  noteShortData();
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
        warning_ = path_ + ": data chunk declares " + std::to_string(declared) +
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
    throw CliError(kExitIo, path_ + ": read error: " + sf_strerror(file_));
  }
  framesRead_ += static_cast<std::uint64_t>(got);
  if (got == 0 && count > 0 && framesRead_ < frames()) {
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
bool addFmtExtensionSize(const std::string& path) {
  const int descriptor = open(path.c_str(), O_RDWR);
  if (descriptor < 0) return false;
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
  return close(descriptor) == 0 && ok;
}

// mkstemp creates files readable by the owner only; a finished output gets
// the mode a plain open() would have given it.
mode_t defaultFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

AudioFileWriter::AudioFileWriter(const std::string& path, const OutputFormat& format,
                                 unsigned int sampleRate, unsigned int channels,
                                 const AudioTags& tags, const Quantisation& quantisation)
    : path_(path),
      format_(format),
      channels_(channels),
      quantisation_(quantisation),
      random_(quantisation.seed) {
  struct stat status {};
  if (stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
    throw CliError(kExitIo, path + ": output is a directory");
  }
  const std::size_t slash = path.find_last_of('/');
  const std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::vector<char> pattern;
  const std::string text = directory + "." + base + ".quorvel-fx-XXXXXX";
  pattern.assign(text.begin(), text.end());
  pattern.push_back('\0');
  const int descriptor = mkstemp(pattern.data());
  if (descriptor < 0) {
    throw CliError(kExitIo, path + ": cannot write output: " + std::strerror(errno));
  }
  temporaryPath_ = pattern.data();
  cleanupSlot_ = InterruptCleanup::track(temporaryPath_);
  fchmod(descriptor, defaultFileMode());

  SF_INFO info{};
  info.samplerate = static_cast<int>(sampleRate);
  info.channels = static_cast<int>(channels);
  info.format = format.sndfileFormat();
  if (!sf_format_check(&info)) {
    close(descriptor);
    discard();
    throw CliError(kExitIo, path + ": " + format.name() + " cannot hold " +
                                std::to_string(channels) + " channels at " +
                                std::to_string(sampleRate) + " Hz");
  }
  file_ = sf_open_fd(descriptor, SFM_WRITE, &info, SF_TRUE);
  if (file_ == nullptr) {
    close(descriptor);
    const std::string reason = sf_strerror(nullptr);
    discard();
    throw CliError(kExitIo, path + ": cannot write output: " + reason);
  }
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
    throw CliError(kExitIo, path_ + ": write error: " + sf_strerror(file_));
  }
}

// TPDF dither of one step peak: the sum of two uniform values in [-0.5, 0.5).
// splitmix64, so a seed gives the same file on every platform.
double AudioFileWriter::ditherOffset() noexcept {
  auto uniform = [this] {
    random_ += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = random_;
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
  for (std::uint64_t i = 0; i < samples; ++i) {
    const float sample = interleaved[i];
    if (std::fabs(sample) > 1.0f) ++clipped_;
    // A NaN has no step to round to (and must not reach the integer
    // conversion): it is written as silence. Infinities clip like any overload.
    double scaled = std::isnan(sample) ? 0.0 : static_cast<double>(sample) * steps;
    if (dither) scaled += ditherOffset();
    const double step = std::clamp(std::floor(scaled + 0.5), -steps, steps - 1.0);
    integers_[i] = static_cast<int>(static_cast<std::int64_t>(step) * shift);
  }
  const sf_count_t wrote = sf_writef_int(file_, integers_.data(), static_cast<sf_count_t>(count));
  if (wrote != static_cast<sf_count_t>(count)) {
    throw CliError(kExitIo, path_ + ": write error: " + sf_strerror(file_));
  }
}

void AudioFileWriter::commit() {
  sf_write_sync(file_);
  const int closed = sf_close(file_);
  file_ = nullptr;
  if (closed != 0) {
    const std::string reason = sf_error_number(closed);
    discard();
    throw CliError(kExitIo, path_ + ": write error: " + reason);
  }
  if ((format_.sndfileFormat() & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV && !format_.isPcm() &&
      !addFmtExtensionSize(temporaryPath_)) {
    const std::string reason = std::strerror(errno);
    discard();
    throw CliError(kExitIo, path_ + ": write error: " + reason);
  }
  if (std::rename(temporaryPath_.c_str(), path_.c_str()) != 0) {
    const std::string reason = std::strerror(errno);
    discard();
    throw CliError(kExitIo, path_ + ": cannot move finished output into place: " + reason);
  }
  temporaryPath_.clear();
  InterruptCleanup::untrack(cleanupSlot_);
  cleanupSlot_ = -1;
}

void AudioFileWriter::discard() noexcept {
  if (file_ != nullptr) {
    sf_close(file_);
    file_ = nullptr;
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

bool AudioFileWriter::writesDirectly(const std::string& path) { return path == "-"; }

}  // namespace quorvelfx
