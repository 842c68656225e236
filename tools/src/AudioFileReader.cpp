#include "AudioFileReader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "CommandLine.hpp"

namespace quorvelfx {

namespace {

// A data chunk that declares more bytes than the file holds.
struct ShortData {
  unsigned long long declared = 0;
  unsigned long long present = 0;
};

// libsndfile shortens a WAV or AIFF whose data chunk runs past the end of the
// file and says so only in its log, as "data : <declared> (should be
// <present>)": no sf_command query gives the declared size, so the log text is
// read here and nowhere else. Lengths are decimal or 0x-prefixed hex.
ShortData shortDataChunk(SndfileHandle& file) {
  std::vector<char> log(16384, '\0');
  file.command(SFC_GET_LOG_INFO, log.data(), static_cast<int>(log.size()));
  ShortData found;
  for (const char* line = log.data(); *line != '\0';) {
    const char* end = std::strchr(line, '\n');
    const std::size_t length = end ? static_cast<std::size_t>(end - line) : std::strlen(line);
    std::string text(line, length);
    // Chunks inside a container's FORM (AIFF's SSND) are indented.
    text.erase(0, text.find_first_not_of(' '));
    const bool dataChunk = text.rfind("data", 0) == 0 || text.rfind("SSND", 0) == 0;
    const std::size_t colon = text.find(':');
    const std::size_t should = text.find("(should be ");
    if (dataChunk && colon != std::string::npos && should != std::string::npos) {
      const unsigned long long declared = std::strtoull(text.c_str() + colon + 1, nullptr, 0);
      const unsigned long long present = std::strtoull(text.c_str() + should + 11, nullptr, 0);
      if (declared > present) found = {declared, present};
    }
    if (end == nullptr) break;
    line = end + 1;
  }
  return found;
}

}  // namespace

AudioFileReader::OwnedDescriptor::~OwnedDescriptor() {
  if (value >= 0) close(value);
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

std::string AudioFileReader::where() const {
  return path_ == "-" ? std::string("standard input") : path_;
}

void AudioFileReader::openInput(const InputSource& origin) {
  const bool standardInput = origin.path == "-";
  const std::string where = this->where();
  struct stat status {};
  if (standardInput ? fstat(STDIN_FILENO, &status) != 0 : stat(where.c_str(), &status) != 0) {
    throw CliError(kExitIo, where + ": cannot open input: " + std::strerror(errno));
  }
  if (S_ISDIR(status.st_mode)) throw CliError(kExitIo, where + ": input is a directory");
  const bool regular = S_ISREG(status.st_mode);
  if (regular && status.st_size == 0) throw CliError(kExitIo, where + ": input file is empty");
  // Raw samples have no header: what they are is given to libsndfile up front.
  SF_INFO raw{};
  if (origin.isRaw()) {
    raw.samplerate = static_cast<int>(origin.rate);
    raw.channels = static_cast<int>(origin.channels);
    raw.format = origin.rawFormat();
    if (!sf_format_check(&raw)) {
      throw CliError(kExitUsage, where + ": raw input cannot be read as " + origin.encoding +
                                     " at " + std::to_string(origin.rate) + " Hz with " +
                                     std::to_string(origin.channels) + " channels");
    }
  }
  if (standardInput) {
    file_ = SndfileHandle(STDIN_FILENO, false, SFM_READ, raw.format, raw.channels, raw.samplerate);
  } else if (regular) {
    file_ = SndfileHandle(where, SFM_READ, raw.format, raw.channels, raw.samplerate);
  } else {
    // A FIFO or device: opened here (waiting for a writer) and read as a stream.
    stream_.value = ::open(where.c_str(), O_RDONLY);
    if (stream_.value < 0) {
      throw CliError(kExitIo, where + ": cannot open input: " + std::strerror(errno));
    }
    file_ = SndfileHandle(stream_.value, false, SFM_READ, raw.format, raw.channels, raw.samplerate);
  }
  if (file_.rawHandle() == nullptr) {
    std::string message = where + ": not a readable audio file (" + sf_strerror(nullptr) + ")";
    // libsndfile's FLAC decoder needs to seek; everything else it reads from a pipe.
    if (!regular) message += "; from a pipe only WAV, AIFF, AU, Ogg and raw can be read";
    throw CliError(kExitIo, message);
  }
  if (file_.channels() <= 0 || file_.samplerate() <= 0) {
    throw CliError(kExitIo, where + ": audio file has no channels or no sample rate");
  }
  const int expected = origin.expectedContainer();
  if (expected != 0 && expected != containerOf(file_.format())) {
    throw CliError(kExitIo, where + ": is " + describeContainer(file_.format()) + ", not " +
                                describeContainer(expected) + " (--input-type " + origin.type +
                                ")");
  }
  // libsndfile normalises PCM to [-1, 1]; float files pass through unscaled.
  file_.command(SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
  for (int id = SF_STR_FIRST; id <= SF_STR_LAST; ++id) {
    const char* value = file_.getString(id);
    if (value != nullptr && *value != '\0') tags_.emplace_back(id, value);
  }
  // A stream's header cannot be checked against its size (a WAV from a pipe
  // declares 0, 0xFFFFFFFF or a guess), so only a regular file's length is trusted.
  lengthKnown_ = regular && file_.frames() != SF_COUNT_MAX && file_.frames() >= 0;
  framesDeclared_ = lengthKnown_ ? static_cast<std::uint64_t>(file_.frames()) : 0;
  if (lengthKnown_) noteShortData();
}

// A WAV written to a pipe (size 0xFFFFFFFF or never updated) or cut off in
// transfer looks like this; the audio that is there is worth processing, but
// the user should know the file was not what it claimed.
void AudioFileReader::noteShortData() {
  const ShortData cut = shortDataChunk(file_);
  if (cut.declared == 0) return;
  warning_ = where() + ": data chunk declares " + std::to_string(cut.declared) +
             " bytes but the file holds " + std::to_string(cut.present) + "; read the " +
             std::to_string(frames()) + " frames there";
}

std::uint64_t AudioFileReader::read(float* interleaved, std::uint64_t count) {
  const sf_count_t got = file_.readf(interleaved, static_cast<sf_count_t>(count));
  if (got < 0 || file_.error() != SF_ERR_NO_ERROR) {
    throw CliError(kExitIo, where() + ": read error: " + file_.strError());
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

}  // namespace quorvelfx
