// The LV2 face of the plugins: one descriptor per variant, each instance an
// adapter Instance. Needs no host feature.
#include <lv2/core/lv2.h>

#include <new>
#include <vector>

#include "PluginAdapter.hpp"

namespace {

using quorvel::plugins::Instance;
using quorvel::plugins::Variant;

LV2_Handle instantiate(const LV2_Descriptor* descriptor, double rate, const char*,
                       const LV2_Feature* const*) {
  try {
    for (const Variant& v : quorvel::plugins::variants()) {
      if (v.uri == descriptor->URI) return Instance::create(v, rate).release();
    }
  } catch (const std::bad_alloc&) {
  }
  return nullptr;
}

void connectPort(LV2_Handle handle, uint32_t port, void* data) {
  static_cast<Instance*>(handle)->connect(port, data);
}

void activate(LV2_Handle handle) { static_cast<Instance*>(handle)->activate(); }

void run(LV2_Handle handle, uint32_t frames) { static_cast<Instance*>(handle)->run(frames); }

void cleanup(LV2_Handle handle) { delete static_cast<Instance*>(handle); }

const void* extensionData(const char*) { return nullptr; }

std::vector<LV2_Descriptor> makeDescriptors() {
  std::vector<LV2_Descriptor> out;
  for (const Variant& v : quorvel::plugins::variants()) {
    out.push_back(
        {v.uri.c_str(), instantiate, connectPort, activate, run, nullptr, cleanup, extensionData});
  }
  return out;
}

}  // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
  try {
    static const std::vector<LV2_Descriptor> descriptors = makeDescriptors();
    return index < descriptors.size() ? &descriptors[index] : nullptr;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
