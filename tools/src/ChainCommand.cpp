// `quorvel-fx chain`: the effects of a command line or a chain file,
// checked as `apply` checks them and written out as a chain file.
#include <iostream>

#include "Chain.hpp"
#include "ChainFile.hpp"
#include "CommandLine.hpp"
#include "Commands.hpp"
#include "quorvel/rules/Chain.hpp"

namespace quorvelfx {

int runChain(const std::string& chainFile, const std::vector<std::string>& words) {
  if (!chainFile.empty() && !words.empty()) {
    throw CliError(kExitUsage,
                   "--chain " + chainFile + " gives the effects; do not name effects as well");
  }
  const std::vector<EffectRequest> requests =
      chainFile.empty() ? ChainArguments::parse(words) : ChainFile::read(chainFile);
  try {
    std::cout << quorvel::rules::writeChain(quorvel::rules::resolve(requests)) << std::endl;
  } catch (const quorvel::rules::RuleError& refused) {
    throw CliError(kExitUsage, refused.what());
  }
  return kExitSuccess;
}

}  // namespace quorvelfx
