// The one way from the effect registry to the node classes: every effect the
// core registers has its node, and the factory registers exactly those, in
// the registry's order.
#include <gtest/gtest.h>

#include <memory>
#include <quorvel/AudioEffects.hpp>
#include <quorvel/nodes/EffectNodeTypes.hpp>
#include <string>
#include <vector>

namespace {

using quorvel::QVAny;
using quorvel::QVAnyMap;
using quorvel::audio::EffectInfo;
using namespace quorvel::extensions::audioeffects;

// The node class `node` is, by the effect its controls belong to.
std::string effectOf(quorvel::Node& node) {
  quorvel::audio::EffectControls* controls = effectControls(node);
  return controls ? std::string(controls->info().name) : "(not an effect node)";
}

bool acceptsChannels(quorvel::Node& node, unsigned int channels) {
  quorvel::AudioBusFormat in(48000, channels, 64), out(48000, channels, 64);
  return dynamic_cast<quorvel::SingleBusAudioProcessorNode&>(node).setBusFormat(in, out);
}

// A registry entry without a node would otherwise only show as a factory
// that refuses to be built.
TEST(EffectNodeTypes, EveryRegisteredEffectHasANodeOfItsOwn) {
  const QVAnyMap configuration{{"numChannels", QVAny(6u)}, {"delayMs", QVAny(5u)}};
  for (const EffectInfo* effect : quorvel::audio::effectTypes()) {
    const EffectNodeType* type = effectNodeType(*effect);
    ASSERT_NE(type, nullptr) << "no node runs effect type " << effect->name;
    EXPECT_EQ(type->typeInfo().subtype, effect->name);
    EXPECT_EQ(type->typeInfo().displayName, effect->displayName);
    for (const QVAnyMap& map : {QVAnyMap{}, configuration}) {
      std::unique_ptr<quorvel::Node> node(type->create(map));
      ASSERT_NE(node, nullptr) << effect->name;
      EXPECT_EQ(effectOf(*node), effect->name);
      // State for a stereo bus, whatever the map asks for.
      EXPECT_TRUE(acceptsChannels(*node, 2)) << effect->name;
      EXPECT_FALSE(acceptsChannels(*node, 3)) << effect->name;
    }
  }
  EffectInfo unknown{};
  unknown.name = "Reverb";
  EXPECT_EQ(effectNodeType(unknown), nullptr);
}

TEST(EffectNodeTypes, FactoryRegistersTheRegistryInItsOrder) {
  AudioEffectsNodeFactory factory;
  std::vector<quorvel::NodeTypeInfo> expected;
  for (const EffectInfo* effect : quorvel::audio::effectTypes()) {
    expected.push_back(effectNodeType(*effect)->typeInfo());
  }
  EXPECT_EQ(factory.getNodeTypes(), expected);
}

// The swept nodes share one implementation but stay three classes, which
// hosts and effectControls tell apart by dynamic_cast.
TEST(EffectNodeTypes, SweptNodesStayDistinctClasses) {
  ChorusNode chorus(2);
  FlangerNode flanger(2);
  quorvel::Node& node = flanger;
  EXPECT_EQ(dynamic_cast<ChorusNode*>(&node), nullptr);
  EXPECT_EQ(dynamic_cast<VibratoNode*>(&node), nullptr);
  EXPECT_EQ(effectOf(chorus), "Chorus");
  EXPECT_EQ(effectOf(flanger), "Flanger");
}

}  // namespace
