#pragma once
#include <cstddef>
#include <string>
#include <vector>

// A plain-text table for a terminal: a header row, a rule of dashes and the
// rows, each column padded to its widest cell and separated by two blanks.
// Widths count bytes, so cells should hold printable ASCII only (see
// PrintableCell). Lines end in LF; no line ends in blanks. Pure; any thread.
class CTextTable {
 public:
  enum class EAlign { kLeft, kRight };

  void AddColumn(std::string header, EAlign align);
  // Cells beyond the number of columns are ignored; missing cells are empty.
  void AddRow(std::vector<std::string> cells);

  std::size_t RowCount() const { return rows_.size(); }
  std::string Render() const;

 private:
  struct Column {
    std::string header;
    EAlign align;
  };
  std::vector<Column> columns_;
  std::vector<std::vector<std::string>> rows_;
};

// `text` with every byte outside printable ASCII (0x20 to 0x7E) shown as
// ".": packet bytes must not reach a terminal as control sequences.
std::string PrintableCell(std::string text);
