// Proof that processing is real-time safe: this executable replaces the
// global allocation functions and interposes pthread_mutex_lock, counting
// every call made while a node processes. Every node, through block sizes,
// channel counts, sample rates, parameter changes, bypass and in-place
// buses, must process without one allocation, one free or one lock.

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "quorvel/AudioBuffer.hpp"
#include "quorvel/AudioBus.hpp"
#include "quorvel/ExtensionManager.hpp"
#include "quorvel/QVAnyMap.hpp"
#include "quorvel/nodes/ChorusNode.hpp"
#include "quorvel/nodes/DelayNode.hpp"
#include "quorvel/nodes/FlangerNode.hpp"
#include "quorvel/nodes/PingPongDelayNode.hpp"
#include "quorvel/nodes/VibratoNode.hpp"

#if defined(__SSE2__) || defined(_M_X64)
#include <immintrin.h>
#endif

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QUORVEL_TSAN 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define QUORVEL_TSAN 1
#endif

// ThreadSanitizer defines the allocation functions and pthread_mutex_lock
// itself, so under it nothing is counted and the checks are skipped.
// Elsewhere this executable's definitions take precedence for every library
// loaded into it.
#if !defined(QUORVEL_TSAN)
#define QUORVEL_WATCH_ALLOCATIONS 1
#if defined(__linux__)
#define QUORVEL_WATCH_LOCKS 1
#include <dlfcn.h>
#endif
#endif

namespace {

std::atomic<bool> watching{false};
std::atomic<long> allocations{0};
std::atomic<long> frees{0};
std::atomic<long> locks{0};

#ifdef QUORVEL_WATCH_ALLOCATIONS
void* allocate(std::size_t size) {
  if (watching.load()) allocations.fetch_add(1);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

void release(void* p) noexcept {
  if (p != nullptr && watching.load()) frees.fetch_add(1);
  std::free(p);
}
#endif

}  // namespace

#ifdef QUORVEL_WATCH_ALLOCATIONS
void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
#endif

#ifdef QUORVEL_WATCH_LOCKS
extern "C" int pthread_mutex_lock(pthread_mutex_t* mutex) {
  using Lock = int (*)(pthread_mutex_t*);
  static const Lock real = reinterpret_cast<Lock>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
  if (watching.load()) locks.fetch_add(1);
  return real(mutex);
}
#endif

namespace {

using quorvel::AudioBuffer;
using quorvel::AudioBus;
using namespace quorvel::extensions::audioeffects;

// Counts what happens between construction and destruction.
class Watch {
 public:
  Watch() {
    allocations = 0;
    frees = 0;
    locks = 0;
    watching = true;
  }
  ~Watch() { watching = false; }
};

// Every block shape a host might send, built before anything is watched.
struct Blocks {
  Blocks() {
    const unsigned int sizes[] = {0, 1, 2, 31, 32, 64, 255, 256, 257, 1024, 2048, 4096};
    const unsigned int channelCounts[] = {2, 1, 0, 3, 2};
    const unsigned int rates[] = {48000, 44100, 96000, 8000, 48000};
    unsigned int k = 0;
    for (unsigned int rate : rates) {
      for (unsigned int channels : channelCounts) {
        for (unsigned int frames : sizes) {
          inputs.push_back(std::make_unique<AudioBuffer<float>>(channels, frames, rate));
          outputs.push_back(std::make_unique<AudioBuffer<float>>(channels, frames, rate));
          for (unsigned int c = 0; c < channels; ++c) {
            for (unsigned int f = 0; f < frames; ++f) {
              inputs.back()->setSample(c, f, static_cast<float>((k++ % 201) - 100) / 50.0f);
            }
          }
        }
      }
    }
  }

