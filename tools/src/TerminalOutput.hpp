#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

// What the tool writes for people on a terminal: the progress bar, plain-text
// tables and the prose of --help.
namespace quorvelfx {

// A one-line progress bar on stderr: bar, percent, elapsed and remaining time,
// as wide as the terminal is at each redraw. Draws nothing when disabled;
// redraws at most ten times a second.
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

  // The bar's text for `fraction` done after `elapsedSeconds`, shorter than
  // `columns` so that it never wraps. The remaining time is left out until
  // kEstimateSeconds and kEstimateFraction have passed: before that it is noise.
  static std::string line(double fraction, double elapsedSeconds, int columns);
  // The width of the terminal on stderr, else $COLUMNS, else 80.
  static int terminalColumns();
  // Erases a bar on screen; async-signal-safe, for an interrupt handler.
  static void clearForSignal() noexcept;

  static constexpr double kEstimateSeconds = 1.0;
  static constexpr double kEstimateFraction = 0.05;

 private:
  using Clock = std::chrono::steady_clock;
  void draw(std::uint64_t doneFrames, double elapsedSeconds);

  bool enabled_;
  bool drawn_ = false;
  std::uint64_t totalFrames_;
  Clock::time_point start_;
  Clock::time_point lastDraw_;
};

// Left-aligned plain-text columns separated by two spaces; the last column is not padded.
class TextTable {
 public:
  // A table whose first row is `header`.
  explicit TextTable(std::vector<std::string> header);
  // Appends a row; missing cells are blank.
  void add(std::vector<std::string> row);
  // Writes the table, `indent` spaces before each line.
  void print(std::ostream& out, int indent = 0) const;

 private:
  std::vector<std::vector<std::string>> rows_;
};

// The prose of --help: descriptions, examples and the exit-status table,
// kept in one place so the man page can follow it.
namespace HelpText {

// Footer of `quorvel-fx --help`: commands' examples and exit statuses.
const char* toolFooter();
// Footer of `quorvel-fx apply --help`.
const char* applyFooter();
// Footer of `quorvel-fx list --help`.
const char* listFooter();
// Footer of `quorvel-fx describe --help`.
const char* describeFooter();
// Footer of `quorvel-fx chain --help`.
const char* chainFooter();
// Footer of `quorvel-fx demo --help`.
const char* demoFooter();

}  // namespace HelpText

}  // namespace quorvelfx
