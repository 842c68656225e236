#include "HelpText.hpp"

#include <string>

namespace quorvelfx {
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
         "kinds, defaults and ranges.\n\n"
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
