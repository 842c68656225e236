// Which instruction set the kernels dispatch to, reported and forced.
#include <cstdint>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vector/Targets.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace quorvel::audio::HWY_NAMESPACE {

// The target this copy of the code was compiled for.
std::int64_t compiledTarget() { return HWY_TARGET; }

}  // namespace quorvel::audio::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include <cstdint>
#include <string>
#include <vector>

#include "quorvel/audio/VectorTargets.hpp"

namespace quorvel::audio {

HWY_EXPORT(compiledTarget);

#if HWY_COMPILE_ONLY_STATIC
// One copy of the kernels (the baseline build, and WebAssembly, where
// Highway's compiled run-time detection is not linked): nothing to choose.
std::vector<std::string> vectorTargets() { return {hwy::TargetName(HWY_STATIC_TARGET)}; }

std::string activeVectorTarget() { return hwy::TargetName(HWY_STATIC_TARGET); }

bool forceVectorTarget(const std::string& name) {
  return name.empty() || name == hwy::TargetName(HWY_STATIC_TARGET);
}
#else
std::vector<std::string> vectorTargets() {
  std::vector<std::string> names;
  hwy::SetSupportedTargetsForTest(0);
  for (const std::int64_t target : hwy::SupportedAndGeneratedTargets()) {
    names.emplace_back(hwy::TargetName(target));
  }
  return names;
}

std::string activeVectorTarget() { return hwy::TargetName(HWY_DYNAMIC_DISPATCH(compiledTarget)()); }

bool forceVectorTarget(const std::string& name) {
  if (name.empty()) {
    hwy::SetSupportedTargetsForTest(0);
    return true;
  }
  hwy::SetSupportedTargetsForTest(0);
  for (const std::int64_t target : hwy::SupportedAndGeneratedTargets()) {
    if (name == hwy::TargetName(target)) {
      hwy::SetSupportedTargetsForTest(target);
      return true;
    }
  }
  return false;
}
#endif

}  // namespace quorvel::audio
#endif  // HWY_ONCE
