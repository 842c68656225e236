#include "quorvel/QVAnyMap.hpp"

#include <stdexcept>

namespace quorvel {

QVAnyMap::QVAnyMap() = default;

QVAnyMap::QVAnyMap(std::initializer_list<Entry> entries) {
  entries_.reserve(entries.size());
  for (const Entry& entry : entries) set(entry.first, entry.second);
}

const QVAnyMap::Entry* QVAnyMap::find(const std::string& key) const {
  for (const Entry& entry : entries_) {
    if (entry.first == key) return &entry;
  }
  return nullptr;
}

bool QVAnyMap::hasKey(const std::string& key) const { return find(key) != nullptr; }

QVAny QVAnyMap::at(const std::string& key) const {
  const Entry* entry = find(key);
  if (!entry) throw std::out_of_range("QVAnyMap has no key '" + key + "'");
  return entry->second;
}

void QVAnyMap::set(const std::string& key, QVAny value) {
  for (Entry& entry : entries_) {
    if (entry.first == key) {
      entry.second = std::move(value);
      return;
    }
  }
  entries_.emplace_back(key, std::move(value));
}

std::vector<std::string> QVAnyMap::keys() const {
  std::vector<std::string> result;
  result.reserve(entries_.size());
  for (const Entry& entry : entries_) result.push_back(entry.first);
  return result;
}

bool QVAnyMap::operator==(const QVAnyMap& other) const {
  if (entries_.size() != other.entries_.size()) return false;
  for (const Entry& entry : entries_) {
    const Entry* match = other.find(entry.first);
    if (!match || match->second != entry.second) return false;
  }
  return true;
}

}  // namespace quorvel
