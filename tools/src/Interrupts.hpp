#pragma once

#include <string>

// What happens when the tool is stopped by SIGINT or SIGTERM: one handler
// takes the progress bar off the terminal, says so on stderr, removes every
// temporary output and exits with 130 (SIGINT) or 143 (SIGTERM).
namespace quorvelfx {

class Interrupts {
 public:
  static constexpr int kSlots = 64;

  // Installs the handler for SIGINT and SIGTERM; `clearTerminal` (may be null)
  // runs first in it and must be async-signal-safe. Safe to call more than once.
  static void install(void (*clearTerminal)() noexcept);
  // Marks `path` as a temporary file to delete if a signal arrives; returns
  // its slot, or -1 when all kSlots are taken or the path is too long. Any thread.
  static int track(const std::string& path);
  // Forgets the file in `slot` (after it was renamed or removed); -1 is ignored.
  static void untrack(int slot);
};

}  // namespace quorvelfx
