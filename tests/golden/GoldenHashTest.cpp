// Every effect processor on fixed signals at several rates, block sizes and
// channel counts, with parameter changes between blocks, hashed (FNV-1a 64
// over the output's float bits) and compared with tests/golden/hashes.txt.
// The same committed hashes hold on x86-64 and arm64 under every instruction
// set the kernels are built for. The inputs are made with integer arithmetic
// and exact float scaling only, so they are the same bits everywhere.
//
// Regenerate (never done by the test itself), after an intended change:
//   <build>/tests/golden/golden_tests --regenerate > tests/golden/hashes.txt

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "quorvel/audio/Effect.hpp"
#include "quorvel/audio/VectorTargets.hpp"

namespace {

using quorvel::audio::Effect;
using quorvel::audio::ParameterType;

constexpr unsigned int kRates[] = {22050, 44100, 48000, 96000};
constexpr unsigned int kBlocks[] = {1, 37, 256, 4096};
constexpr unsigned int kChannels[] = {1, 2};
// Signal for three quarters of the run, then silence, so that the echoes
// decay towards (and below) the smallest normal float.
constexpr unsigned int kFrames = 24000;
constexpr unsigned int kSignalFrames = kFrames * 3 / 4;

struct Lcg {
  std::uint64_t state;
  std::uint32_t next() {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>(state >> 32);
  }
};

// Noise at a quarter of full scale plus a square wave of about 441 Hz; every
// value is a 24-bit integer times a power of two, so the sums are exact.
std::vector<float> inputSignal(unsigned int channel, unsigned int rate) {
  std::vector<float> signal(kFrames, 0.0f);
  Lcg lcg{0x9E3779B97F4A7C15ULL + channel};
  const unsigned int halfPeriod = rate / 882;
  for (unsigned int f = 0; f < kSignalFrames; ++f) {
    const std::int32_t noise = static_cast<std::int32_t>(lcg.next() >> 8) - (1 << 23);
    const float square = ((f / halfPeriod) % 2 == 0) ? 0.25f : -0.25f;
    signal[f] = static_cast<float>(noise) * (1.0f / 33554432.0f) + square;
  }
  return signal;
}

// New values for every parameter, drawn from the LCG on a grid of sixteenths
// of the range the rate allows; basic double arithmetic only. Delay times
// stay below 100 ms, so that every setting's echoes fall within the run.
void changeParameters(Effect& effect, unsigned int rate, Lcg& lcg) {
  for (const auto& p : effect.parameters()) {
    const std::uint32_t step = lcg.next() % 17;
    double value = p.defaultValue;
    if (p.type == ParameterType::Boolean) {
      value = step % 4 == 0 ? 0.0 : 1.0;
    } else {
      double top = p.maximumAt ? p.maximumAt(rate) : p.maximum;
      if (p.unit == "ms" && top > 100.0) top = 100.0;
      value = p.minimum + (top - p.minimum) * static_cast<double>(step) / 16.0;
      if (p.type == ParameterType::Integer)
        value = static_cast<double>(static_cast<std::uint64_t>(value));
    }
    p.set(effect, value);
  }
}

struct Case {
  std::string effect;
  unsigned int channels, rate, block;
  std::string name() const {
    std::ostringstream text;
    text << effect << "/ch" << channels << "/" << rate << "Hz/block" << block;
    return text.str();
  }
};

std::vector<Case> casesOf(const std::string& effect) {
  std::vector<Case> cases;
  for (unsigned int channels : kChannels)
    for (unsigned int rate : kRates)
      for (unsigned int block : kBlocks) cases.push_back({effect, channels, rate, block});
  return cases;
}

std::vector<std::string> effectNames() {
  std::vector<std::string> names;
  for (const auto* info : quorvel::audio::effectTypes()) names.emplace_back(info->name);
  return names;
}

// Renders one case in place (the way hosts mostly run effects) and hashes
// the output frame by frame, channels interleaved. Parameters change before
// the blocks that start past a third and two thirds of the run.
std::uint64_t render(const Case& c) {
  std::unique_ptr<Effect> effect = quorvel::audio::makeEffect(c.effect, c.channels);
  effect->prepare(c.rate, c.channels);
  std::vector<std::vector<float>> buffers;
  for (unsigned int ch = 0; ch < c.channels; ++ch) buffers.push_back(inputSignal(ch, c.rate));
  Lcg lcg{c.rate * 131ULL + c.block * 7ULL + c.channels};
  std::uint64_t hash = 0xCBF29CE484222325ULL;
  unsigned int changes = 0;
  for (unsigned int start = 0; start < kFrames; start += c.block) {
    if (changes < 2 && start >= kFrames * (changes + 1) / 3) {
      changeParameters(*effect, c.rate, lcg);
      ++changes;
    }
    const unsigned int frames = std::min(c.block, kFrames - start);
    std::vector<float*> io;
    for (auto& buffer : buffers) io.push_back(buffer.data() + start);
    effect->process(io.data(), io.data(), c.channels, frames);
    for (unsigned int f = start; f < start + frames; ++f) {
      for (const auto& buffer : buffers) {
        std::uint32_t bits;
        std::memcpy(&bits, &buffer[f], sizeof bits);
        for (int byte = 0; byte < 4; ++byte) {
          hash ^= (bits >> (8 * byte)) & 0xFF;
          hash *= 0x100000001B3ULL;
        }
      }
    }
  }
  return hash;
}

std::string hex(std::uint64_t value) {
  std::ostringstream text;
  text << std::hex;
  text.width(16);
  text.fill('0');
  text << value;
  return text.str();
}

std::map<std::string, std::string> committedHashes() {
  std::map<std::string, std::string> hashes;
  std::ifstream in(QUORVEL_GOLDEN_HASHES);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string name, hash;
    fields >> name >> hash;
    hashes[name] = hash;
  }
  return hashes;
}

