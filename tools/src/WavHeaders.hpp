#pragma once

#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <vector>

// The WAV headers libsndfile does not write the way the tool needs them:
// float WAV with the fmt chunk's cbSize field, and WAV for a stream that
// cannot seek back to fill in its sizes.
namespace quorvelfx {

// A WAV header for a stream whose length is not known when it starts, in
// SF_FORMAT_* `format` (WAV | PCM_U8..PCM_32, FLOAT or DOUBLE). Both sizes are
// 0xFFFFFFFF (what readers take as "to the end"); the samples follow as raw
// little-endian. Float headers carry cbSize = 0 and a fact chunk.
std::vector<unsigned char> streamingWavHeader(int format, unsigned int sampleRate,
                                              unsigned int channels);

// libsndfile writes float WAV with a 16-byte fmt chunk, and SoX warns "wave
// header missing extended part of fmt chunk" (as it does about
// WAVE_FORMAT_EXTENSIBLE): every non-PCM fmt chunk should end in a cbSize
// field. Moving a finished file up by two bytes costs as much as writing it
// again, so libsndfile writes through this file instead: every byte it puts at
// or after the end of the 16-byte fmt chunk lands two bytes further on, and
// finish() only fills in cbSize = 0 and the two sizes that grow by it.
//
// For a seekable regular file that the WAV starts at the beginning of.
class FloatWavFile {
 public:
  // Writes to `descriptor` (not taken over). A write-only descriptor is
  // reopened for reading and writing, since finish() may read back.
  explicit FloatWavFile(int descriptor);
  ~FloatWavFile();
  FloatWavFile(const FloatWavFile&) = delete;
  FloatWavFile& operator=(const FloatWavFile&) = delete;

  // The callbacks for SndfileHandle's virtual I/O constructor, with `this` as user data.
  SF_VIRTUAL_IO& io() noexcept { return io_; }
  // errno of the first failed read, write or reopen; 0 when there was none.
  int error() const noexcept { return error_; }
  // After libsndfile has closed the file: adds cbSize, or, for a header other
  // than the 16-byte float fmt expected, moves the rest back where libsndfile
  // put it. Leaves the descriptor's offset at the end. False on an I/O error (see error()).
  bool finish();

  // The byte offset of the end of a 16-byte fmt chunk, where cbSize goes.
  static constexpr sf_count_t kFmtEnd = 36;

 private:
  static sf_count_t fileLength(void* self);
  static sf_count_t seek(sf_count_t offset, int whence, void* self);
  static sf_count_t read(void* bytes, sf_count_t count, void* self);
  static sf_count_t write(const void* bytes, sf_count_t count, void* self);
  static sf_count_t tell(void* self);
  template <typename Transfer>
  sf_count_t split(sf_count_t count, Transfer transfer);
  bool moveBack();

  int given_;
  int descriptor_;  // given_, or its read-write reopening
  SF_VIRTUAL_IO io_;
  sf_count_t position_ = 0;
  sf_count_t length_ = 0;               // as libsndfile sees the file
  unsigned char header_[kFmtEnd] = {};  // the first bytes as libsndfile last wrote them
  int error_ = 0;
};

}  // namespace quorvelfx
