#include "InterruptCleanup.hpp"

#include <unistd.h>

#include <csignal>
#include <cstring>

#include "ExitCode.hpp"

namespace quorvelfx {
namespace {

// The handler may only touch async-signal-safe state: a fixed buffer and a flag.
char trackedPath[4096];
volatile std::sig_atomic_t tracking = 0;

extern "C" void removeTrackedAndExit(int) {
  if (tracking) unlink(trackedPath);
  _exit(kExitInterrupted);
}

}  // namespace

void InterruptCleanup::install() {
  struct sigaction action {};
  action.sa_handler = removeTrackedAndExit;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void InterruptCleanup::track(const std::string& path) {
  tracking = 0;
  if (path.size() >= sizeof trackedPath) return;
  std::memcpy(trackedPath, path.c_str(), path.size() + 1);
  tracking = 1;
}

void InterruptCleanup::untrack() { tracking = 0; }

}  // namespace quorvelfx
