// Replays the checked-in fuzz seed corpus through the fuzz harness without
// libFuzzer, so the plain test suite (and its sanitizer runs) exercises every
// decoded operation kind. The harness aborts on a finding, failing the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../../fuzz/NodeFuzzHarness.hpp"

namespace {

namespace fs = std::filesystem;

fs::path corpusRoot() { return fs::path(__FILE__).parent_path() / ".." / ".." / "fuzz" / "corpus"; }

std::string lowerSubtype(const std::string& typeName) {
  std::string subtype = typeName.substr(typeName.find('.') + 1);
  std::transform(subtype.begin(), subtype.end(), subtype.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return subtype;
}

TEST(FuzzCorpusReplay, EverySeedOfEveryNodeTypeRunsClean) {
  const std::vector<std::string> types = quorvel::fuzz::effectNodeTypeNames();
  ASSERT_EQ(types.size(), 5u);
  for (const std::string& type : types) {
    const fs::path dir = corpusRoot() / lowerSubtype(type);
    ASSERT_TRUE(fs::is_directory(dir)) << dir;
    int seeds = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
      std::ifstream file(entry.path(), std::ios::binary);
      const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                            std::istreambuf_iterator<char>());
      SCOPED_TRACE(entry.path().string());
      EXPECT_EQ(quorvel::fuzz::runNodeFuzzInput(type, bytes.data(), bytes.size()), 0);
      ++seeds;
    }
    EXPECT_GE(seeds, 3) << type;
  }
}

TEST(FuzzCorpusReplay, EmptyAndTinyInputsAreHandled) {
  const std::uint8_t tiny[] = {7, 255};
  for (const std::string& type : quorvel::fuzz::effectNodeTypeNames()) {
    EXPECT_EQ(quorvel::fuzz::runNodeFuzzInput(type, nullptr, 0), 0);
    EXPECT_EQ(quorvel::fuzz::runNodeFuzzInput(type, tiny, sizeof tiny), 0);
  }
}

}  // namespace
