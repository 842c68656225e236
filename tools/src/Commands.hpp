#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvelfx {

// The command line of one `quorvel-fx apply` run, as CLI11 has checked and
// converted it; runApply() checks how the words and options fit together.
struct ApplyOptions {
  // INPUT OUTPUT [EFFECT ...] as typed; with --output-dir or --null, the inputs
  // (and, when no `--` separates them, the effects).
  std::vector<std::string> words;
  std::vector<std::string> chain;     // EFFECT [name=value ...] ... given after `--`
  bool separated = false;             // a `--` came before `chain`
  std::string chainFile;              // --chain: the effects as JSON
  std::string outputDir;              // --output-dir: one output per input, named after it
  std::optional<unsigned int> jobs;   // --jobs: worker threads for several inputs, 1 to 32
  unsigned int block = 256;           // frames per block, 1 to 65536
  std::string encoding;               // float, double, pcm8..pcm32; empty to follow the input
  std::string type;                   // output container; empty to follow OUTPUT's extension
  std::string inputType;              // input container; empty to tell it from the data
  unsigned int rate = 0;              // raw input: sample rate in Hz; 0 when not given
  unsigned int channels = 0;          // raw input: channel count, 1 to 64; 0 when not given
  std::string inputEncoding;          // raw input: sample encoding
  bool noDither = false;              // plain rounding for integer PCM output
  std::optional<std::uint32_t> seed;  // seeds the dither; none for the fixed default
  std::optional<double> tail;  // seconds of silence to append, 0 to 3600; none for the chain's own
  std::optional<double> gainDb;  // dB applied after the chain, -120 to 120; none for 0 dB
  std::optional<double>
      normDb;            // peak level to normalise to, -120 to 0 dBFS; none for no normalising
  bool discard = false;  // --null: process and measure, write nothing
  bool json = false;     // print the results as JSON
  bool quiet = false;
};

// Each command returns kExitSuccess (or, for the demo, kExitProcessing when
// some effect failed) and throws CliError for anything it reports as an error.

// `apply`: runs an input file through a chain of effects into an output file.
int runApply(const ApplyOptions& options);
// `list`: every registered type (name, display name, categories,
// description) as a table or, with `json`, as JSON.
int runList(bool json);
// `describe`: one type's descriptor and parameter table as text or JSON.
int runDescribe(const std::string& typeName, bool json);

// `chain`: the effects of `words` (as apply takes them) or of `chainFile`,
// checked, printed as a chain file with every value as the effect stores it.
int runChain(const std::string& chainFile, const std::vector<std::string>& words);
// `demo`: the built-in test signal through every registered effect with its
// defaults; writes the dry and processed WAV files, spectrograms and
// impulse-response plots into `outputDirectory` (created if missing) and
// prints a table of level and speed per effect.
int runDemo(const std::string& outputDirectory);

}  // namespace quorvelfx
