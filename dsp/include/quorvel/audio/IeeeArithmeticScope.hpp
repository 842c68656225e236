#pragma once

#include <cstdint>

#if defined(__SSE2__) || defined(_M_X64)
#include <immintrin.h>
#endif

namespace quorvel::audio {

// For its lifetime, makes this thread's floating-point unit compute plain
// IEEE 754 arithmetic (subnormals kept, rounding to nearest), whatever mode
// the caller's thread was left in: a host that flushes subnormals on its
// audio thread would otherwise change our bits, and WebAssembly has no such
// mode at all. Decaying tails still reach silence fast: the lines store, and
// the effects output, a subnormal as a zero of its sign. The previous mode
// comes back on destruction.
class IeeeArithmeticScope {
 public:
  // Switches flush-to-zero and denormals-are-zero off and rounds to nearest.
  IeeeArithmeticScope() noexcept {
#if defined(__SSE2__) || defined(_M_X64)
    saved_ = _mm_getcsr();
    _mm_setcsr(saved_ & ~(kFlushToZero | kDenormalsAreZero | kRoundingControl));
#elif defined(__aarch64__)
    __asm__ __volatile__("mrs %0, fpcr" : "=r"(saved_));
    const std::uint64_t plain = saved_ & ~(kFlushToZero | kRoundingMode);
    if (plain != saved_) __asm__ __volatile__("msr fpcr, %0" : : "r"(plain));
#endif
  }
  // Restores the mode found at construction.
  ~IeeeArithmeticScope() {
#if defined(__SSE2__) || defined(_M_X64)
    _mm_setcsr(saved_);
#elif defined(__aarch64__)
    __asm__ __volatile__("msr fpcr, %0" : : "r"(saved_));
#endif
  }

  IeeeArithmeticScope(const IeeeArithmeticScope&) = delete;
  IeeeArithmeticScope& operator=(const IeeeArithmeticScope&) = delete;

 private:
#if defined(__SSE2__) || defined(_M_X64)
  // MXCSR: FTZ flushes subnormal results, DAZ reads subnormal operands as 0,
  // RC (two bits) selects the rounding; 00 is to nearest.
  static constexpr unsigned int kFlushToZero = 0x8000;
  static constexpr unsigned int kDenormalsAreZero = 0x0040;
  static constexpr unsigned int kRoundingControl = 0x6000;
  unsigned int saved_ = 0;
#elif defined(__aarch64__)
  // FPCR.FZ flushes subnormal operands and results; FPCR.RMode (two bits)
  // selects the rounding, 00 to nearest.
  static constexpr std::uint64_t kFlushToZero = std::uint64_t{1} << 24;
  static constexpr std::uint64_t kRoundingMode = std::uint64_t{3} << 22;
  std::uint64_t saved_ = 0;
#endif
};

}  // namespace quorvel::audio
