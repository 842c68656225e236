#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <utility>

#include "quorvel/NodeTypeInfo.hpp"

namespace {

using quorvel::NodeTypeInfo;
using quorvel::QVAny;
using quorvel::QVAnyMap;

// Every vocabulary constant with the text the host and its extensions agree on.
const std::pair<const std::string*, const char*> kVocabulary[] = {
    {&quorvel::ACTION_FIELD_NAME, "name"},
    {&quorvel::ACTION_FIELD_DESCRIPTION, "description"},
    {&quorvel::ACTION_FIELD_PARAMETERS, "parameters"},
    {&quorvel::ACTION_FIELD_HANDLER, "handler"},
    {&quorvel::ACTION_PARAMETER_FIELD_NAME, "name"},
    {&quorvel::ACTION_PARAMETER_FIELD_DESCRIPTION, "description"},
    {&quorvel::ACTION_PARAMETER_FIELD_TYPE, "type"},
    {&quorvel::ACTION_PARAMETER_FIELD_IS_OPTIONAL, "isOptional"},
    {&quorvel::ACTION_PARAMETER_TYPE_BOOLEAN, "boolean"},
    {&quorvel::ACTION_PARAMETER_TYPE_FLOAT, "float"},
    {&quorvel::ACTION_PARAMETER_TYPE_INT, "int"},
    {&quorvel::ACTION_PARAMETER_TYPE_STRING, "string"},
    {&quorvel::ACTION_PARAMETER_TYPE_OBJECT, "object"},
    {&quorvel::CONFIGURATION_FIELD_TYPE, "type"},
    {&quorvel::CONFIGURATION_FIELD_NAME, "name"},
    {&quorvel::CONFIGURATION_FIELD_DESCRIPTION, "description"},
    {&quorvel::CONFIGURATION_FIELD_DEFAULT, "default"},
    {&quorvel::CONFIGURATION_FIELD_MIN_VALUE, "min"},
    {&quorvel::CONFIGURATION_FIELD_MAX_VALUE, "max"},
    {&quorvel::CONFIGURATION_FIELD_OPTIONS, "options"},
    {&quorvel::CONFIGURATION_FIELD_VALUE, "value"},
    {&quorvel::CONFIGURATION_TYPE_BOOLEAN, "boolean"},
    {&quorvel::CONFIGURATION_TYPE_FLOAT, "float"},
    {&quorvel::CONFIGURATION_TYPE_INT, "int"},
    {&quorvel::CONFIGURATION_TYPE_STRING, "string"},
    {&quorvel::CONFIGURATION_TYPE_ARRAY, "array"},
    {&quorvel::CONFIGURATION_TYPE_OBJECT, "object"},
    {&quorvel::EVENT_FIELD_NAME, "name"},
    {&quorvel::EVENT_FIELD_DESCRIPTION, "description"},
    {&quorvel::EVENT_FIELD_DATA, "data"},
    {&quorvel::EVENT_DATA_FIELD_NAME, "name"},
    {&quorvel::EVENT_DATA_FIELD_DESCRIPTION, "description"},
    {&quorvel::EVENT_DATA_FIELD_TYPE, "type"},
    {&quorvel::EVENT_DATA_TYPE_BOOLEAN, "boolean"},
    {&quorvel::EVENT_DATA_TYPE_FLOAT, "float"},
    {&quorvel::EVENT_DATA_TYPE_INT, "int"},
    {&quorvel::EVENT_DATA_TYPE_STRING, "string"},
    {&quorvel::PROPERTY_FIELD_TYPE, "type"},
    {&quorvel::PROPERTY_FIELD_NAME, "name"},
    {&quorvel::PROPERTY_FIELD_DESCRIPTION, "description"},
    {&quorvel::PROPERTY_FIELD_DEFAULT_VALUE, "default"},
    {&quorvel::PROPERTY_FIELD_UNIT, "unit"},
    {&quorvel::PROPERTY_FIELD_MIN_VALUE, "min"},
    {&quorvel::PROPERTY_FIELD_MAX_VALUE, "max"},
    {&quorvel::PROPERTY_FIELD_OPTIONS, "options"},
    {&quorvel::PROPERTY_FIELD_READ_ONLY, "readOnly"},
    {&quorvel::PROPERTY_FIELD_VALUE, "value"},
    {&quorvel::PROPERTY_FIELD_GETTER, "getter"},
    {&quorvel::PROPERTY_FIELD_SETTER, "setter"},
    {&quorvel::PROPERTY_TYPE_BOOLEAN, "boolean"},
    {&quorvel::PROPERTY_TYPE_FLOAT, "float"},
    {&quorvel::PROPERTY_TYPE_INT, "int"},
    {&quorvel::PROPERTY_TYPE_STRING, "string"},
    {&quorvel::PROPERTY_TYPE_OBJECT, "object"},
    {&quorvel::PROPERTY_UNIT_MS, "ms"},
    {&quorvel::PROPERTY_UNIT_DB, "dB"},
    {&quorvel::PROPERTY_UNIT_PERCENT, "%"},
    {&quorvel::PROPERTY_UNIT_HZ, "Hz"},
    {&quorvel::PROPERTY_UNIT_SEMITONES, "semitones"},
    {&quorvel::PROPERTY_UNIT_BPM, "BPM"},
    {&quorvel::PROPERTY_UNIT_SAMPLES, "samples"},
    {&quorvel::PROPERTY_UNIT_FRAMES, "frames"},
    {&quorvel::PROPERTY_UNIT_CHANNELS, "channels"},
    {&quorvel::PROPERTY_UNIT_BYTES, "bytes"},
    {&quorvel::PROPERTY_UNIT_BITS, "bits"},
    {&quorvel::QUORVEL_NODE_NAMESPACE, "Quorvel"},
    {&quorvel::NODE_CATEGORY_AUDIO_PROCESSING, "Audio Processing"},
    {&quorvel::NODE_CATEGORY_MIXING, "Mixing"},
    {&quorvel::NODE_CATEGORY_MUSIC, "Music"},
    {&quorvel::NODE_CATEGORY_VOICE, "Voice"},
    {&quorvel::NODE_CATEGORY_GENERATION, "Generation"},
    {&quorvel::NODE_CATEGORY_ANALYSIS, "Analysis"},
    {&quorvel::NODE_CATEGORY_EFFECTS, "Effects"},
    {&quorvel::NODE_CATEGORY_UTILITY, "Utility"},
    {&quorvel::NODE_CATEGORY_AI, "AI"},
    {&quorvel::NODE_CATEGORY_RTC, "RTC"},
    {&quorvel::OBJECT_TYPE_FIELD_TYPE, "type"},
    {&quorvel::OBJECT_TYPE_FIELD_SUBTYPE, "subtype"},
    {&quorvel::OBJECT_TYPE_FIELD_DESCRIPTION, "description"},
    {&quorvel::OBJECT_TYPE_FIELD_DISPLAY_NAME, "displayName"},
    {&quorvel::OBJECT_TYPE_FIELD_CATEGORIES, "categories"},
    {&quorvel::OBJECT_TYPE_FIELD_CONFIGURATION, "configuration"},
    {&quorvel::OBJECT_TYPE_FIELD_PROPERTIES, "properties"},
    {&quorvel::OBJECT_TYPE_FIELD_ACTIONS, "actions"},
    {&quorvel::OBJECT_TYPE_FIELD_EVENTS, "events"},
    {&quorvel::INHERITED_FROM_FIELD, "inheritedFrom"},
};

TEST(SchemaVocabulary, HoldsEveryConstantWithItsAgreedText) {
  std::set<const std::string*> distinct;
  for (const auto& [constant, text] : kVocabulary) {
    EXPECT_EQ(*constant, text);
    distinct.insert(constant);
  }
  EXPECT_EQ(distinct.size(), 86u);
}

NodeTypeInfo chorusLike() {
  NodeTypeInfo info;
  info.type = "AudioEffects";
  info.subtype = "Chorus";
  info.configuration.set("rate", QVAny(QVAnyMap{}));
  info.actions.set("start", QVAny(QVAnyMap{}));
  info.events.set("clipped", QVAny(QVAnyMap{}));
  info.properties.set("depth", QVAny(QVAnyMap{{"type", QVAny("float")}}));
  info.properties.set("broken", QVAny(3));
  return info;
}

std::string propertyError(const NodeTypeInfo& info, const std::string& key) {
  try {
    info.getProperty(key);
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return "no exception";
}

TEST(NodeTypeInfo, FullyQualifiedNameJoinsTypeAndSubtypeWithADot) {
  NodeTypeInfo info;
  info.type = "AudioEffects";
  info.subtype = "Delay";
  EXPECT_EQ(info.getFQTypeName(), "AudioEffects.Delay");
  info.subtype.clear();
  EXPECT_EQ(info.getFQTypeName(), "AudioEffects.");
}

TEST(NodeTypeInfo, GetPropertySearchesOnlyThePropertySchema) {
  const NodeTypeInfo info = chorusLike();
  EXPECT_EQ(info.getProperty("depth").at("type"), QVAny("float"));
  for (const char* key : {"rate", "start", "clipped", "missing"}) {
    EXPECT_EQ(propertyError(info, key), std::string("[NodeTypeInfo] Property key '") + key +
                                            "' not found for node type 'AudioEffects.Chorus'.");
  }
  EXPECT_EQ(propertyError(info, ""),
            "[NodeTypeInfo] Property key '' not found for node type 'AudioEffects.Chorus'.");
  // An entry that is not a map fails in the conversion, unchanged.
  EXPECT_THROW(info.getProperty("broken"), std::invalid_argument);
}

TEST(NodeTypeInfo, CopiesAreEqualButIndependent) {
  const NodeTypeInfo original = chorusLike();
  NodeTypeInfo copy = original;
  EXPECT_EQ(copy, original);
  copy.categories.push_back("Effects");
  copy.properties.set("depth", QVAny(QVAnyMap{}));
  EXPECT_NE(copy, original);
  EXPECT_EQ(original.getProperty("depth").at("type"), QVAny("float"));
}

}  // namespace
