#include "AudioFileWriter.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "CliError.hpp"
#include "InterruptCleanup.hpp"

namespace quorvelfx {
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

}  // namespace quorvelfx
