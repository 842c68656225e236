#include "ProgressBar.hpp"

#include <unistd.h>

#include <cstdio>
#include <string>

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

}  // namespace quorvelfx
