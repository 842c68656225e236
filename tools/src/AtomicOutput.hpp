#pragma once

#include <string>

// An output file that appears whole or not at all.
namespace quorvelfx {

// The descriptor an output is written through: a new temporary file beside
// the output, renamed over it only in commit(), so a failure or an interrupt
// never leaves a partial output or clobbers an existing one. A symbolic link
// is written through: its final target is replaced and keeps its permission
// bits and owner. Standard output ("-"), a FIFO or a character device is
// written directly, without a temporary. Throws CliError(kExitIo) naming the file.
class AtomicOutput {
 public:
  // Opens the temporary for `path` (or `path` itself, when written directly).
  explicit AtomicOutput(const std::string& path);
  // Closes the descriptor and removes an uncommitted temporary.
  ~AtomicOutput();
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;

  // Where the bytes go until commit(); -1 once committed or discarded.
  int descriptor() const noexcept { return descriptor_; }
  // The output as messages name it: the path, or "standard output" for "-".
  const std::string& where() const noexcept { return where_; }
  // True when the output is written in place (standard output, FIFO, device).
  bool isDirect() const noexcept { return direct_; }
  // The path of the temporary file while it exists; empty for direct output.
  const std::string& temporaryPath() const noexcept { return temporaryPath_; }

  // Flushes and closes the descriptor (never standard output itself) and
  // moves a temporary over the output. On failure the temporary is removed.
  void commit();
  // Closes the descriptor and removes the temporary; nothing happens twice.
  void discard() noexcept;

  // True for a path written in place rather than through a temporary file.
  static bool writesDirectly(const std::string& path);

 private:
  void createTemporary(const std::string& path);
  void closeDescriptor() noexcept;

  std::string path_;
  std::string where_;
  std::string targetPath_;  // path_ with symbolic links resolved
  std::string temporaryPath_;
  int cleanupSlot_ = -1;
  int descriptor_ = -1;
  bool direct_ = false;
};

}  // namespace quorvelfx
