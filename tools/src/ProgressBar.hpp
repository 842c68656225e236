#pragma once

#include <chrono>
#include <cstdint>

namespace quorvelfx {

// A one-line progress bar on stderr: bar, percent, elapsed and remaining time.
// Draws nothing when disabled; redraws at most ten times a second.
class ProgressBar {
 public:
  // True when a bar is worth showing: stderr is a terminal, not --quiet, and
  // the work covers more than a few seconds of audio.
  static bool wanted(bool quiet, double audioSeconds);

  // A bar for `totalFrames` frames of work; `enabled` false makes every call a no-op.
  ProgressBar(bool enabled, std::uint64_t totalFrames);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Reports that `doneFrames` of the total are finished.
  void update(std::uint64_t doneFrames);
  // Erases the bar so the summary line starts on a clean line.
  void finish();

 private:
  using Clock = std::chrono::steady_clock;
  void draw(std::uint64_t doneFrames, double elapsedSeconds);

  bool enabled_;
  bool drawn_ = false;
  std::uint64_t totalFrames_;
  Clock::time_point start_;
  Clock::time_point lastDraw_;
};

}  // namespace quorvelfx
