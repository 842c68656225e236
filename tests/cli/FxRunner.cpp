#include "FxRunner.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

FxRunner::Outcome FxRunner::run(const std::vector<std::string>& arguments,
                                const std::string& path) {
  return start(arguments, path, nullptr, 0);
}

FxRunner::Outcome FxRunner::interrupt(const std::vector<std::string>& arguments,
                                      const std::function<bool()>& ready, int signal) {
  return start(arguments, "", &ready, signal);
}

// Runs `child` in a forked process whose stdout and stderr go to temporary
// files, then `parent(pid)` (e.g. to signal it; true when it did), and
// collects the outcome.
template <typename Child, typename Parent>
static FxRunner::Outcome captured(Child child, Parent parent) {
  char outPath[] = "/tmp/quorvel-fx-test-out-XXXXXX";
  char errPath[] = "/tmp/quorvel-fx-test-err-XXXXXX";
  const int out = mkstemp(outPath);
  const int err = mkstemp(errPath);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    child();
    _exit(127);
  }
  const bool signalled = parent(pid);
  int status = 0;
  waitpid(pid, &status, 0);
  close(out);
  close(err);
  FxRunner::Outcome outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(outPath),
                            slurp(errPath), signalled};
  unlink(outPath);
  unlink(errPath);
  return outcome;
}

FxRunner::Outcome FxRunner::shell(const std::string& script, const std::string& directory) {
  return captured(
      [&] {
        if (chdir(directory.c_str()) != 0) return;
        setenv("FX", QUORVEL_FX_BINARY, 1);
        execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
      },
      [](pid_t) { return false; });
}

FxRunner::Outcome FxRunner::start(const std::vector<std::string>& arguments,
                                  const std::string& path, const std::function<bool()>* ready,
                                  int signal) {
  return captured(
      [&] {
        const int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, STDIN_FILENO);
        if (!path.empty()) setenv("PATH", path.c_str(), 1);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(QUORVEL_FX_BINARY));
        for (const std::string& argument : arguments) {
          argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        execv(QUORVEL_FX_BINARY, argv.data());
      },
      [&](pid_t pid) {
        if (ready == nullptr) return false;
        // A loaded machine or an emulator may take long to get there: wait
        // for the event itself, generously, not for a guess at its time.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (std::chrono::steady_clock::now() < deadline) {
          siginfo_t info{};
          // Ended already? Asked without reaping, so the outcome is still collected.
          if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
              info.si_pid == pid) {
            return false;
          }
          if ((*ready)()) {
            kill(pid, signal);
            return true;
          }
          usleep(2000);
        }
        return false;
      });
}
