// Helper programs for the demo's pictures, started with posix_spawnp so that
// $PATH is searched the way a shell would, with no shell in between.
#include "ExternalCommand.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace quorvelfx {

namespace {

constexpr int kExecFailed = 127;

}  // namespace

ExternalOutcome runExternal(const std::vector<std::string>& argv) {
  if (argv.empty()) return ExternalOutcome::kFailed;
  std::vector<char*> arguments;
  arguments.reserve(argv.size() + 1);
  for (const std::string& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
  arguments.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  const int spawned =
      posix_spawnp(&child, arguments[0], &actions, nullptr, arguments.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  // glibc reports a failed exec in the child as posix_spawnp's own result, so
  // a program missing from every $PATH directory comes back as ENOENT here.
  if (spawned == ENOENT) return ExternalOutcome::kNotInstalled;
  if (spawned != 0) return ExternalOutcome::kFailed;
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return ExternalOutcome::kFailed;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return ExternalOutcome::kSucceeded;
  // Where the spawn cannot share the child's memory (qemu-user runs it as a
  // plain fork), a failed exec shows only as the child's status 127, the
  // shells' "command not found".
  if (WIFEXITED(status) && WEXITSTATUS(status) == kExecFailed) {
    return ExternalOutcome::kNotInstalled;
  }
  return ExternalOutcome::kFailed;
}

}  // namespace quorvelfx
