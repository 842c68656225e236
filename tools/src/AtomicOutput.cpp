#include "AtomicOutput.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "CommandLine.hpp"
#include "Interrupts.hpp"

namespace quorvelfx {

namespace {

// mkstemp creates files readable by the owner only; a finished output gets
// the mode a plain open() would have given it.
mode_t defaultFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// Follows `path` through symbolic links (relative targets are taken from the
// link's directory) to the file that is really written; a dangling link gives
// the path of the file it names, which is then created there, as cp does.
std::string followLinks(const std::string& path) {
  std::string current = path;
  for (int hop = 0; hop < 40; ++hop) {
    struct stat status {};
    if (lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return current;
    std::vector<char> target(static_cast<std::size_t>(status.st_size > 0 ? status.st_size : 255) +
                             2);
    const ssize_t length = readlink(current.c_str(), target.data(), target.size() - 1);
    if (length < 0) return current;
    const std::string text(target.data(), static_cast<std::size_t>(length));
    const std::size_t slash = current.find_last_of('/');
    current = text.front() == '/' || slash == std::string::npos
                  ? text
                  : current.substr(0, slash + 1) + text;
  }
  throw CliError(kExitIo, path + ": cannot write output: too many levels of symbolic links");
}

}  // namespace

bool AtomicOutput::writesDirectly(const std::string& path) {
  if (path == "-") return true;
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && (S_ISFIFO(status.st_mode) || S_ISCHR(status.st_mode));
}

AtomicOutput::AtomicOutput(const std::string& path)
    : path_(path), where_(path == "-" ? std::string("standard output") : path) {
  struct stat status {};
  if (path != "-" && stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
    throw CliError(kExitIo, path + ": output is a directory");
  }
  direct_ = writesDirectly(path);
  if (!direct_) {
    createTemporary(path);
    return;
  }
  descriptor_ = path == "-" ? STDOUT_FILENO : ::open(path.c_str(), O_WRONLY);
  if (descriptor_ < 0) {
    throw CliError(kExitIo, where_ + ": cannot write output: " + std::strerror(errno));
  }
}

// The temporary goes beside the file a link leads to, so the rename that
// replaces it stays within one directory (atomic) and the link survives.
void AtomicOutput::createTemporary(const std::string& path) {
  targetPath_ = followLinks(path);
  const std::size_t slash = targetPath_.find_last_of('/');
  const std::string directory = slash == std::string::npos ? "" : targetPath_.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? targetPath_ : targetPath_.substr(slash + 1);
  // The name is tracked before the file exists, so that a signal at any
  // moment, on any thread, finds every temporary there is to remove;
  // O_EXCL makes the name ours as mkstemp would.
  static std::atomic<unsigned int> serial{0};
  std::random_device entropy;
  std::string name;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%06x%02x", entropy() & 0xFFFFFFu,
                  serial.fetch_add(1) & 0xFFu);
    name = directory + "." + base + ".quorvel-fx-" + suffix;
    cleanupSlot_ = Interrupts::track(name);
    descriptor_ = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (descriptor_ >= 0 || errno != EEXIST) break;
    Interrupts::untrack(cleanupSlot_);
    cleanupSlot_ = -1;
  }
  if (descriptor_ < 0) {
    const int error = errno;
    Interrupts::untrack(cleanupSlot_);
    cleanupSlot_ = -1;
    const std::string through =
        targetPath_ == path ? "" : " (through the link to " + targetPath_ + ")";
    throw CliError(kExitIo, path + ": cannot write output" + through + ": " + std::strerror(error));
  }
  temporaryPath_ = name;
  // A replaced file keeps its permissions and, where allowed, its owner
  // (chown first: it may clear set-id bits). A new one gets open()'s mode.
  struct stat target {};
  if (stat(targetPath_.c_str(), &target) == 0 && S_ISREG(target.st_mode)) {
    if (fchown(descriptor_, target.st_uid, target.st_gid) != 0) {
      // Only root may give a file away; the new file is then the user's own.
    }
    fchmod(descriptor_, target.st_mode & 07777);
  } else {
    fchmod(descriptor_, defaultFileMode());
  }
}

AtomicOutput::~AtomicOutput() { discard(); }

void AtomicOutput::closeDescriptor() noexcept {
  if (descriptor_ >= 0 && descriptor_ != STDOUT_FILENO) close(descriptor_);
  descriptor_ = -1;
}

void AtomicOutput::commit() {
  // Only a hint that the data should reach the disk before the rename makes
  // it the output; pipes and terminals refuse it, and a real write error shows at close.
  if (descriptor_ >= 0) fsync(descriptor_);
  const bool closing = descriptor_ >= 0 && descriptor_ != STDOUT_FILENO;
  const int closed = closing ? close(descriptor_) : 0;
  const int closeError = errno;
  descriptor_ = -1;
  if (closed != 0) {
    discard();
    throw CliError(kExitIo, where_ + ": write error: " + std::strerror(closeError));
  }
  if (direct_) return;  // Nothing to move: the data went straight to the output.
  if (std::rename(temporaryPath_.c_str(), targetPath_.c_str()) != 0) {
    const std::string reason = std::strerror(errno);
    discard();
    throw CliError(kExitIo, where_ + ": cannot move finished output into place: " + reason);
  }
  Interrupts::untrack(cleanupSlot_);
  cleanupSlot_ = -1;
  temporaryPath_.clear();
}

void AtomicOutput::discard() noexcept {
  closeDescriptor();
  if (!temporaryPath_.empty()) {
    Interrupts::untrack(cleanupSlot_);
    cleanupSlot_ = -1;
    unlink(temporaryPath_.c_str());
    temporaryPath_.clear();
  }
}

}  // namespace quorvelfx
