// The oscillators' phase recurrence, several steps at a time, with the bits
// of one step after another.
//
// While the phase stays in one binade, every step adds the same rounded
// increment r (the increment rounded to that binade's spacing), so from a
// phase p the phases p + k r follow one another until the phase wraps at 1,
// crosses into another binade or the increment falls on a rounding tie. The
// kernel does not rest on that argument: lane k of a run holds p + k r, and
// one serial step is taken from every lane at once; lane k + 1 is accepted
// only if the step from lane k gives exactly its bits. By induction from p,
// the accepted lanes are the serial phases; the step from the last of them
// is the serial phase that follows, and a new run starts there, with r taken
// again from the step it makes.
#include <cstddef>
#include <cstdint>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vector/Phase.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "OscillatorStep.hpp"
#include "vector/Phase.hpp"

HWY_BEFORE_NAMESPACE();
namespace quorvel::audio::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using PhaseFloats = hn::ScalableTag<float>;

// Phases a run tries at once: enough that its fixed cost (one scalar add on
// the chain from run to run, a branch) is spread thin, few enough that a run
// cut short by a wrap wastes little.
constexpr std::size_t kRunSteps = 32;
constexpr std::size_t kMaxRun = kRunSteps > hn::MaxLanes(PhaseFloats())
                                    ? kRunSteps
                                    : hn::MaxLanes(PhaseFloats());

// offsets[k] = k x step for k in [1, run], each one float multiply, and
// offsets[0] = -0, which leaves any phase as it is (+0 would turn -0 to +0).
template <class D>
HWY_INLINE void FillOffsets(D df, float step, std::size_t run, float* offsets) {
  const std::size_t n = hn::Lanes(df);
  const auto r = hn::Set(df, step);
  for (std::size_t j = 0; j <= run; j += n) {
    hn::Store(hn::Mul(hn::Iota(df, static_cast<float>(j)), r), df, offsets + j);
  }
  offsets[0] = -0.0f;
}

// The phases from `phase` on, or with kAngles their angles after `shift`,
// into out[0, count); returns the phase after them.
template <bool kAngles>
HWY_INLINE float PhaseRuns(float increment, float phase, double shift, float* HWY_RESTRICT out,
                           unsigned int count) {
  const PhaseFloats df;
  const hn::RebindToSigned<PhaseFloats> di;
  const std::size_t n = hn::Lanes(df);
  const std::size_t run = n >= kRunSteps ? n : kRunSteps / n * n;
  const auto inc = hn::Set(df, increment);
  const auto one = hn::Set(df, 1.0f);
  const hn::ScalableTag<double> dd;
  const hn::Rebind<float, decltype(dd)> dh;
  const auto angleShift = hn::Set(dd, shift);
  const auto cycle = hn::Set(dd, detail::kTwoPi);
  // One vector more than a run: the lane after the last one's successor.
  HWY_ALIGN float offsets[kMaxRun + hn::MaxLanes(PhaseFloats())];
  // The end of the chunk, when less than a run is left.
  HWY_ALIGN float spare[kMaxRun];
  float p = phase;
  if (count == 0) return p;
  FillOffsets(df, detail::nextPhase<false>(increment, p) - p, run, offsets);
  std::size_t i = 0;
  while (i < count) {
    const std::size_t left = count - i;
    float* dst = left >= run ? out + i : spare;
    const auto start = hn::Set(df, p);
    // The first lane whose serial step is not the candidate after it.
    std::intptr_t broken = -1;
    for (std::size_t j = 0; j < run; j += n) {
      const auto candidate = hn::Add(start, hn::Load(df, offsets + j));
      const auto following = hn::Add(start, hn::LoadU(df, offsets + j + 1));
      const auto sum = hn::Add(inc, candidate);
      const auto next = hn::IfThenElse(hn::Ge(sum, one), hn::Sub(sum, one), sum);
      // Bits, not values: -0 and +0 are different phases to the recurrence.
      const auto same = hn::Eq(hn::BitCast(di, next), hn::BitCast(di, following));
      hn::StoreU(candidate, df, dst + j);
      if (kAngles) {
        // Each phase widened, turned and rounded to float as angleOf does.
        for (std::size_t h = 0; h < n; h += hn::Lanes(dd)) {
          const auto wide = hn::PromoteTo(dd, hn::LoadU(dh, dst + j + h));
          hn::StoreU(hn::DemoteTo(dh, hn::Add(angleShift, hn::Mul(wide, cycle))), dh, dst + j + h);
        }
      }
      if (HWY_UNLIKELY(!hn::AllTrue(di, same))) {
        broken = static_cast<std::intptr_t>(j) + hn::FindFirstTrue(di, hn::Not(same));
        break;
      }
    }
    if (HWY_LIKELY(broken < 0 && left >= run)) {
      // The whole run holds; the lane after the last is p + offsets[run],
      // the same add as its lane's `following`.
      p = p + offsets[run];
      i += run;
      continue;
    }
    const std::size_t good = broken < 0 ? run : static_cast<std::size_t>(broken) + 1;
    const std::size_t accepted = good < left ? good : left;
    if (dst == spare) {
      for (std::size_t k = 0; k < accepted; ++k) out[i + k] = spare[k];
    }
    // The last accepted lane's phase is p + offsets[accepted - 1], the same
    // add as on its lane.
    p = detail::nextPhase<false>(increment, p + offsets[accepted - 1]);
    i += accepted;
    if (broken >= 0 && i < count) {
      FillOffsets(df, detail::nextPhase<false>(increment, p) - p, run, offsets);
    }
  }
  return p;
}

