#pragma once
#include <QAbstractTableModel>
#include <cstddef>
#include <vector>

// Makes `rows` of `model` equal to `wanted` in place, both in ascending key
// order: runs of rows whose keys are gone leave in one step, runs of new
// rows arrive in one step at their sorted place, and changed rows are
// announced with one dataChanged. Never resets the model, so the selection
// and the scroll position stay. `less` orders keys of two rows; a changed
// row compares unequal with `==`. User-interface thread.
//
// Model must make its protected row signals reachable: it calls this from
// inside one of its own members, passing itself.
template <typename Model, typename Row, typename Less>
void MergeSortedRows(Model& model, std::vector<Row>& rows, const std::vector<Row>& wanted,
                     Less less, int firstDataColumn = 0) {
  int firstChanged = -1;
  int lastChanged = -1;
  std::size_t i = 0;
  std::size_t row = 0;
  while (i < wanted.size() || row < rows.size()) {
    if (i == wanted.size() || (row < rows.size() && less(rows[row], wanted[i]))) {
      std::size_t end = row + 1;
      while (end < rows.size() && (i == wanted.size() || less(rows[end], wanted[i]))) ++end;
      model.RemoveRowsAt(static_cast<int>(row), static_cast<int>(end) - 1, [&] {
        rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(row),
                   rows.begin() + static_cast<std::ptrdiff_t>(end));
      });
      // Rows already marked changed all lie before `row`, so they keep their index.
      continue;
    }
    if (row == rows.size() || less(wanted[i], rows[row])) {
      std::size_t end = i + 1;
      while (end < wanted.size() && (row == rows.size() || less(wanted[end], rows[row]))) ++end;
      const int count = static_cast<int>(end - i);
      model.InsertRowsAt(static_cast<int>(row), static_cast<int>(row) + count - 1, [&] {
        rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(row),
                    wanted.begin() + static_cast<std::ptrdiff_t>(i),
                    wanted.begin() + static_cast<std::ptrdiff_t>(end));
      });
      row += static_cast<std::size_t>(count);
      i = end;
      continue;
    }
    if (!(rows[row] == wanted[i])) {
      rows[row] = wanted[i];
      if (firstChanged < 0) firstChanged = static_cast<int>(row);
      lastChanged = static_cast<int>(row);
    }
    ++row;
    ++i;
  }
  if (firstChanged >= 0) {
    emit model.dataChanged(model.index(firstChanged, firstDataColumn),
                           model.index(lastChanged, model.columnCount() - 1), {Qt::DisplayRole});
  }
}
