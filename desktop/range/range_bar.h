#pragma once
#include <QLabel>

class CTimeRangeSelection;

// The line above a traffic table while a range of the graph is selected:
// "Showing 14:02:05–14:02:40 · Clear range", the last words a link that
// clears it, followed by `note` when there is one. Hidden without a range.
class CRangeBar : public QLabel {
  Q_OBJECT

 public:
  CRangeBar(CTimeRangeSelection& selection, QString note, QWidget* parent = nullptr);

 private:
  void Update();

  CTimeRangeSelection& selection_;
  QString note_;
};