float PhaseStepsKernel(float increment, float phase, float* HWY_RESTRICT phases,
                       unsigned int count) {
  return PhaseRuns<false>(increment, phase, 0.0, phases, count);
}

float PhaseAnglesKernel(float increment, float phase, double shift, float* HWY_RESTRICT angles,
                        unsigned int count) {
  return PhaseRuns<true>(increment, phase, shift, angles, count);
}

// Runs pay only with lanes to run them on; without, the oscillators' serial
// loops are quicker, two at a time.
bool PhaseRunsOnLanesKernel() { return HWY_TARGET != HWY_SCALAR && HWY_TARGET != HWY_EMU128; }

void ScaleAndOffsetKernel(float* HWY_RESTRICT values, unsigned int count, float amplitude,
                          float offset) {
  const PhaseFloats df;
  const std::size_t n = hn::Lanes(df);
  const auto gain = hn::Set(df, amplitude);
  const auto shift = hn::Set(df, offset);
  std::size_t i = 0;
  for (; i + n <= count; i += n) {
    hn::StoreU(hn::Add(hn::Mul(hn::LoadU(df, values + i), gain), shift), df, values + i);
  }
  for (; i < count; ++i) values[i] = values[i] * amplitude + offset;
}

}  // namespace quorvel::audio::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace quorvel::audio::kernels {

HWY_EXPORT(PhaseStepsKernel);
HWY_EXPORT(PhaseAnglesKernel);
HWY_EXPORT(PhaseRunsOnLanesKernel);
HWY_EXPORT(ScaleAndOffsetKernel);

float phaseSteps(float increment, float phase, float* phases, unsigned int count) noexcept {
  return HWY_DYNAMIC_DISPATCH(PhaseStepsKernel)(increment, phase, phases, count);
}

float phaseAngles(float increment, float phase, double shift, float* angles,
                  unsigned int count) noexcept {
  return HWY_DYNAMIC_DISPATCH(PhaseAnglesKernel)(increment, phase, shift, angles, count);
}

bool phaseRunsOnLanes() noexcept { return HWY_DYNAMIC_DISPATCH(PhaseRunsOnLanesKernel)(); }

void scaleAndOffset(float* values, unsigned int count, float amplitude, float offset) noexcept {
  HWY_DYNAMIC_DISPATCH(ScaleAndOffsetKernel)(values, count, amplitude, offset);
}

}  // namespace quorvel::audio::kernels
#endif  // HWY_ONCE
