#pragma once

#include <csignal>
#include <string>

// What happens when the tool is stopped by SIGINT or SIGTERM: one handler
// takes the progress bar off the terminal, says so on stderr, removes every
// temporary output and exits with 130 (SIGINT) or 143 (SIGTERM).
namespace quorvelfx {

namespace Interrupts {

// Temporary outputs tracked at once at most.
inline constexpr int kSlots = 64;

// Installs the handler for SIGINT and SIGTERM; `clearTerminal` (may be null)
// runs first in it and must be async-signal-safe. Safe to call more than once.
void install(void (*clearTerminal)() noexcept);
// Marks `path` as a temporary file to delete if a signal arrives; returns
// its slot, or -1 when all kSlots are taken or the path is too long. Any thread.
int track(const std::string& path);
// Forgets the file in `slot` (after it was renamed or removed); -1 is ignored.
void untrack(int slot);

// While one lives, threads started by this thread hold SIGINT and SIGTERM off,
// so that the handler runs on the main thread and never on a helper thread
// that is just starting or ending.
class HeldForNewThreads {
 public:
  HeldForNewThreads() noexcept;
  ~HeldForNewThreads();
  HeldForNewThreads(const HeldForNewThreads&) = delete;
  HeldForNewThreads& operator=(const HeldForNewThreads&) = delete;

 private:
  sigset_t saved_;
};

}  // namespace Interrupts

}  // namespace quorvelfx
