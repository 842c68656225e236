#pragma once

#include <csignal>
#include <functional>
#include <string>
#include <vector>

// Runs the built quorvel-fx binary and captures what it printed.
class FxRunner {
 public:
  struct Outcome {
    int exitCode;
    std::string out;
    std::string err;
    bool signalled = false;
  };

  // Runs quorvel-fx with `arguments`; `path`, when not empty, replaces $PATH for the child.
  static Outcome run(const std::vector<std::string>& arguments, const std::string& path = "");
  // Runs `script` with /bin/sh in `directory`, with $FX naming the quorvel-fx
  // binary, for pipelines such as "sox ... | $FX apply - out.wav Delay".
  static Outcome shell(const std::string& script, const std::string& directory);
  // Runs quorvel-fx with `arguments`, sends it `signal` as soon as `ready()`
  // holds (polled; e.g. its temporary output exists), and waits. Without
  // `ready` within a minute, or when the tool ends first, no signal is
  // sent and `signalled` is false.
  static Outcome interrupt(const std::vector<std::string>& arguments,
                           const std::function<bool()>& ready, int signal = SIGINT);

 private:
  static Outcome start(const std::vector<std::string>& arguments, const std::string& path,
                       const std::function<bool()>* ready, int signal);
};
