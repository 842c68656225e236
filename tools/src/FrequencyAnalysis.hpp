#pragma once

#include <fftw3.h>

#include <cstddef>
#include <memory>
#include <type_traits>
#include <vector>

namespace quorvelfx {

// Magnitude spectra of windowed stretches of one channel, through one FFTW
// plan made when the analyser is built and reused for every frame. FFTW's
// planner is not thread-safe: build analysers on one thread.
class SpectrumAnalyser {
 public:
  // A `size`-point transform (at least 2) behind a Blackman-Harris window.
  explicit SpectrumAnalyser(std::size_t size);

  // Transform length in samples.
  std::size_t size() const noexcept { return size_; }
  // Number of bins from 0 Hz to Nyquist: size() / 2 + 1.
  std::size_t bins() const noexcept { return size_ / 2 + 1; }

  // Magnitudes of bins 0..size()/2 of frames `first` to `first` + size() - 1
  // of channel `channel` of `frames` interleaved frames of `channels`
  // samples; frames outside [0, frames) read as silence. A full-scale sine at
  // a bin's centre reads 1 in that bin. Valid until the next call.
  const std::vector<float>& analyse(const float* samples, std::size_t frames, unsigned int channels,
                                    unsigned int channel, std::ptrdiff_t first);

 private:
  struct FreeFloats {
    void operator()(float* data) const noexcept { fftwf_free(data); }
  };
  struct FreeComplex {
    void operator()(fftwf_complex* data) const noexcept { fftwf_free(data); }
  };
  struct DestroyPlan {
    void operator()(fftwf_plan plan) const noexcept { fftwf_destroy_plan(plan); }
  };

  std::size_t size_;
  std::vector<float> window_;
  double toFullScale_;  // from |X[k]| to the amplitude of a sine at bin k
  std::unique_ptr<float, FreeFloats> input_;
  std::unique_ptr<fftwf_complex, FreeComplex> output_;
  std::unique_ptr<std::remove_pointer_t<fftwf_plan>, DestroyPlan> plan_;
  std::vector<float> magnitudes_;
};

// The rows of a spectrogram: `rows` bands from lowHz to highHz, each equally
// wide in Hz (linear) or in log(Hz).
struct FrequencyAxis {
  double lowHz = 0.0;
  double highHz = 0.0;
  std::size_t rows = 0;
  bool logarithmic = false;

  // Frequency in Hz of the lower edge of band `row`; edge(rows) is highHz.
  double edge(std::size_t row) const;
};

// One channel's short-time spectrum: levels in dBFS (floored at -120), row by
// row from the lowest band, `columns` to a row. Column c is the window
// centred c * hopSeconds after the start.
struct Spectrogram {
  FrequencyAxis axis;
  std::size_t columns = 0;
  double hopSeconds = 0.0;  // time from one column to the next
  double seconds = 0.0;     // length of the stretch analysed
  std::vector<float> levels;

  // Level in dBFS of band `row` at column `column`.
  float at(std::size_t row, std::size_t column) const { return levels[row * columns + column]; }
};

// The spectrogram of channel `channel` of the first `frames` frames of
// interleaved `samples` (`channels` to a frame, silence past their end) at
// `sampleRate` Hz, in about `columns` columns. A band narrower than a bin
// reads between its two nearest bins; a wider one takes its strongest bin, so
// that a sine in it is not missed.
Spectrogram analyseSpectrogram(SpectrumAnalyser& analyser, const std::vector<float>& samples,
                               unsigned int channels, unsigned int channel, unsigned int sampleRate,
                               std::size_t frames, std::size_t columns, const FrequencyAxis& axis);

}  // namespace quorvelfx
