// libFuzzer entry point for the rules every front end shares: the value
// grammar and the chain-file reader (RulesFuzzHarness.hpp says what is
// checked). A failed check aborts with the failure and the input on stderr;
// an exception other than RuleError escapes and aborts on its own.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "RulesFuzzHarness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string failure = quorvel::fuzz::checkRulesInput(data, size);
  if (!failure.empty()) {
    std::fprintf(stderr, "rules check failed on an input of %zu bytes:\n%s\n", size,
                 failure.c_str());
    std::abort();
  }
  return 0;
}
