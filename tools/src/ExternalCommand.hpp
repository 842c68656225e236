#pragma once

#include <string>
#include <vector>

namespace quorvelfx {

// How a helper program run by runExternal() ended.
enum class ExternalOutcome {
  kSucceeded,     // ran and exited with status 0
  kFailed,        // ran and failed, was killed, or could not be started for another reason
  kNotInstalled,  // not found on $PATH (or not runnable: the exec failed)
};

// Runs argv[0] (looked up on $PATH) with the rest of `argv` as its arguments,
// directly rather than through a shell, with standard input, output and error
// on /dev/null, and waits for it.
ExternalOutcome runExternal(const std::vector<std::string>& argv);

}  // namespace quorvelfx
