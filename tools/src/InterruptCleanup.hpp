#pragma once

#include <string>

namespace quorvelfx {

// Removes the temporary output file when the process is stopped by SIGINT or
// SIGTERM, so an interrupted run leaves nothing behind. One file at a time.
class InterruptCleanup {
 public:
  // Installs the signal handlers; safe to call more than once.
  static void install();
  // Marks `path` as the temporary file to delete if a signal arrives.
  static void track(const std::string& path);
  // Forgets the tracked file (after it was renamed or removed).
  static void untrack();
};

}  // namespace quorvelfx