  std::vector<std::unique_ptr<AudioBuffer<float>>> inputs;
  std::vector<std::unique_ptr<AudioBuffer<float>>> outputs;
};

// Runs every block through `node` twice, once out of place and once in
// place, calling `vary(node, i)` between blocks to change its parameters.
template <typename Node, typename Vary>
void processEverything(Node& node, Blocks& blocks, Vary vary) {
  for (int pass = 0; pass < 2; ++pass) {
    for (std::size_t i = 0; i < blocks.inputs.size(); ++i) {
      vary(node, i);
      AudioBus in(*blocks.inputs[i]);
      AudioBus out(pass == 0 ? *blocks.outputs[i] : *blocks.inputs[i]);
      EXPECT_TRUE(node.process(in, out));
    }
  }
}

template <typename Node, typename Vary>
void expectRealTimeSafe(Node& node, Vary vary) {
#ifndef QUORVEL_WATCH_ALLOCATIONS
  GTEST_SKIP() << "the sanitizer owns the allocation functions";
#endif
  Blocks blocks;
  {
    Watch watch;
    processEverything(node, blocks, vary);
  }
  EXPECT_EQ(allocations.load(), 0);
  EXPECT_EQ(frees.load(), 0);
  EXPECT_EQ(locks.load(), 0);
}

TEST(RealTimeSafety, CountersSeeAllocationsAndLocksInOtherLibraries) {
#ifndef QUORVEL_WATCH_ALLOCATIONS
  GTEST_SKIP() << "the sanitizer owns the allocation functions";
#endif
  {
    Watch watch;
    std::vector<int> v(10);
    EXPECT_EQ(v.size(), 10u);
  }
  EXPECT_EQ(allocations.load(), 1);
  EXPECT_EQ(frees.load(), 1);
#ifdef QUORVEL_WATCH_LOCKS
  // The host's extension registry locks inside the host library.
  {
    Watch watch;
    EXPECT_TRUE(quorvel::ExtensionManager::getInstance().getExtensions().empty());
  }
  EXPECT_GE(locks.load(), 1);
#endif
}

TEST(RealTimeSafety, DelayProcessesWithoutAllocatingOrLocking) {
  DelayNode node(2);
  expectRealTimeSafe(node, [](DelayNode& n, std::size_t i) {
    n.setDelayMs(i % 7 == 0 ? 0u : static_cast<unsigned int>(1 + (i * 37) % 1500));
    n.setFeedbackLevel(i % 2 == 0 ? 0.5f : 0.9f);
    n.setIsEnabled(i % 11 != 0);
  });
}

TEST(RealTimeSafety, PingPongDelayProcessesWithoutAllocatingOrLocking) {
  PingPongDelayNode node{quorvel::QVAnyMap{}};
  expectRealTimeSafe(node, [](PingPongDelayNode& n, std::size_t i) {
    n.setDelayMs(i % 7 == 0 ? 0u : static_cast<unsigned int>(1 + (i * 37) % 1500));
    n.setWetMix(i % 2 == 0 ? 0.5f : 0.2f);
    n.setIsEnabled(i % 11 != 0);
  });
}

template <typename Node>
void varySweep(Node& n, std::size_t i) {
  n.setSweepWidth(i % 5 == 0 ? 1.5f : 0.001f * static_cast<float>(i % 30));
  n.setFrequency(0.1f * static_cast<float>(i % 50));
  n.setIsEnabled(i % 11 != 0);
}

TEST(RealTimeSafety, ChorusProcessesWithoutAllocatingOrLocking) {
  ChorusNode node(2);
  expectRealTimeSafe(node, varySweep<ChorusNode>);
}

TEST(RealTimeSafety, FlangerProcessesWithoutAllocatingOrLocking) {
  FlangerNode node(2);
  expectRealTimeSafe(node, varySweep<FlangerNode>);
}

TEST(RealTimeSafety, VibratoProcessesWithoutAllocatingOrLocking) {
  VibratoNode node(2);
  expectRealTimeSafe(node, varySweep<VibratoNode>);
}

// Loud noise then a long silence through every node type in turn, so that
// the feedback paths decay through the subnormal range; every output sample.
std::vector<float> decayingRender() {
  std::vector<float> rendered;
  const auto run = [&](quorvel::SingleBusAudioProcessorNode& node) {
    AudioBuffer<float> input(2, 256, 8000);
    AudioBuffer<float> output(2, 256, 8000);
    std::uint32_t seed = 12345;
    for (int block = 0; block < 400; ++block) {
      for (unsigned int c = 0; c < 2; ++c)
        for (unsigned int f = 0; f < 256; ++f) {
          seed = seed * 1664525u + 1013904223u;
          const float noise = static_cast<float>(seed >> 8) / 16777216.0f - 0.5f;
          input.setSample(c, f, block < 8 ? noise : 0.0f);
        }
      AudioBus in(input);
      AudioBus out(output);
      node.process(in, out);
      for (unsigned int c = 0; c < 2; ++c)
        for (unsigned int f = 0; f < 256; ++f) rendered.push_back(output.getSample(c, f));
    }
  };
  DelayNode delay(2);
  delay.setDelayMs(1);
  delay.setFeedbackLevel(0.9f);
  run(delay);
  PingPongDelayNode pingPong(quorvel::QVAnyMap{});
  pingPong.setDelayMs(1);
  pingPong.setFeedbackLevel(0.9f);
  run(pingPong);
  FlangerNode flanger(2);
  run(flanger);
  ChorusNode chorus(2);
  run(chorus);
  VibratoNode vibrato(2);
  run(vibrato);
  return rendered;
}

#if defined(__SSE2__) || defined(_M_X64)
// The node sets its own floating-point mode for the call only: the caller's
// mode is the same after the call, whatever it was.
TEST(RealTimeSafety, ProcessLeavesTheCallersFloatingPointMode) {
  FlangerNode node(2);
  AudioBuffer<float> input(2, 64, 48000);
  AudioBuffer<float> output(2, 64, 48000);
  AudioBus in(input);
  AudioBus out(output);
  const unsigned int original = _mm_getcsr();
  for (unsigned int mode : {original & ~0x8040u, original | 0x8040u, original | 0x6000u}) {
    _mm_setcsr(mode);
    node.process(in, out);
    const unsigned int after = _mm_getcsr();
    _mm_setcsr(original);
    // Exception flags (the low six bits) may be raised; the mode bits must not move.
    EXPECT_EQ(after & ~0x3Fu, mode & ~0x3Fu);
  }
}

// A host may leave its audio thread flushing subnormals or rounding another
// way: the nodes give the same bits in every mode, through a decay that
// reaches the subnormal range.
TEST(RealTimeSafety, TheCallersFloatingPointModeDoesNotChangeTheBits) {
  const unsigned int original = _mm_getcsr();
  const auto renderIn = [&](unsigned int mode) {
    _mm_setcsr(mode);
    std::vector<float> rendered = decayingRender();
    _mm_setcsr(original);
    return rendered;
  };
  const std::vector<float> plain = renderIn(original & ~0xE040u);
  EXPECT_EQ(renderIn(original | 0x8040u), plain);  // flush-to-zero, denormals-are-zero
  EXPECT_EQ(renderIn(original | 0x6000u), plain);  // rounding towards zero
}
#elif defined(__aarch64__)
std::uint64_t readFpcr() {
  std::uint64_t value;
  __asm__ __volatile__("mrs %0, fpcr" : "=r"(value));
  return value;
}
void writeFpcr(std::uint64_t value) { __asm__ __volatile__("msr fpcr, %0" : : "r"(value)); }

// The same on arm64, where FPCR holds modes only (the flags are in FPSR), so
// every bit must come back: flush-to-zero (FZ, bit 24) off and on, and
// rounding towards zero (RMode, bits 22-23) beside it.
TEST(RealTimeSafety, ProcessLeavesTheCallersFloatingPointMode) {
  FlangerNode node(2);
  AudioBuffer<float> input(2, 64, 48000);
  AudioBuffer<float> output(2, 64, 48000);
  AudioBus in(input);
  AudioBus out(output);
  constexpr std::uint64_t kFz = std::uint64_t{1} << 24, kRoundToZero = std::uint64_t{3} << 22;
  const std::uint64_t original = readFpcr();
  for (std::uint64_t mode : {original & ~kFz, original | kFz, original | kRoundToZero}) {
    writeFpcr(mode);
    node.process(in, out);
    const std::uint64_t after = readFpcr();
    writeFpcr(original);
    EXPECT_EQ(after, mode);
  }
}

// As on x86-64: flush-to-zero or another rounding in the caller's FPCR does
// not change the bits.
TEST(RealTimeSafety, TheCallersFloatingPointModeDoesNotChangeTheBits) {
  constexpr std::uint64_t kFz = std::uint64_t{1} << 24, kRoundToZero = std::uint64_t{3} << 22;
  const std::uint64_t original = readFpcr();
  const auto renderIn = [&](std::uint64_t mode) {
    writeFpcr(mode);
    std::vector<float> rendered = decayingRender();
    writeFpcr(original);
    return rendered;
  };
  const std::vector<float> plain = renderIn(original & ~(kFz | kRoundToZero));
  EXPECT_EQ(renderIn(original | kFz), plain);
  EXPECT_EQ(renderIn(original | kRoundToZero), plain);
}
#endif

}  // namespace
