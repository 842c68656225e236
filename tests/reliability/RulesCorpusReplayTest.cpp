// Replays the checked-in seed corpus of the rules fuzz target through the
// same checks (fuzz/RulesFuzzHarness.hpp) without libFuzzer, and the same
// seeds blown up to a megabyte, which the fuzzer's short inputs never reach.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../../fuzz/RulesFuzzHarness.hpp"

namespace {

namespace fs = std::filesystem;

fs::path corpusDir() {
  return fs::path(__FILE__).parent_path() / ".." / ".." / "fuzz" / "corpus" / "rules";
}

std::string check(const std::string& input) {
  return quorvel::fuzz::checkRulesInput(reinterpret_cast<const std::uint8_t*>(input.data()),
                                        input.size());
}

std::vector<std::pair<std::string, std::string>> seeds() {
  std::vector<std::pair<std::string, std::string>> out;
  for (const fs::directory_entry& entry : fs::directory_iterator(corpusDir())) {
    std::ifstream file(entry.path(), std::ios::binary);
    out.emplace_back(
        entry.path().filename().string(),
        std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>()));
  }
  return out;
}

TEST(RulesCorpusReplay, EverySeedPassesEveryCheck) {
  const auto corpus = seeds();
  EXPECT_GE(corpus.size(), 30u) << corpusDir();
  for (const auto& [name, input] : corpus) EXPECT_EQ(check(input), "") << name;
}

// A megabyte of one byte inserted where it makes each seed's text long: at
// the front (blanks, which both readers skip), after the first quote (a
// string of a chain file) and before the first digit (a number's digits).
TEST(RulesCorpusReplay, SeedsBlownUpToAMegabyteKeepShortMessages) {
  constexpr std::size_t kMegabyte = 1 << 20;
  for (const auto& [name, input] : seeds()) {
    const std::size_t quote = input.find('"');
    const std::size_t digit = input.find_first_of("0123456789");
    std::vector<std::pair<std::string, std::string>> variants = {
        {"blanks in front", std::string(kMegabyte, ' ') + input}};
    if (quote != std::string::npos) {
      variants.emplace_back("letters in a string",
                            std::string(input).insert(quote + 1, kMegabyte, 'a'));
    }
    if (digit != std::string::npos) {
      variants.emplace_back("digits", std::string(input).insert(digit, kMegabyte, '0'));
    }
    for (const auto& [how, text] : variants) EXPECT_EQ(check(text), "") << name << ", " << how;
  }
}

}  // namespace
