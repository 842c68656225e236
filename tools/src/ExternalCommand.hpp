#pragma once

#include <string>
#include <vector>

namespace quorvelfx {

// Runs a helper program (sox, gnuplot) directly, without a shell, with its
// output discarded.
class ExternalCommand {
 public:
  // True when `program` is an executable file in a directory of $PATH.
  static bool available(const std::string& program);
  // Runs argv[0] with the given arguments and waits; true when it exited with status 0.
  static bool run(const std::vector<std::string>& argv);
};

}  // namespace quorvelfx
