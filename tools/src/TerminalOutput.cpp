#include "TerminalOutput.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace quorvelfx {

namespace {

constexpr int kBarWidth = 30;
constexpr double kMinimumSeconds = 3.0;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

std::string clockText(double seconds) {
  const long total = static_cast<long>(seconds + 0.5);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  return text;
}

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

void ProgressBar::draw(std::uint64_t doneFrames, double elapsedSeconds) {
  const double fraction =
      doneFrames >= totalFrames_ ? 1.0 : static_cast<double>(doneFrames) / totalFrames_;
  const int filled = static_cast<int>(fraction * kBarWidth);
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kBarWidth - filled), '-');
  const std::string remaining =
      fraction > 0.0 ? clockText(elapsedSeconds * (1.0 - fraction) / fraction) : "?:??";
  std::fprintf(stderr, "\r[%s] %3d%%  elapsed %s  remaining %s ", bar.c_str(),
               static_cast<int>(fraction * 100.0), clockText(elapsedSeconds).c_str(),
               remaining.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void ProgressBar::finish() {
  if (!drawn_) return;
  std::fprintf(stderr, "\r%*s\r", kBarWidth + 48, "");
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
    "       more than two channels) or fails while processing\n"
    "  130  interrupted; the temporary output was removed\n"
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
          "Run 'quorvel-fx COMMAND --help' for a command's options.\n\n") +
      kExitStatus;
  return text.c_str();
}

const char* HelpText::applyFooter() {
  static const std::string text =
      std::string(
          "EFFECT is a type name as 'quorvel-fx list' shows it, short (Chorus) or fully\n"
          "qualified (AudioEffects.Chorus), in any letter case. Each name=value after it sets\n"
          "one of its parameters ('quorvel-fx describe EFFECT' lists them); effects run in the\n"
          "order given. Booleans take true/false, yes/no, on/off, 1/0.\n\n"
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

const char* HelpText::demoFooter() {
  return "Writes into OUTDIR: dry.wav (the built-in test signal: plucked notes, clicks and a\n"
         "sine sweep, 6 s stereo at 48 kHz), one WAV per registered effect with its default\n"
         "settings, sonogram-EFFECT.png (dry beside processed) and impulse-EFFECT.png.\n"
         "Pictures need sox and gnuplot; without them only the WAV files are written.\n\n"
         "Examples:\n"
         "  quorvel-fx demo\n"
         "  quorvel-fx demo /tmp/fx-demo\n";
}

}  // namespace quorvelfx
