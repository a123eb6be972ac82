#pragma once
#include <QWidget>

#include "model/graph_series.h"

class CGraphCtrl;
class CGraphTextCtrl;
class QLabel;

// The "Graph" sub-page of the Host Stats page: the colour legend above, the
// scale labels in a column as wide as a legend box at the left, the graph
// to their right. Legend and graph follow the palette. User-interface
// thread only.
//
// The two legend boxes stand side by side at their usual place when the
// panel is wide enough; in a narrower panel they move left, then shrink to
// what their texts need, and at last stack one above the other, so that
// both always stay whole inside the panel.
class CGraphPanel : public QWidget {
  Q_OBJECT

 public:
  static const char* const kReceivedLegend;
  static const char* const kSentLegend;

  explicit CGraphPanel(QWidget* parent = nullptr);

  // Shows `series` in the graph and its labels.
  void SetSeries(CGraphSeries series);
  const CGraphSeries& Series() const { return series_; }

  CGraphCtrl* Graph() const { return graph_; }
  CGraphTextCtrl* Labels() const { return labels_; }
  QLabel* ReceivedLegend() const { return receivedLegend_; }
  QLabel* SentLegend() const { return sentLegend_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void ColourLegend();
  // Places both legend boxes within a panel `width` pixels wide.
  void LayOutLegend(int width);

  QLabel* receivedLegend_;
  QLabel* sentLegend_;
  CGraphCtrl* graph_;
  CGraphTextCtrl* labels_;
  CGraphSeries series_;
  QSize legendSize_;  // a box at its usual size, grown to its text in large fonts
  int legendNeed_;    // the least width that shows the longer legend text whole
};
