// The names hosts store in saved sessions: every plugin's LADSPA unique ID
// and label, LV2 URI and slug. Once published they must never change, move
// to another plugin or be shared, whatever is added around them.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "PluginAdapter.hpp"
#include "quorvel/audio/Effect.hpp"

namespace {

using quorvel::plugins::PublishedNames;
using quorvel::plugins::publishedNames;
using quorvel::plugins::Variant;
using quorvel::plugins::variants;

// As released: effect/channels, LADSPA ID, LADSPA label, LV2 URI, slug. A new
// plugin is appended with a new ID; no line is ever edited.
const std::vector<std::string> kReleased = {
    "Delay/2 4711300 quorvel_delay https://quorvel.example/plugins/delay delay",
    "PingPongDelay/2 4711301 quorvel_ping_pong_delay "
    "https://quorvel.example/plugins/ping-pong-delay ping-pong-delay",
    "Vibrato/2 4711302 quorvel_vibrato https://quorvel.example/plugins/vibrato vibrato",
    "Flanger/2 4711303 quorvel_flanger https://quorvel.example/plugins/flanger flanger",
    "Chorus/2 4711304 quorvel_chorus https://quorvel.example/plugins/chorus chorus",
    "Delay/1 4711305 quorvel_delay_mono https://quorvel.example/plugins/delay-mono delay-mono",
    "Vibrato/1 4711306 quorvel_vibrato_mono https://quorvel.example/plugins/vibrato-mono "
    "vibrato-mono",
    "Flanger/1 4711307 quorvel_flanger_mono https://quorvel.example/plugins/flanger-mono "
    "flanger-mono",
    "Chorus/1 4711308 quorvel_chorus_mono https://quorvel.example/plugins/chorus-mono "
    "chorus-mono",
};

TEST(PublishedPluginNames, EveryReleasedVariantKeepsItsIdLabelAndUri) {
  std::vector<std::string> published;
  for (const Variant& v : variants()) {
    published.push_back(std::string(v.info->name) + "/" + std::to_string(v.channels) + " " +
                        std::to_string(v.ladspaId) + " " + v.label + " " + v.uri + " " + v.slug);
  }
  EXPECT_EQ(published, kReleased);
}

TEST(PublishedPluginNames, NoTwoVariantsShareAName) {
  std::set<unsigned long> ids;
  std::set<std::string> labels, uris, slugs;
  for (const Variant& v : variants()) {
    EXPECT_TRUE(ids.insert(v.ladspaId).second) << v.ladspaId;
    EXPECT_TRUE(labels.insert(v.label).second) << v.label;
    EXPECT_TRUE(uris.insert(v.uri).second) << v.uri;
    EXPECT_TRUE(slugs.insert(v.slug).second) << v.slug;
  }
}

// A variant is published only through a row of the table, so an effect type
// added to the registry without rows would quietly have no plugin.
TEST(PublishedPluginNames, EveryRegisteredEffectHasItsRows) {
  for (const quorvel::audio::EffectInfo* info : quorvel::audio::effectTypes()) {
    const bool hasMono = quorvel::audio::makeEffect(info->name, 1)->getNumChannels() == 1;
    for (unsigned int channels : {2u, 1u}) {
      std::size_t rows = 0;
      for (const PublishedNames& row : publishedNames()) {
        rows += row.effect == info->name && row.channels == channels;
      }
      const std::size_t expected = channels == 2 || hasMono ? 1 : 0;
      EXPECT_EQ(rows, expected) << info->name << " has " << rows << " rows for " << channels
                                << " channel(s) in the plugin table";
    }
  }
}

// A row for a new plugin must name a registered effect that has state for
// the row's channels (no mono row for a stereo-only effect).
TEST(PublishedPluginNames, EveryRowIsARegisteredEffectAtItsChannels) {
  ASSERT_EQ(variants().size(), publishedNames().size()) << "a row names an unregistered effect";
  for (const PublishedNames& row : publishedNames()) {
    EXPECT_EQ(quorvel::audio::makeEffect(row.effect, row.channels)->getNumChannels(), row.channels)
        << row.slug;
  }
}

}  // namespace
