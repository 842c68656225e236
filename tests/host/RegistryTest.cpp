#include <gtest/gtest.h>

#include <memory>

#include "quorvel/ExtensionManager.hpp"
#include "quorvel/Node.hpp"
#include "quorvel/NodeFactory.hpp"

namespace {

using quorvel::Node;
using quorvel::NodeTypeInfo;
using quorvel::QVAny;
using quorvel::QVAnyMap;

class RecordingNode : public Node {
 public:
  explicit RecordingNode(const QVAnyMap& configuration)
      : Node("recording"), configuration(configuration) {}
  QVAnyMap configuration;
};

class TestFactory : public quorvel::NodeFactory {
 public:
  TestFactory() {
    registerNode(info("First", "one"), [](const QVAnyMap& c) { return new RecordingNode(c); });
    registerNode(info("Second", "two"), [](const QVAnyMap& c) { return new RecordingNode(c); });
  }
  std::string getNodeTypePrefix() override { return "Test"; }
  void replaceFirst() {
    registerNode(info("First", "replaced"), [](const QVAnyMap&) { return nullptr; });
  }
  static NodeTypeInfo info(const std::string& subtype, const std::string& displayName) {
    NodeTypeInfo result;
    result.type = "Test";
    result.subtype = subtype;
    result.displayName = displayName;
    return result;
  }
};

TEST(NodeFactory, ListsAndCreatesRegisteredTypesByFullyQualifiedName) {
  TestFactory factory;
  const std::vector<NodeTypeInfo> types = factory.getNodeTypes();
  ASSERT_EQ(types.size(), 2u);
  EXPECT_EQ(types[0].getFQTypeName(), "Test.First");
  EXPECT_EQ(types[1].getFQTypeName(), "Test.Second");

  const QVAnyMap configuration{{"gain", QVAny(0.5f)}};
  std::unique_ptr<Node> node(factory.createNode("Test.Second", configuration));
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(static_cast<RecordingNode&>(*node).configuration, configuration);
  EXPECT_EQ(factory.createNode("Second", {}), nullptr);
  EXPECT_EQ(factory.createNode("Test.Third", {}), nullptr);
}

TEST(NodeFactory, ARepeatedRegistrationReplacesTheFirstInPlace) {
  TestFactory factory;
  factory.replaceFirst();
  const std::vector<NodeTypeInfo> types = factory.getNodeTypes();
  ASSERT_EQ(types.size(), 2u);
  EXPECT_EQ(types[0].displayName, "replaced");
  EXPECT_EQ(factory.createNode("Test.First", {}), nullptr);
}

class NamedExtension : public quorvel::Extension {
 public:
  explicit NamedExtension(std::string name) : Extension("extension"), name_(std::move(name)) {}
  std::string getName() override { return name_; }
  std::string getDescription() override { return "test"; }
  std::shared_ptr<quorvel::NodeFactory> getNodeFactory() override {
    return std::make_shared<TestFactory>();
  }

 private:
  std::string name_;
};

TEST(ExtensionManager, KeepsExtensionsAliveInRegistrationOrder) {
  quorvel::ExtensionManager& manager = quorvel::ExtensionManager::getInstance();
  EXPECT_EQ(&manager, &quorvel::ExtensionManager::getInstance());
  const std::size_t before = manager.getExtensions().size();
  EXPECT_EQ(manager.getExtension("RegistryTest.A"), nullptr);

  std::weak_ptr<quorvel::Extension> watch;
  {
    auto first = std::make_shared<NamedExtension>("RegistryTest.A");
    watch = first;
    manager.registerExtension(first);
  }
  manager.registerExtension(std::make_shared<NamedExtension>("RegistryTest.A"));
  manager.registerExtension(nullptr);
  EXPECT_FALSE(watch.expired());

  const auto extensions = manager.getExtensions();
  ASSERT_EQ(extensions.size(), before + 2);
  EXPECT_EQ(extensions[before], watch.lock());
  EXPECT_EQ(manager.getExtension("RegistryTest.A"), watch.lock());  // the first of that name
  EXPECT_TRUE(manager.getExtension("RegistryTest.A")->initialize(QVAnyMap{}).isSuccess());
  EXPECT_TRUE(manager.getExtension("RegistryTest.A")->deinitialize().isSuccess());
}

}  // namespace
