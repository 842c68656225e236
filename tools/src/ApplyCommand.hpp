#pragma once

#include <string>
#include <vector>

namespace quorvelfx {

// `quorvel-fx apply`: runs an input file through a chain of effects into an output file.
class ApplyCommand {
 public:
  // The command line of one apply run, as text; run() validates it.
  struct Options {
    std::string input;
    std::string output;
    std::vector<std::string> chain;  // EFFECT [name=value ...] ...
    std::string block = "256";       // frames per block, 1 to 65536
    std::string encoding;            // float, pcm16, pcm24 or empty for the default
    std::string tail;                // seconds of silence to append, empty for the estimate
    bool quiet = false;
  };

  // Runs `options`; returns kExitSuccess or throws CliError.
  static int run(const Options& options);
};

}  // namespace quorvelfx
