#pragma once

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "quorvel/QVAny.hpp"
#include "quorvel/SDKExport.hpp"

namespace quorvel {

// A string-keyed map of QVAny values that keeps its keys in insertion order.
class QUORVEL_SDK_API QVAnyMap {
 public:
  using Entry = std::pair<std::string, QVAny>;
  using const_iterator = std::vector<Entry>::const_iterator;

  // An empty map.
  QVAnyMap();
  // A map of the given pairs, in their order; a repeated key keeps its first
  // position and takes the later value.
  QVAnyMap(std::initializer_list<Entry> entries);

  // True when `key` is present.
  bool hasKey(const std::string& key) const;
  // A copy of the value under `key`; throws std::out_of_range when absent.
  QVAny at(const std::string& key) const;
  // Stores `value` under `key`, replacing an existing value in place.
  void set(const std::string& key, QVAny value);
  // Number of keys.
  std::size_t size() const noexcept { return entries_.size(); }
  bool empty() const noexcept { return entries_.empty(); }
  // The keys in insertion order.
  std::vector<std::string> keys() const;

  const_iterator begin() const noexcept { return entries_.begin(); }
  const_iterator end() const noexcept { return entries_.end(); }

  // Same keys with equal values, in any order.
  bool operator==(const QVAnyMap& other) const;
  bool operator!=(const QVAnyMap& other) const { return !(*this == other); }

 private:
  const Entry* find(const std::string& key) const;

  std::vector<Entry> entries_;
};

}  // namespace quorvel
