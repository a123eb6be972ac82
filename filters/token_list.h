#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// A text cut at every occurrence of a delimiter. Every piece is kept, empty
// ones included: "1..3" cut at "." gives "1", "" and "3"; a text without the
// delimiter (or an empty delimiter) gives one piece, the whole text. Owns
// copies of the pieces; any thread.
class CTokenList {
 public:
  CTokenList(std::string_view text, std::string_view delimiter);

  std::size_t Count() const { return pieces_.size(); }

  // The piece at `index`; throws std::out_of_range("Index out of Bounds")
  // for an index outside 0 .. Count() - 1.
  const std::string& At(std::size_t index) const;

 private:
  std::vector<std::string> pieces_;
};
