#include "cli/text_table.h"

#include <algorithm>

void CTextTable::AddColumn(std::string header, EAlign align) {
  columns_.push_back({std::move(header), align});
}

void CTextTable::AddRow(std::vector<std::string> cells) {
  cells.resize(columns_.size());
  rows_.push_back(std::move(cells));
}

std::string CTextTable::Render() const {
  std::vector<std::size_t> widths;
  for (const Column& c : columns_) widths.push_back(c.header.size());
  for (const auto& row : rows_) {
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  std::string out;
  auto appendLine = [&](auto cellAt) {
    const std::size_t start = out.size();
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      const std::string& cell = cellAt(i);
      const std::size_t pad = widths[i] - std::min(widths[i], cell.size());
      if (i > 0) out += "  ";
      if (columns_[i].align == EAlign::kRight) out.append(pad, ' ');
      out += cell;
      if (columns_[i].align == EAlign::kLeft) out.append(pad, ' ');
    }
    const std::size_t end = out.find_last_not_of(' ');
    out.resize(end == std::string::npos || end < start ? start : end + 1);
    out += '\n';
  };
  appendLine([&](std::size_t i) -> const std::string& { return columns_[i].header; });
  std::vector<std::string> rules;
  for (std::size_t w : widths) rules.emplace_back(w, '-');
  appendLine([&](std::size_t i) -> const std::string& { return rules[i]; });
  for (const auto& row : rows_) {
    appendLine([&](std::size_t i) -> const std::string& { return row[i]; });
  }
  return out;
}

std::string PrintableCell(std::string text) {
  for (char& ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte < 0x20 || byte > 0x7E) ch = '.';
  }
  return text;
}
