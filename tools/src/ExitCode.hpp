#pragma once

namespace quorvelfx {

// The process exit statuses of quorvel-fx; documented in --help and the man page.
enum ExitCode : int {
  kExitSuccess = 0,        // everything worked
  kExitInternal = 1,       // an unexpected internal error
  kExitUsage = 2,          // bad command line: unknown command, effect, parameter or value
  kExitIo = 3,             // an input file could not be read or the output could not be written
  kExitProcessing = 4,     // an effect refused the audio format or failed while processing
  kExitInterrupted = 130,  // stopped by SIGINT or SIGTERM; no output was left behind
};

}  // namespace quorvelfx
