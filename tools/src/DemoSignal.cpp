#include "DemoSignal.hpp"

#include <cmath>
#include <cstddef>

namespace quorvelfx {
namespace {

constexpr double kPi = 3.14159265358979323846;

constexpr double kDuration = 6.0;

struct Note {
  double start;      // seconds
  double frequency;  // Hz
  double pan;        // 0 = left, 1 = right
};

// A plucked string: harmonics whose amplitude falls as 1/k and which decay
// faster the higher they are, after a 2 ms attack.
void addPluck(std::vector<float>& out, unsigned int rate, const Note& note) {
  const std::size_t first = static_cast<std::size_t>(note.start * rate);
  const std::size_t length = static_cast<std::size_t>(1.2 * rate);
  const double attack = 0.002 * rate;
  const double left = std::cos(note.pan * kPi / 2);
  const double right = std::sin(note.pan * kPi / 2);
  for (std::size_t i = 0; i < length && 2 * (first + i) + 1 < out.size(); ++i) {
    const double t = static_cast<double>(i) / rate;
    double sample = 0.0;
    for (int k = 1; k <= 8; ++k) {
      if (note.frequency * k > 0.45 * rate) break;
      sample += std::sin(2 * kPi * note.frequency * k * t) * std::exp(-t * (2.5 + 1.5 * k)) / k;
    }
    sample *= 0.32 * (i < attack ? i / attack : 1.0);
    out[2 * (first + i)] += static_cast<float>(sample * left);
    out[2 * (first + i) + 1] += static_cast<float>(sample * right);
  }
}

void addClick(std::vector<float>& out, unsigned int rate, double when, float left, float right) {
  const std::size_t frame = static_cast<std::size_t>(when * rate);
  out[2 * frame] += left;
  out[2 * frame + 1] += right;
}

// An exponential sweep with 10 ms raised-cosine fades at both ends.
void addSweep(std::vector<float>& out, unsigned int rate, double start, double seconds) {
  const double f0 = 40.0;
  const double f1 = 16000.0;
  const double k = std::log(f1 / f0);
  const std::size_t first = static_cast<std::size_t>(start * rate);
  const std::size_t length = static_cast<std::size_t>(seconds * rate);
  const double fade = 0.01 * rate;
  for (std::size_t i = 0; i < length; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double phase = 2 * kPi * f0 * seconds / k * (std::exp(t / seconds * k) - 1.0);
    double gain = 0.3;
    if (i < fade) gain *= 0.5 - 0.5 * std::cos(kPi * i / fade);
    if (length - i < fade) gain *= 0.5 - 0.5 * std::cos(kPi * (length - i) / fade);
    const float sample = static_cast<float>(gain * std::sin(phase));
    out[2 * (first + i)] += sample;
    out[2 * (first + i) + 1] += sample;
  }
}

}  // namespace

namespace DemoSignal {

double durationSeconds() { return kDuration; }

std::vector<float> synthesize(unsigned int sampleRate) {
  const std::size_t frames = static_cast<std::size_t>(kDuration * sampleRate);
  std::vector<float> out(2 * frames, 0.0f);
  // Notes until 2.6 s, clicks until 3.5 s, the sweep until 5.2 s, then
  // silence; each effect's tail is added after it when rendering.
  const Note notes[] = {
      {0.0, 220.0, 0.2}, {0.45, 277.18, 0.8}, {0.9, 329.63, 0.35}, {1.35, 440.0, 0.65}};
  for (const Note& note : notes) addPluck(out, sampleRate, note);
  addClick(out, sampleRate, 2.7, 0.8f, 0.8f);
  addClick(out, sampleRate, 2.95, 0.8f, 0.0f);
  addClick(out, sampleRate, 3.2, 0.0f, 0.8f);
  addClick(out, sampleRate, 3.45, 0.8f, 0.8f);
  addSweep(out, sampleRate, 3.7, 1.5);
  return out;
}

std::vector<float> impulse(unsigned int frames) {
  std::vector<float> out(2 * static_cast<std::size_t>(frames), 0.0f);
  if (frames > 0) out[0] = 1.0f;
  return out;
}

}  // namespace DemoSignal

}  // namespace quorvelfx
