#include "TerminalOutput.hpp"

#include <fmt/format.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace quorvelfx {

namespace {

constexpr int kMinimumBarWidth = 10;
constexpr int kDefaultColumns = 80;
// "\r", then erase to the end of the line: clears a bar of any width.
constexpr char kClearLine[] = "\r\033[K";
constexpr double kMinimumSeconds = 3.0;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

std::string clockText(double seconds) {
  const long total = static_cast<long>(seconds + 0.5);
  return fmt::format("{}:{:02}", total / 60, total % 60);
}

// Whether a bar is on screen, for the signal handler.
volatile std::sig_atomic_t barOnScreen = 0;

}  // namespace

bool ProgressBar::wanted(bool quiet, double audioSeconds) {
  return !quiet && audioSeconds > kMinimumSeconds && isatty(STDERR_FILENO) == 1;
}

ProgressBar::ProgressBar(bool enabled, std::uint64_t totalFrames)
    : enabled_(enabled && totalFrames > 0),
      totalFrames_(totalFrames),
      start_(Clock::now()),
      lastDraw_(start_) {}

ProgressBar::~ProgressBar() { finish(); }

void ProgressBar::update(std::uint64_t doneFrames) {
  if (!enabled_) return;
  const Clock::time_point now = Clock::now();
  if (drawn_ && now - lastDraw_ < kRedrawInterval && doneFrames < totalFrames_) return;
  lastDraw_ = now;
  draw(doneFrames, std::chrono::duration<double>(now - start_).count());
}

std::string ProgressBar::line(double fraction, double elapsedSeconds, int columns) {
  fraction = std::clamp(fraction, 0.0, 1.0);
  const std::string percent = fmt::format("{:3}%", static_cast<int>(fraction * 100.0));
  const std::string elapsed = "  elapsed " + clockText(elapsedSeconds);
  std::string remaining;
  if (elapsedSeconds >= kEstimateSeconds && fraction >= kEstimateFraction) {
    remaining = "  remaining " + clockText(elapsedSeconds * (1.0 - fraction) / fraction);
  }
  // The last column stays empty: writing there wraps on some terminals.
  const int room = columns - 1;
  std::string text = std::string(" ") + percent;
  // On a narrow terminal the remaining time, the more useful, goes first.
  for (const std::string& times : {elapsed + remaining, remaining, elapsed}) {
    if (room - static_cast<int>(text.size() + times.size()) - 2 >= kMinimumBarWidth) {
      text += times;
      break;
    }
  }
  const int barWidth = room - static_cast<int>(text.size()) - 2;
  if (barWidth < kMinimumBarWidth) return text.substr(1, static_cast<std::size_t>(room));
  const int filled = static_cast<int>(fraction * barWidth);
  return "[" + std::string(static_cast<std::size_t>(filled), '#') +
         std::string(static_cast<std::size_t>(barWidth - filled), '-') + "]" + text;
}

int ProgressBar::terminalColumns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  if (const char* columns = std::getenv("COLUMNS")) {
    const int value = std::atoi(columns);
    if (value > 0) return value;
  }
  return kDefaultColumns;
}

void ProgressBar::clearForSignal() noexcept {
  if (!barOnScreen) return;
  const ssize_t ignored = write(STDERR_FILENO, kClearLine, sizeof kClearLine - 1);
  static_cast<void>(ignored);
  barOnScreen = 0;
}

// The width is asked anew each time, so the bar follows a resized window.
void ProgressBar::draw(std::uint64_t doneFrames, double elapsedSeconds) {
  const double fraction =
      doneFrames >= totalFrames_ ? 1.0 : static_cast<double>(doneFrames) / totalFrames_;
  const std::string text = line(fraction, elapsedSeconds, terminalColumns());
  std::fprintf(stderr, "%s%s", kClearLine, text.c_str());
  std::fflush(stderr);
  drawn_ = true;
  barOnScreen = 1;
}

void ProgressBar::finish() {
  if (!drawn_) return;
  barOnScreen = 0;
  std::fprintf(stderr, "%s", kClearLine);
  std::fflush(stderr);
  drawn_ = false;
}

TextTable::TextTable(std::vector<std::string> header) { rows_.push_back(std::move(header)); }

void TextTable::add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }

