#include "AudioFiles.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

namespace {

// Parses a chunk length as libsndfile's log prints it: decimal or 0x-prefixed hex.
unsigned long long parseLogNumber(const char* text) { return std::strtoull(text, nullptr, 0); }

}  // namespace

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
  try {
    rejectTruncatedData();
  } catch (...) {
    sf_close(file_);
    throw;
  }
}

AudioFileReader::~AudioFileReader() {
  if (file_ != nullptr) sf_close(file_);
}

// libsndfile shortens a WAV or AIFF whose data chunk runs past the end of the
// file instead of failing, and records the mismatch in its log as
// "data : <declared> (should be <present>)". A file cut off in transfer
// should not be processed as if it were complete, so that case is an error.
// A declared length of 0 or 0xFFFFFFFF means "unknown" (streamed writers), not truncation.
void AudioFileReader::rejectTruncatedData() {
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
      if (declared > present && declared != 0 && declared < 0xFFFFFFFFull) {
        throw CliError(kExitIo, path_ + ": audio file is truncated (data chunk declares " +
                                    std::to_string(declared) + " bytes, only " +
                                    std::to_string(present) + " present)");
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

// mkstemp creates files readable by the owner only; a finished output gets
// the mode a plain open() would have given it.
mode_t defaultFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

AudioFileWriter::AudioFileWriter(const std::string& path, const OutputFormat& format,
                                 unsigned int sampleRate, unsigned int channels)
    : path_(path), format_(format), channels_(channels) {
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
  InterruptCleanup::track(temporaryPath_);
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
  // Saturate out-of-range samples instead of letting them wrap around.
  if (format.isPcm()) sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
}

AudioFileWriter::~AudioFileWriter() { discard(); }

void AudioFileWriter::write(const float* interleaved, std::uint64_t count) {
  if (format_.isPcm()) {
    const std::uint64_t samples = count * channels_;
    for (std::uint64_t i = 0; i < samples; ++i) {
      if (std::fabs(interleaved[i]) > 1.0f) ++clipped_;
    }
  }
  const sf_count_t wrote = sf_writef_float(file_, interleaved, static_cast<sf_count_t>(count));
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
  if (std::rename(temporaryPath_.c_str(), path_.c_str()) != 0) {
    const std::string reason = std::strerror(errno);
    discard();
    throw CliError(kExitIo, path_ + ": cannot move finished output into place: " + reason);
  }
  temporaryPath_.clear();
  InterruptCleanup::untrack();
}

void AudioFileWriter::discard() noexcept {
  if (file_ != nullptr) {
    sf_close(file_);
    file_ = nullptr;
  }
  if (!temporaryPath_.empty()) {
    InterruptCleanup::untrack();
    unlink(temporaryPath_.c_str());
    temporaryPath_.clear();
  }
}

namespace {

// The handler may only touch async-signal-safe state: a fixed buffer and a flag.
char trackedPath[4096];
volatile std::sig_atomic_t tracking = 0;

extern "C" void removeTrackedAndExit(int) {
  if (tracking) unlink(trackedPath);
  _exit(kExitInterrupted);
}

}  // namespace

void InterruptCleanup::install() {
  struct sigaction action {};
  action.sa_handler = removeTrackedAndExit;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void InterruptCleanup::track(const std::string& path) {
  tracking = 0;
  if (path.size() >= sizeof trackedPath) return;
  std::memcpy(trackedPath, path.c_str(), path.size() + 1);
  tracking = 1;
}

void InterruptCleanup::untrack() { tracking = 0; }

}  // namespace quorvelfx
