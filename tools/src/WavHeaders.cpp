#include "WavHeaders.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

namespace quorvelfx {

namespace {

constexpr std::uint32_t kUnknownSize = 0xFFFFFFFFu;

void putLittleEndian32(unsigned char* bytes, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::uint32_t getLittleEndian32(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

bool writeAllAt(int descriptor, const void* data, std::size_t size, off_t offset, int& error) {
  const char* bytes = static_cast<const char*>(data);
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

// libsndfile refuses to write WAV where it cannot seek back to fill in the
// sizes, so a stream's header is made here.
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
  auto text = [&](const char* tag) {
    for (int i = 0; i < 4; ++i) header.push_back(static_cast<unsigned char>(tag[i]));
  };
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

FloatWavFile::FloatWavFile(int descriptor)
    : given_(descriptor), descriptor_(descriptor), io_{fileLength, seek, read, write, tell} {
  // A shell opens a redirection write-only; the same file opened again reads too.
  const int flags = fcntl(descriptor, F_GETFL);
  if (flags >= 0 && (flags & O_ACCMODE) == O_WRONLY) {
    descriptor_ = open(("/dev/fd/" + std::to_string(descriptor)).c_str(), O_RDWR | O_CLOEXEC);
    if (descriptor_ < 0) error_ = errno;
  }
}

FloatWavFile::~FloatWavFile() {
  if (descriptor_ >= 0 && descriptor_ != given_) close(descriptor_);
}

sf_count_t FloatWavFile::fileLength(void* self) {
  return static_cast<FloatWavFile*>(self)->length_;
}

sf_count_t FloatWavFile::seek(sf_count_t offset, int whence, void* self) {
  FloatWavFile& file = *static_cast<FloatWavFile*>(self);
  const sf_count_t base = whence == SEEK_CUR   ? file.position_
                          : whence == SEEK_END ? file.length_
                                               : 0;
  if (base + offset < 0) return -1;
  file.position_ = base + offset;
  return file.position_;
}

sf_count_t FloatWavFile::tell(void* self) { return static_cast<FloatWavFile*>(self)->position_; }

// Calls `transfer(done, bytes, physical offset)` for the parts of
// [position, position + count) before and after the gap.
template <typename Transfer>
sf_count_t FloatWavFile::split(sf_count_t count, Transfer transfer) {
  sf_count_t done = 0;
  while (done < count) {
    const sf_count_t at = position_ + done;
    const sf_count_t part = at < kFmtEnd ? std::min(count - done, kFmtEnd - at) : count - done;
    const sf_count_t moved = transfer(done, part, at < kFmtEnd ? at : at + 2);
    done += moved;
    if (moved < part) break;
  }
  position_ += done;
  return done;
}

sf_count_t FloatWavFile::read(void* bytes, sf_count_t count, void* self) {
  FloatWavFile& file = *static_cast<FloatWavFile*>(self);
  return file.split(count, [&](sf_count_t done, sf_count_t part, sf_count_t offset) {
    const ssize_t got = pread(file.descriptor_, static_cast<char*>(bytes) + done,
                              static_cast<std::size_t>(part), offset);
    if (got < 0 && file.error_ == 0) file.error_ = errno;
    return static_cast<sf_count_t>(std::max<ssize_t>(got, 0));
  });
}

sf_count_t FloatWavFile::write(const void* bytes, sf_count_t count, void* self) {
  FloatWavFile& file = *static_cast<FloatWavFile*>(self);
  const sf_count_t wrote =
      file.split(count, [&](sf_count_t done, sf_count_t part, sf_count_t offset) -> sf_count_t {
        // libsndfile does not see a failed write through virtual I/O, so the
        // first one ends all writing and is reported by the caller.
        if (file.error_ != 0) return 0;
        const char* from = static_cast<const char*>(bytes) + done;
        for (sf_count_t i = 0; offset + i < kFmtEnd && i < part; ++i) {
          file.header_[offset + i] = static_cast<unsigned char>(from[i]);
        }
        const bool ok =
            writeAllAt(file.descriptor_, from, static_cast<std::size_t>(part), offset, file.error_);
        return ok ? part : 0;
      });
  file.length_ = std::max(file.length_, file.position_);
  return wrote;
}

bool FloatWavFile::finish() {
  if (error_ != 0) return false;
  const std::uint32_t riffSize = getLittleEndian32(header_ + 4);
  const bool expected = length_ >= kFmtEnd && std::memcmp(header_, "RIFF", 4) == 0 &&
                        std::memcmp(header_ + 8, "WAVEfmt ", 8) == 0 &&
                        getLittleEndian32(header_ + 16) == 16 && header_[20] == 3 &&
                        header_[21] == 0 && riffSize < 0xFFFFFFF0u;
  bool ok = true;
  sf_count_t end = length_;
  if (expected) {
    unsigned char size[4];
    const unsigned char extension[2] = {0, 0};
    putLittleEndian32(size, riffSize + 2);
    ok = writeAllAt(descriptor_, size, 4, 4, error_);
    putLittleEndian32(size, 18);
    ok = ok && writeAllAt(descriptor_, size, 4, 16, error_) &&
         writeAllAt(descriptor_, extension, 2, kFmtEnd, error_);
    end = length_ + 2;
  } else {
    ok = moveBack();
  }
  // The offset a plain writer would leave, for whatever else writes to the same open file.
  if (ok && lseek(given_, end, SEEK_SET) < 0) {
    error_ = errno;
    ok = false;
  }
  return ok;
}

// Undoes the gap: the bytes after the fmt chunk go back two, and the file ends where
// libsndfile's did.
bool FloatWavFile::moveBack() {
  std::vector<char> buffer(1 << 20);
  for (sf_count_t from = kFmtEnd; from < length_;) {
    const auto part = static_cast<std::size_t>(
        std::min<sf_count_t>(length_ - from, static_cast<sf_count_t>(buffer.size())));
    const ssize_t got = pread(descriptor_, buffer.data(), part, from + 2);
    if (got != static_cast<ssize_t>(part)) {
      error_ = got < 0 ? errno : EIO;
      return false;
    }
    if (!writeAllAt(descriptor_, buffer.data(), part, from, error_)) return false;
    from += static_cast<sf_count_t>(part);
  }
  if (ftruncate(descriptor_, length_) != 0) {
    error_ = errno;
    return false;
  }
  return true;
}

}  // namespace quorvelfx
