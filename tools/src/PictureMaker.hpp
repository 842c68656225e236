#pragma once

#include <string>
#include <vector>

namespace quorvelfx {

// Draws the demo's pictures with well-known tools: spectrograms with SoX,
// side-by-side comparisons and impulse-response plots with gnuplot. Each
// method returns false (and draws nothing) when its tool is missing or fails.
class PictureMaker {
 public:
  // Looks for sox and gnuplot on $PATH.
  PictureMaker();

  // True when sox is installed.
  bool hasSox() const noexcept { return sox_; }
  // True when gnuplot is installed.
  bool hasGnuplot() const noexcept { return gnuplot_; }

  // Writes a spectrogram of `wavPath` (one panel per channel) to `pngPath`.
  bool spectrogram(const std::string& wavPath, const std::string& pngPath,
                   const std::string& title) const;
  // Places two PNG pictures side by side in `pngPath`.
  bool sideBySide(const std::string& leftPng, const std::string& rightPng,
                  const std::string& pngPath) const;
  // Plots both channels of interleaved stereo `samples` at `sampleRate` Hz
  // against time in milliseconds.
  bool impulseResponse(const std::vector<float>& samples, unsigned int sampleRate,
                       const std::string& pngPath, const std::string& title) const;

 private:
  bool sox_;
  bool gnuplot_;
};

}  // namespace quorvelfx
