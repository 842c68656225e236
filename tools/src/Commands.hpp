#pragma once

#include <string>
#include <vector>

namespace quorvelfx {

// The command line of one `quorvel-fx apply` run, as text; runApply() validates it.
struct ApplyOptions {
  // INPUT OUTPUT [EFFECT ...] as typed; with --output-dir or --null, the inputs
  // (and, when no `--` separates them, the effects).
  std::vector<std::string> words;
  std::vector<std::string> chain;  // EFFECT [name=value ...] ... given after `--`
  bool separated = false;          // a `--` came before `chain`
  std::string chainFile;           // --chain: the effects as JSON
  std::string outputDir;           // --output-dir: one output per input, named after it
  std::string jobs;                // --jobs: worker threads for several inputs
  std::string block = "256";       // frames per block, 1 to 65536
  std::string encoding;            // float, double, pcm8..pcm32; empty to follow the input
  std::string type;                // output container; empty to follow OUTPUT's extension
  std::string inputType;           // input container; empty to tell it from the data
  std::string rate;                // raw input: sample rate in Hz
  std::string channels;            // raw input: channel count
  std::string inputEncoding;       // raw input: sample encoding
  bool noDither = false;           // plain rounding for integer PCM output
  std::string seed;                // seeds the dither; empty for the fixed default
  std::string tail;                // seconds of silence to append; empty for the chain's own tail
  std::string gain;                // dB applied after the chain; empty for none
  std::string norm;                // peak level in dBFS to normalise to; empty for none
  bool discard = false;            // --null: process and measure, write nothing
  bool json = false;               // print the results as JSON
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
