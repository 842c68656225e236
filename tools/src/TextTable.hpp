#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace quorvelfx {

// Left-aligned plain-text columns separated by two spaces; the last column is not padded.
class TextTable {
 public:
  // A table whose first row is `header`.
  explicit TextTable(std::vector<std::string> header);
  // Appends a row; missing cells are blank.
  void add(std::vector<std::string> row);
  // Writes the table, `indent` spaces before each line.
  void print(std::ostream& out, int indent = 0) const;

 private:
  std::vector<std::vector<std::string>> rows_;
};

}  // namespace quorvelfx
