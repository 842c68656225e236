#include "quorvel/nodes/EffectControls.hpp"

#include "quorvel/nodes/ChorusNode.hpp"
#include "quorvel/nodes/DelayNode.hpp"
#include "quorvel/nodes/FlangerNode.hpp"
#include "quorvel/nodes/PingPongDelayNode.hpp"
#include "quorvel/nodes/VibratoNode.hpp"

namespace quorvel::extensions::audioeffects {

audio::EffectControls* effectControls(Node& node) noexcept {
  if (auto* delay = dynamic_cast<DelayNode*>(&node)) return &delay->controls();
  if (auto* pingPong = dynamic_cast<PingPongDelayNode*>(&node)) return &pingPong->controls();
  if (auto* vibrato = dynamic_cast<VibratoNode*>(&node)) return &vibrato->controls();
  if (auto* flanger = dynamic_cast<FlangerNode*>(&node)) return &flanger->controls();
  if (auto* chorus = dynamic_cast<ChorusNode*>(&node)) return &chorus->controls();
  return nullptr;
}

}  // namespace quorvel::extensions::audioeffects
