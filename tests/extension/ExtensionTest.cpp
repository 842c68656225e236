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
