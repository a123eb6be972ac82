#include "filters/token_list.h"

#include <stdexcept>

CTokenList::CTokenList(std::string_view text, std::string_view delimiter) {
  if (delimiter.empty()) {
    pieces_.emplace_back(text);
    return;
  }
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = text.find(delimiter, start);
    if (at == std::string_view::npos) break;
    pieces_.emplace_back(text.substr(start, at - start));
    start = at + delimiter.size();
  }
  pieces_.emplace_back(text.substr(start));
}

const std::string& CTokenList::At(std::size_t index) const {
  if (index >= pieces_.size()) throw std::out_of_range("Index out of Bounds");
  return pieces_[index];
}
