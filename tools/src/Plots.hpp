#pragma once

#include <string>
#include <vector>

#include "FrequencyAnalysis.hpp"

namespace quorvelfx {

// One signal's column of spectrogram panels: its title and one spectrogram
// per channel, left first, all on the same frequency axis and time span.
struct SpectrogramColumn {
  std::string title;
  std::vector<Spectrogram> channels;
};

// Draws the demo's pictures with gnuplot from data computed here: gnuplot is
// given matrices and samples, never pictures. Each method writes `pngPath`
// only when it succeeds and returns false otherwise; once gnuplot turns out
// not to be installed, nothing more is attempted.
class Plotter {
 public:
  // False once gnuplot was found missing from $PATH.
  bool installed() const noexcept { return installed_; }

  // Draws `columns` side by side, each signal's channels stacked (left on
  // top) and labelled, on a linear frequency axis in kHz or a logarithmic one
  // in Hz, time in seconds, levels from -100 to 0 dBFS; `heading`, unless
  // empty, goes above.
  bool spectrograms(const std::vector<SpectrogramColumn>& columns, const std::string& heading,
                    const std::string& pngPath);
  // Plots both channels of interleaved stereo `samples` at `sampleRate` Hz
  // as levels in dB (down to -90) against time in milliseconds.
  bool impulseResponse(const std::vector<float>& samples, unsigned int sampleRate,
                       const std::string& title, const std::string& pngPath);

 private:
  // Runs `script` with gnuplot, which writes `partPath`; renamed to `pngPath`
  // on success, removed otherwise.
  bool draw(const std::string& script, const std::string& partPath, const std::string& pngPath);

  bool installed_ = true;
};

}  // namespace quorvelfx
