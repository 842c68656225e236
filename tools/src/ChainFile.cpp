#include "ChainFile.hpp"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "CommandLine.hpp"

namespace quorvelfx {

std::vector<EffectRequest> ChainFile::read(const std::string& path) {
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) {
    throw CliError(kExitIo, path + ": is a folder, not a chain file");
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) throw CliError(kExitIo, path + ": cannot open: " + std::strerror(errno));
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) throw CliError(kExitIo, path + ": cannot read: " + std::strerror(errno));
  try {
    return quorvel::rules::readChain(text.str(), path);
  } catch (const quorvel::rules::RuleError& refused) {
    throw CliError(kExitUsage, refused.what());
  }
}

}  // namespace quorvelfx
