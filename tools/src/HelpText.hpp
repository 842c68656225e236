#pragma once

namespace quorvelfx {

// The prose of --help: descriptions, examples and the exit-status table,
// kept in one place so the man page can follow it.
class HelpText {
 public:
  // Footer of `quorvel-fx --help`: commands' examples and exit statuses.
  static const char* toolFooter();
  // Footer of `quorvel-fx apply --help`.
  static const char* applyFooter();
  // Footer of `quorvel-fx list --help`.
  static const char* listFooter();
  // Footer of `quorvel-fx describe --help`.
  static const char* describeFooter();
  // Footer of `quorvel-fx demo --help`.
  static const char* demoFooter();
};

}  // namespace quorvelfx
