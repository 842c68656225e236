#include "Interrupts.hpp"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <mutex>

#include "CommandLine.hpp"

namespace quorvelfx {

namespace {

// The handler may only touch async-signal-safe state: preallocated buffers
// and lock-free atomics. A slot's path is written only while its flag is clear.
char trackedPaths[Interrupts::kSlots][4096];
std::atomic<bool> slotTracked[Interrupts::kSlots];
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler reads these flags");
// Serialises claiming and releasing slots between threads (never taken in the handler).
std::mutex slotClaims;
bool slotClaimed[Interrupts::kSlots];

using ClearTerminal = void (*)() noexcept;
std::atomic<ClearTerminal> clearTerminalHook{nullptr};
static_assert(std::atomic<ClearTerminal>::is_always_lock_free, "the signal handler reads the hook");

void say(const char* text) noexcept {
  const ssize_t ignored = write(STDERR_FILENO, text, std::strlen(text));
  static_cast<void>(ignored);
}

extern "C" void stopOnSignal(int signal) {
  if (const ClearTerminal clear = clearTerminalHook.load(std::memory_order_acquire)) clear();
  const bool terminated = signal == SIGTERM;
  say(terminated ? "quorvel-fx: terminated\n" : "quorvel-fx: interrupted\n");
  for (int slot = 0; slot < Interrupts::kSlots; ++slot) {
    if (slotTracked[slot].load(std::memory_order_acquire)) unlink(trackedPaths[slot]);
  }
  _exit(terminated ? kExitTerminated : kExitInterrupted);
}

}  // namespace

namespace Interrupts {

void install(void (*clearTerminal)() noexcept) {
  clearTerminalHook.store(clearTerminal, std::memory_order_release);
  struct sigaction action {};
  action.sa_handler = stopOnSignal;
  // Both signals are held off while the handler runs, so a second one cannot
  // interrupt it halfway through the message or the cleanup.
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int track(const std::string& path) {
  if (path.size() >= sizeof trackedPaths[0]) return -1;
  const std::lock_guard<std::mutex> lock(slotClaims);
  for (int slot = 0; slot < kSlots; ++slot) {
    if (slotClaimed[slot]) continue;
    slotClaimed[slot] = true;
    std::memcpy(trackedPaths[slot], path.c_str(), path.size() + 1);
    slotTracked[slot].store(true, std::memory_order_release);
    return slot;
  }
  return -1;
}

void untrack(int slot) {
  if (slot < 0 || slot >= kSlots) return;
  const std::lock_guard<std::mutex> lock(slotClaims);
  slotTracked[slot].store(false, std::memory_order_release);
  slotClaimed[slot] = false;
}

HeldForNewThreads::HeldForNewThreads() noexcept {
  sigset_t held;
  sigemptyset(&held);
  sigaddset(&held, SIGINT);
  sigaddset(&held, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &held, &saved_);
}

HeldForNewThreads::~HeldForNewThreads() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

}  // namespace Interrupts

}  // namespace quorvelfx
