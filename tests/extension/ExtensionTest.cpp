#include <gtest/gtest.h>

#include <memory>
#include <quorvel/AudioEffects.hpp>

namespace {

using quorvel::ExtensionManager;
using quorvel::QVAny;
using quorvel::QVAnyMap;
using quorvel::extensions::audioeffects::AudioEffectsExtension;

std::size_t registeredCount() { return ExtensionManager::getInstance().getExtensions().size(); }

TEST(AudioEffectsExtension, NamesAndDescribesItself) {
  AudioEffectsExtension extension;
  EXPECT_EQ(extension.getObjectName(), "extension");
  EXPECT_EQ(extension.getName(), "AudioEffects");
  EXPECT_EQ(extension.getDescription(),
            "Basic audio effects such as delay, chorus, flanger, and vibrato.");
  EXPECT_EQ(extension.getDescription().size(), 64u);
}

TEST(AudioEffectsExtension, InitializeAndDeinitializeAlwaysSucceed) {
  AudioEffectsExtension extension;
  EXPECT_TRUE(extension.deinitialize().isSuccess());
  EXPECT_TRUE(extension.initialize(QVAnyMap{{"anything", QVAny(1)}}).isSuccess());
  EXPECT_TRUE(extension.initialize(QVAnyMap{}).isSuccess());
  EXPECT_TRUE(extension.deinitialize().isSuccess());
  EXPECT_TRUE(extension.deinitialize().isSuccess());
  EXPECT_EQ(extension.getName(), "AudioEffects");
}

TEST(AudioEffectsExtension, EachLoadRegistersAnotherExtensionOwnedByTheRegistry) {
  const std::size_t before = registeredCount();
  AudioEffectsExtension::load();
  AudioEffectsExtension::load();
  const auto extensions = ExtensionManager::getInstance().getExtensions();
  ASSERT_EQ(extensions.size(), before + 2);
  EXPECT_NE(extensions[before], extensions[before + 1]);
  // The library keeps no reference of its own: the registry's is the only one
  // besides the copies just taken.
  EXPECT_EQ(extensions[before].use_count(), 2);
  EXPECT_EQ(extensions[before]->getName(), "AudioEffects");
  EXPECT_NE(ExtensionManager::getInstance().getExtension("AudioEffects"), nullptr);
}

TEST(AudioEffectsExtension, JniEntryPointLoadsLikeTheNativeOne) {
  const std::size_t before = registeredCount();
  int environment = 0;
  Java_com_omnifral_quorvelaudioeffects_AudioEffectsExtension_load(&environment, nullptr);
  Java_com_omnifral_quorvelaudioeffects_AudioEffectsExtension_load(nullptr, &environment);
  const auto extensions = ExtensionManager::getInstance().getExtensions();
  ASSERT_EQ(extensions.size(), before + 2);
  EXPECT_EQ(extensions.back()->getName(), "AudioEffects");
}

TEST(AudioEffectsExtension, EveryFactoryIsNewAndIndependent) {
  AudioEffectsExtension extension;
  std::shared_ptr<quorvel::NodeFactory> first = extension.getNodeFactory();
  std::shared_ptr<quorvel::NodeFactory> second = extension.getNodeFactory();
  ASSERT_NE(first, nullptr);
  EXPECT_NE(first, second);
  EXPECT_EQ(first.use_count(), 1);
  EXPECT_EQ(first->getNodeTypePrefix(), "AudioEffects");
  const auto types = second->getNodeTypes();
  first.reset();
  EXPECT_EQ(second->getNodeTypes(), types);
}

}  // namespace

namespace {

using namespace quorvel::extensions::audioeffects;

const char* const kRegistrationOrder[] = {"AudioEffects.Delay", "AudioEffects.PingPongDelay",
                                          "AudioEffects.Vibrato", "AudioEffects.Flanger",
                                          "AudioEffects.Chorus"};

TEST(AudioEffectsNodeFactory, RegistersTheFiveTypesInOrderWithTheirOwnDescriptors) {
  AudioEffectsNodeFactory factory;
  const std::vector<quorvel::NodeTypeInfo> types = factory.getNodeTypes();
  ASSERT_EQ(types.size(), 5u);
  for (std::size_t i = 0; i < types.size(); ++i) {
    EXPECT_EQ(types[i].getFQTypeName(), kRegistrationOrder[i]);
    EXPECT_EQ(types[i].type, factory.getNodeTypePrefix());
  }
  EXPECT_EQ(types[0], DelayNode::getNodeTypeInfo());
  EXPECT_EQ(types[1], PingPongDelayNode::getNodeTypeInfo());
  EXPECT_EQ(types[2], VibratoNode::getNodeTypeInfo());
  EXPECT_EQ(types[3], FlangerNode::getNodeTypeInfo());
  EXPECT_EQ(types[4], ChorusNode::getNodeTypeInfo());
}

// Accepting a stereo but refusing a three-channel format shows a node built
// for two channels (the ping-pong delay takes exactly two by its own rule).
bool acceptsChannels(quorvel::Node& node, unsigned int channels) {
  auto& audioNode = dynamic_cast<quorvel::SingleBusAudioProcessorNode&>(node);
  quorvel::AudioBusFormat in(48000, channels, 64), out(48000, channels, 64);
  return audioNode.setBusFormat(in, out);
}

TEST(AudioEffectsNodeFactory, CreatesEachTypeByNameForTwoChannels) {
  AudioEffectsNodeFactory factory;
  const QVAnyMap configuration{{"numChannels", QVAny(6u)}, {"delayMs", QVAny(5u)}};
  for (const char* name : kRegistrationOrder) {
    for (const QVAnyMap& map : {QVAnyMap{}, configuration}) {
      std::unique_ptr<quorvel::Node> node(factory.createNode(name, map));
      ASSERT_NE(node, nullptr) << name;
      EXPECT_TRUE(acceptsChannels(*node, 2)) << name;
      EXPECT_FALSE(acceptsChannels(*node, 3)) << name;
    }
  }
  std::unique_ptr<quorvel::Node> delay(factory.createNode("AudioEffects.Delay", configuration));
  EXPECT_NE(dynamic_cast<DelayNode*>(delay.get()), nullptr);
  std::unique_ptr<quorvel::Node> pingPong(
      factory.createNode("AudioEffects.PingPongDelay", configuration));
  auto& pingPongNode = dynamic_cast<PingPongDelayNode&>(*pingPong);
  EXPECT_EQ(pingPongNode.getDelayMs(), 200u);  // the map is not read
  EXPECT_EQ(pingPong->getValue("delayMs").value(), QVAny(200u));
  EXPECT_EQ(factory.createNode("Chorus", {}), nullptr);
  EXPECT_EQ(factory.createNode("AudioEffects.Reverb", {}), nullptr);
}

}  // namespace