// Runs `body` on every instruction set the kernels hold and the CPU runs,
// then puts the best one back.
template <typename Body>
void onEveryTarget(Body body) {
  struct Restore {
    ~Restore() { quorvel::audio::forceVectorTarget(""); }
  } restore;
  for (const std::string& target : quorvel::audio::vectorTargets()) {
    ASSERT_TRUE(quorvel::audio::forceVectorTarget(target)) << target;
    body(target);
  }
}

class GoldenHash : public testing::TestWithParam<std::string> {};

TEST_P(GoldenHash, EveryCaseMatchesCommittedHashOnEveryTarget) {
  const auto committed = committedHashes();
  ASSERT_FALSE(committed.empty()) << "no hashes in " << QUORVEL_GOLDEN_HASHES;
  onEveryTarget([&](const std::string& target) {
    for (const Case& c : casesOf(GetParam())) {
      const auto found = committed.find(c.name());
      ASSERT_NE(found, committed.end()) << c.name() << " is missing from " << QUORVEL_GOLDEN_HASHES;
      EXPECT_EQ(hex(render(c)), found->second) << c.name() << " on " << target;
    }
  });
}

INSTANTIATE_TEST_SUITE_P(Effects, GoldenHash, testing::ValuesIn(effectNames()),
                         [](const auto& info) { return info.param; });

TEST(GoldenHashFile, ListsExactlyTheRenderedCases) {
  std::map<std::string, std::string> expected;
  for (const std::string& effect : effectNames())
    for (const Case& c : casesOf(effect)) expected[c.name()] = "";
  const auto committed = committedHashes();
  for (const auto& [name, hash] : committed) {
    EXPECT_EQ(expected.count(name), 1u) << name << " is not a case any more: regenerate";
    EXPECT_EQ(hash.size(), 16u) << name;
  }
  EXPECT_EQ(committed.size(), expected.size());
}

// Prints the hash file; fails when the instruction sets disagree, since such
// a file could pass on one CPU only.
int regenerate() {
  std::cout << "# FNV-1a 64 hashes of tests/golden/GoldenHashTest.cpp's renders.\n"
               "# Regenerate: <build>/tests/golden/golden_tests --regenerate > "
               "tests/golden/hashes.txt\n";
  int status = 0;
  for (const std::string& effect : effectNames()) {
    for (const Case& c : casesOf(effect)) {
      std::string first;
      onEveryTarget([&](const std::string& target) {
        const std::string hash = hex(render(c));
        if (first.empty()) first = hash;
        if (hash != first) {
          std::cerr << c.name() << ": " << target << " gives " << hash << ", not " << first << "\n";
          status = 1;
        }
      });
      std::cout << c.name() << " " << first << "\n";
    }
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--regenerate") return regenerate();
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
