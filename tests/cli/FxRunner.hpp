#pragma once

#include <csignal>
#include <string>
#include <vector>

// Runs the built quorvel-fx binary and captures what it printed.
class FxRunner {
 public:
  struct Outcome {
    int exitCode;
    std::string out;
    std::string err;
  };

  // Runs quorvel-fx with `arguments`; `path`, when not empty, replaces $PATH for the child.
  static Outcome run(const std::vector<std::string>& arguments, const std::string& path = "");
  // Runs `script` with /bin/sh in `directory`, with $FX naming the quorvel-fx
  // binary, for pipelines such as "sox ... | $FX apply - out.wav Delay".
  static Outcome shell(const std::string& script, const std::string& directory);
  // Runs quorvel-fx with `arguments`, sends it `signal` after `delayMs` milliseconds, and waits.
  static Outcome interrupt(const std::vector<std::string>& arguments, int delayMs,
                           int signal = SIGINT);

 private:
  static Outcome start(const std::vector<std::string>& arguments, const std::string& path,
                       int interruptAfterMs, int signal);
};
