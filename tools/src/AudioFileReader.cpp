#include "AudioFileReader.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "CliError.hpp"

namespace quorvelfx {
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

}  // namespace quorvelfx
