#include "AudioFileWriter.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "CommandLine.hpp"

namespace quorvelfx {

namespace {

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

// True for a regular file whose current offset is its start: the one kind of
// output a float WAV is given its cbSize in (see FloatWavFile).
bool regularFromStart(int descriptor) {
  struct stat status {};
  return fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) &&
         lseek(descriptor, 0, SEEK_CUR) == 0;
}

}  // namespace

const OutputFormat& AudioFileWriter::checked(const std::string& path, const OutputFormat& format,
                                             unsigned int sampleRate, unsigned int channels) {
  SF_INFO info{};
  info.samplerate = static_cast<int>(sampleRate);
  info.channels = static_cast<int>(channels);
  info.format = format.sndfileFormat();
  if (!sf_format_check(&info)) {
    throw CliError(kExitIo, (path == "-" ? std::string("standard output") : path) + ": " +
                                format.name() + " cannot hold " + std::to_string(channels) +
                                " channels at " + std::to_string(sampleRate) + " Hz");
  }
  return format;
}

AudioFileWriter::AudioFileWriter(const std::string& path, const OutputFormat& format,
                                 unsigned int sampleRate, unsigned int channels,
                                 const AudioTags& tags, const Quantisation& quantisation)
    : path_(path),
      format_(checked(path, format, sampleRate, channels)),
      channels_(channels),
      quantiser_(format.pcmBits(), quantisation),
      output_(path) {
  open(sampleRate, tags);
}

void AudioFileWriter::open(unsigned int sampleRate, const AudioTags& tags) {
  const std::string& where = output_.where();
  const int descriptor = output_.descriptor();
  const int container = format_.sndfileFormat() & SF_FORMAT_TYPEMASK;
  int sndfileFormat = format_.sndfileFormat();
  // Where the output cannot seek, WAV is written with a streaming header of
  // its own; AIFF, whose libsndfile writer then silently drops the audio, is refused.
  const bool seekable = lseek(descriptor, 0, SEEK_CUR) >= 0;
  // A descriptor opened for appending (a shell's >>) puts every write at the
  // end: a header completed once the audio is in would land after it, and the
  // file would hold two broken headers. Raw samples have no header to complete.
  const int flags = fcntl(descriptor, F_GETFL);
  if (flags >= 0 && (flags & O_APPEND) != 0 && container != SF_FORMAT_RAW) {
    throw CliError(kExitUsage, where +
                                   ": the output is opened for appending (>>); a sound file "
                                   "cannot be appended to: write it with > or use --type raw");
  }
  if (!seekable && container == SF_FORMAT_AIFF) {
    throw CliError(kExitUsage, where +
                                   ": AIFF cannot be written to a pipe; use --type wav, au or "
                                   "raw for a stream");
  }
  if (!seekable && container == SF_FORMAT_WAV) {
    const std::vector<unsigned char> header =
        streamingWavHeader(sndfileFormat, sampleRate, channels_);
    if (!writeAll(descriptor, header.data(), header.size())) {
      throw CliError(kExitIo, where + ": write error: " + std::strerror(errno));
    }
    sndfileFormat = SF_FORMAT_RAW | SF_ENDIAN_LITTLE | (sndfileFormat & SF_FORMAT_SUBMASK);
  }
  const int rate = static_cast<int>(sampleRate);
  const int channels = static_cast<int>(channels_);
  if (container == SF_FORMAT_WAV && !format_.isPcm() && seekable && regularFromStart(descriptor)) {
    floatWav_ = std::make_unique<FloatWavFile>(descriptor);
    if (floatWav_->error() == 0) {
      file_ =
          SndfileHandle(floatWav_->io(), floatWav_.get(), SFM_WRITE, sndfileFormat, channels, rate);
    }
    // libsndfile does not see a failed write through virtual I/O; its header is checked here.
    if (floatWav_->error() != 0) file_ = SndfileHandle();
  } else {
    file_ = SndfileHandle(descriptor, false, SFM_WRITE, sndfileFormat, channels, rate);
  }
  if (file_.rawHandle() == nullptr) {
    throw CliError(kExitIo, where + ": cannot write output: " + writeFailure());
  }
  // No PEAK chunk in float files: it carries the time of writing, and the
  // same command must give the same bytes.
  file_.command(SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
  // Tags go in before the audio: FLAC and Ogg take them only then. A tag the
  // container has no field for is dropped.
  for (const auto& [id, value] : tags) file_.setString(id, value.c_str());
}

// libsndfile's own words for a failed write, in its form where it could not see the failure.
std::string AudioFileWriter::writeFailure() {
  if (floatWav_ && floatWav_->error() != 0) {
    return std::string("System error : ") + std::strerror(floatWav_->error()) + ".";
  }
  return sf_strerror(file_.rawHandle());
}

void AudioFileWriter::write(const float* interleaved, std::uint64_t count) {
  sf_count_t wrote = 0;
  if (format_.isPcm()) {
    const std::size_t samples = static_cast<std::size_t>(count) * channels_;
    integers_.resize(samples);
    clipped_ += quantiser_.quantise(interleaved, integers_.data(), samples);
    wrote = file_.writef(integers_.data(), static_cast<sf_count_t>(count));
  } else {
    wrote = file_.writef(interleaved, static_cast<sf_count_t>(count));
  }
  if (wrote != static_cast<sf_count_t>(count)) {
    throw CliError(kExitIo, path_ + ": write error: " + writeFailure());
  }
}

void AudioFileWriter::commit() {
  // Closing the handle has libsndfile write its final header.
  file_ = SndfileHandle();
  if (floatWav_) {
    const bool finished = floatWav_->finish();
    const int error = floatWav_->error();
    floatWav_.reset();
    if (!finished) {
      output_.discard();
      throw CliError(kExitIo, output_.where() + ": write error: " + std::strerror(error));
    }
  }
  output_.commit();
}

}  // namespace quorvelfx
