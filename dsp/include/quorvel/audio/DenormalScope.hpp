#pragma once

#include <cstdint>

#if defined(__SSE2__) || defined(_M_X64)
#include <immintrin.h>
#endif

namespace quorvel::audio {

// For its lifetime, makes this thread's floating-point unit treat subnormal
// operands as zero and flush subnormal results to zero; the previous mode
// comes back on destruction. When a feedback path decays after the signal
// stops, its samples sink into the subnormal range, where x86 arithmetic
// can be many times slower: the node would then overrun its real-time budget
// exactly when it has least to do. Only subnormal values change: every
// normal result keeps its bits.
class DenormalScope {
 public:
  // Switches flush-to-zero and denormals-are-zero on.
  DenormalScope() noexcept {
#if defined(__SSE2__) || defined(_M_X64)
    saved_ = _mm_getcsr();
    _mm_setcsr(saved_ | kFlushToZero | kDenormalsAreZero);
#elif defined(__aarch64__)
    __asm__ __volatile__("mrs %0, fpcr" : "=r"(saved_));
    const std::uint64_t flushing = saved_ | kFlushToZero;
    __asm__ __volatile__("msr fpcr, %0" : : "r"(flushing));
#endif
  }
  // Restores the mode found at construction.
  ~DenormalScope() {
#if defined(__SSE2__) || defined(_M_X64)
    _mm_setcsr(saved_);
#elif defined(__aarch64__)
    __asm__ __volatile__("msr fpcr, %0" : : "r"(saved_));
#endif
  }

  DenormalScope(const DenormalScope&) = delete;
  DenormalScope& operator=(const DenormalScope&) = delete;

 private:
#if defined(__SSE2__) || defined(_M_X64)
  // MXCSR bits: FTZ flushes subnormal results, DAZ reads subnormal operands as 0.
  static constexpr unsigned int kFlushToZero = 0x8000;
  static constexpr unsigned int kDenormalsAreZero = 0x0040;
  unsigned int saved_ = 0;
#elif defined(__aarch64__)
  // FPCR.FZ: subnormal operands and results are both flushed to zero.
  static constexpr std::uint64_t kFlushToZero = std::uint64_t{1} << 24;
  std::uint64_t saved_ = 0;
#endif
};

}  // namespace quorvel::audio
