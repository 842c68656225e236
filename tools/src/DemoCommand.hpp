#pragma once

#include <string>

namespace quorvelfx {

// `quorvel-fx demo`: synthesises the built-in test signal, runs it through
// every registered effect with default settings, and writes the dry and
// processed WAV files, spectrograms and impulse-response plots to a folder.
class DemoCommand {
 public:
  // Writes everything into `outputDirectory` (created if missing) and prints
  // a table of level and speed per effect; throws CliError on failure.
  static int run(const std::string& outputDirectory);
};

}  // namespace quorvelfx