void TextTable::print(std::ostream& out, int indent) const {
  std::vector<std::size_t> widths;
  for (const auto& row : rows_) {
    if (row.size() > widths.size()) widths.resize(row.size(), 0);
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  for (const auto& row : rows_) {
    std::string line(static_cast<std::size_t>(indent), ' ');
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size() + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << '\n';
  }
}

namespace {

constexpr const char* kExitStatus =
    "Exit status:\n"
    "  0    success\n"
    "  1    unexpected internal error\n"
    "  2    usage error: bad command line, unknown effect or parameter, unparsable or\n"
    "       out-of-range value, a delay longer than the delay line at the file's rate\n"
    "  3    input/output failure: missing, empty, truncated or non-audio input; unwritable output\n"
    "  4    processing failure: an effect refuses the audio (e.g. mono into PingPongDelay,\n"
    "       three channels into Chorus) or fails while processing\n"
    "  130  interrupted by SIGINT; the temporary output was removed\n"
    "  143  terminated by SIGTERM; the temporary output was removed\n"
    "The output is written to a temporary file beside it and renamed only on success,\n"
    "so a failed run never leaves a partial file or replaces an existing one.\n";

}  // namespace

const char* HelpText::toolFooter() {
  static const std::string text =
      std::string(
          "Examples:\n"
          "  quorvel-fx apply guitar.wav out.wav Chorus\n"
          "  quorvel-fx apply voice.flac out.flac Delay delayMs=350 "
          "feedbackLevel=0.4 Flanger\n"
          "  quorvel-fx list\n"
          "  quorvel-fx describe PingPongDelay --json\n"
          "  quorvel-fx demo\n"
          "Run 'quorvel-fx help COMMAND' or 'quorvel-fx COMMAND --help' for a command's\n"
          "options.\n\n") +
      kExitStatus;
  return text.c_str();
}

const char* HelpText::applyFooter() {
  static const std::string text =
      std::string(
          "EFFECT is a type name as 'quorvel-fx list' shows it, short (Chorus) or fully\n"
          "qualified (AudioEffects.Chorus), in any letter case. Each name=value after it sets\n"
          "one of its parameters ('quorvel-fx describe EFFECT' lists them); effects run in the\n"
          "order given. A value is a number, in the parameter's unit or with one of its own\n"
          "(350, 350ms, 0.35s, 350000us; 5, 5Hz, 0.005kHz), or a switch (true/false,\n"
          "yes/no, on/off, 1/0); the whole grammar is in \"Setting values\" in the README\n"
          "and in 'man quorvel-fx'. 'quorvel-fx chain' checks a chain without audio.\n\n"
          "The default tail also covers each effect's latency (Vibrato delays its signal by\n"
          "half its sweep width); --tail 0 cuts off what that latency holds back.\n\n"
          "Examples:\n"
          "  quorvel-fx apply in.wav out.wav Delay delayMs=300 feedbackLevel=0.5\n"
          "  quorvel-fx apply in.wav out.wav PingPongDelay wetMix=0.5 Chorus frequency=0.3\n"
          "  quorvel-fx apply --encoding pcm16 --tail 0 in.flac out.wav Vibrato sweepWidth=0.005\n"
          "  quorvel-fx apply -q --block 1024 in.aiff out.ogg Flanger\n\n") +
      kExitStatus;
  return text.c_str();
}

const char* HelpText::listFooter() {
  return "Examples:\n"
         "  quorvel-fx list\n"
         "  quorvel-fx list --json | jq '.[].name'\n";
}

const char* HelpText::describeFooter() {
  return "Shows the type's descriptor and the parameters 'apply' accepts, with their\n"
         "kinds, units, defaults and ranges, as the effect's parameter table states them.\n\n"
         "Examples:\n"
         "  quorvel-fx describe Delay\n"
         "  quorvel-fx describe audioeffects.pingpongdelay --json\n";
}

const char* HelpText::chainFooter() {
  return "Checks the effects and their values as 'apply' does, then prints them as a chain\n"
         "file with every parameter given as the effect stores it (values: see \"Setting\n"
         "values\" in the README).\n\n"
         "Examples:\n"
         "  quorvel-fx chain Delay delayMs=0.35s Chorus sweepWidth=25ms > preset.json\n"
         "  quorvel-fx apply --chain preset.json in.wav out.wav\n"
         "  quorvel-fx chain --chain preset.json\n";
}

const char* HelpText::demoFooter() {
  return "Writes into OUTDIR: dry.wav (the built-in test signal: plucked notes, clicks and a\n"
         "sine sweep, 6 s stereo at 48 kHz), one WAV per registered effect with its default\n"
         "settings, sonogram-dry.png, sonogram-EFFECT.png (dry beside processed, to 24 kHz),\n"
         "sonogram-log-EFFECT.png (the same on a log-frequency scale, 30 Hz to 20 kHz) and\n"
         "impulse-EFFECT.png. Pictures need gnuplot; without it only the WAVs are written.\n\n"
         "Examples:\n"
         "  quorvel-fx demo\n"
         "  quorvel-fx demo /tmp/fx-demo\n";
}

}  // namespace quorvelfx
