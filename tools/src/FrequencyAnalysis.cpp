#include "FrequencyAnalysis.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace quorvelfx {
namespace {

constexpr double kPi = 3.14159265358979323846;

std::size_t checkedSize(std::size_t size) {
  if (size < 2) throw std::invalid_argument("SpectrumAnalyser: size below 2");
  return size;
}

}  // namespace

SpectrumAnalyser::SpectrumAnalyser(std::size_t size)
    : size_(checkedSize(size)),
      window_(size),
      input_(fftwf_alloc_real(size)),
      output_(fftwf_alloc_complex(size / 2 + 1)),
      magnitudes_(size / 2 + 1) {
  // Blackman-Harris: its sidelobes stay below -92 dB, so a loud low note does
  // not smear over the quiet octaves around it. Periodic, so that the centre
  // sample (size / 2) has weight 1.
  double sum = 0.0;
  for (std::size_t i = 0; i < size; ++i) {
    const double x = 2.0 * kPi * static_cast<double>(i) / static_cast<double>(size);
    const double weight =
        0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2 * x) - 0.01168 * std::cos(3 * x);
    window_[i] = static_cast<float>(weight);
    sum += weight;
  }
  // Through the window a sine of amplitude A at a bin's centre gives
  // |X[k]| = A * sum / 2.
  toFullScale_ = 2.0 / sum;
  // FFTW_ESTIMATE plans without running trial transforms: quick, and the
  // same plan (so the same output) on every run.
  plan_.reset(
      fftwf_plan_dft_r2c_1d(static_cast<int>(size), input_.get(), output_.get(), FFTW_ESTIMATE));
  if (!input_ || !output_ || !plan_) throw std::runtime_error("SpectrumAnalyser: FFTW failed");
}

const std::vector<float>& SpectrumAnalyser::analyse(const float* samples, std::size_t frames,
                                                    unsigned int channels, unsigned int channel,
                                                    std::ptrdiff_t first) {
  float* input = input_.get();
  for (std::size_t i = 0; i < size_; ++i) {
    const std::ptrdiff_t at = first + static_cast<std::ptrdiff_t>(i);
    const bool inside = at >= 0 && static_cast<std::size_t>(at) < frames;
    input[i] =
        inside ? samples[static_cast<std::size_t>(at) * channels + channel] * window_[i] : 0.0f;
  }
  fftwf_execute(plan_.get());
  const fftwf_complex* output = output_.get();
  for (std::size_t k = 0; k < magnitudes_.size(); ++k) {
    magnitudes_[k] = static_cast<float>(std::hypot(output[k][0], output[k][1]) * toFullScale_);
  }
  return magnitudes_;
}

double FrequencyAxis::edge(std::size_t row) const {
  const double fraction = static_cast<double>(row) / static_cast<double>(rows);
  return logarithmic ? lowHz * std::pow(highHz / lowHz, fraction)
                     : lowHz + (highHz - lowHz) * fraction;
}

Spectrogram analyseSpectrogram(SpectrumAnalyser& analyser, const std::vector<float>& samples,
                               unsigned int channels, unsigned int channel, unsigned int sampleRate,
                               std::size_t frames, std::size_t columns, const FrequencyAxis& axis) {
  const std::size_t hop =
      std::max<std::size_t>(1, (frames + columns - 1) / std::max<std::size_t>(columns, 1));
  Spectrogram out;
  out.axis = axis;
  out.columns = frames / hop + 1;
  out.hopSeconds = static_cast<double>(hop) / sampleRate;
  out.seconds = static_cast<double>(frames) / sampleRate;
  out.levels.resize(out.columns * axis.rows);

  // Each band as a stretch of fractional bin numbers, clamped to Nyquist.
  const double binHz = static_cast<double>(sampleRate) / static_cast<double>(analyser.size());
  const std::size_t lastBin = analyser.bins() - 1;
  struct Band {
    double firstBin, lastBin;
  };
  std::vector<Band> bands(axis.rows);
  for (std::size_t row = 0; row < axis.rows; ++row) {
    bands[row].firstBin = std::min(axis.edge(row) / binHz, static_cast<double>(lastBin));
    bands[row].lastBin = std::min(axis.edge(row + 1) / binHz, static_cast<double>(lastBin));
  }

  const std::size_t available = std::min(frames, channels == 0 ? 0 : samples.size() / channels);
  const std::ptrdiff_t halfWindow = static_cast<std::ptrdiff_t>(analyser.size() / 2);
  for (std::size_t column = 0; column < out.columns; ++column) {
    const std::vector<float>& bins =
        analyser.analyse(samples.data(), available, channels, channel,
                         static_cast<std::ptrdiff_t>(column * hop) - halfWindow);
    for (std::size_t row = 0; row < axis.rows; ++row) {
      const Band band = bands[row];
      const std::size_t from = static_cast<std::size_t>(std::ceil(band.firstBin));
      const std::size_t to = static_cast<std::size_t>(std::floor(band.lastBin));
      double level = 0.0;
      if (from <= to) {
        for (std::size_t k = from; k <= to; ++k) level = std::max<double>(level, bins[k]);
      } else {
        const double at = 0.5 * (band.firstBin + band.lastBin);
        const std::size_t below = std::min(static_cast<std::size_t>(at), lastBin - 1);
        const double fraction = at - static_cast<double>(below);
        level = bins[below] * (1.0 - fraction) + bins[below + 1] * fraction;
      }
      out.levels[row * out.columns + column] =
          static_cast<float>(20.0 * std::log10(std::max(level, 1e-6)));
    }
  }
  return out;
}

}  // namespace quorvelfx
