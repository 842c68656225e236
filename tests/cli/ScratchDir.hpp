#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

// A fresh folder under /tmp for one test, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir() {
    char pattern[] = "/tmp/quorvel-fx-test-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // The path of `name` inside the folder.
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  // Number of entries in the folder (to catch leftover temporary files).
  std::size_t entries() const {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
      static_cast<void>(entry);
      ++count;
    }
    return count;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};
