#pragma once

#include <stdexcept>
#include <string>

#include "ExitCode.hpp"

namespace quorvelfx {

// A failure to report as one "quorvel-fx: error: ..." line and a distinct exit status.
class CliError : public std::runtime_error {
 public:
  // `message` names the file, effect, parameter or value at fault.
  CliError(ExitCode code, const std::string& message) : std::runtime_error(message), code_(code) {}

  // The exit status this failure maps to.
  ExitCode code() const noexcept { return code_; }

 private:
  ExitCode code_;
};

}  // namespace quorvelfx
