#pragma once
#include <QWidget>

class CAppState;
class CGraphCtrl;
class CGraphTextCtrl;
class QLabel;

// The "Graph" sub-page of the Host Stats page: the colour legend above, the
// scale labels in a column as wide as a legend box at the left, the graph
// to their right. User-interface thread only.
class CGraphPanel : public QWidget {
  Q_OBJECT

 public:
  static const char* const kReceivedLegend;  // "Recieved", as the program has always said
  static const char* const kSentLegend;

  CGraphPanel(CAppState& state, QWidget* parent = nullptr);

  // Repaints the graph and its labels from the graph data as it is now.
  void Repaint();

  CGraphCtrl* Graph() const { return graph_; }
  CGraphTextCtrl* Labels() const { return labels_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  QLabel* receivedLegend_;
  QLabel* sentLegend_;
  CGraphCtrl* graph_;
  CGraphTextCtrl* labels_;
};
