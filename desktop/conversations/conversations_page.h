#pragma once
#include <string>
#include <vector>

#include "output/conversation_export.h"
#include "output/conversation_text.h"

#include "desktop/common/split_page.h"

class CConversationListModel;
class CTrafficEngine;
struct CSaveFileOptions;
class QCheckBox;
class QPlainTextEdit;
class QPushButton;
class QTableView;

// The Conversations page: the conversation list, filled only on Refresh,
// beside a text pane that shows the packets of the selected rows.
// User-interface thread only. Every walk of the model is the engine's: the
// page gets copies and renders them without any lock.
class CConversationsPage : public CSplitPage {
  Q_OBJECT

 public:
  // Past this many characters per Show, the rest is replaced by kTooMuchText.
  static constexpr std::size_t kShowLimit = 2000000;
  static const char* const kTooMuchText;

  CConversationsPage(CTrafficEngine& engine, QWidget* parent = nullptr);

  // The joined text of the selected rows in list order, as Show puts it in
  // the pane (CR LF line ends). A row whose conversation is gone gives no
  // text.
  std::string SelectionText() const;

  // Writes the rows (all or the selected ones) as `options` say and shows
  // the writer's messages.
  void ExportWith(const CSaveFileOptions& options);

  CConversationListModel* ListModel() const { return model_; }
  QTableView* List() const { return list_; }
  QPlainTextEdit* TextPane() const { return pane_; }
  QCheckBox* HeadersBox() const { return headersBox_; }
  QCheckBox* DataBox() const { return dataBox_; }
  QCheckBox* HexBox() const { return hexBox_; }

 public slots:
  void Refresh();
  void Show();
  void Clear();
  void Export();

 private:
  void OnHeadersClicked(bool checked);
  void OnDataClicked(bool checked);
  void OnHexClicked(bool checked);
  QList<int> SelectedRows() const;
  // Copies of these rows' conversations, when the session shown is still
  // the one the list was filled from.
  std::vector<CConversationCopy> CopyRows(const QList<int>& rows) const;

  CTrafficEngine& engine_;
  QPushButton* refresh_;
  QPushButton* show_;
  QPushButton* clear_;
  QPushButton* export_;
  QCheckBox* headersBox_;
  QCheckBox* dataBox_;
  QCheckBox* hexBox_;
  QTableView* list_;
  CConversationListModel* model_;
  QPlainTextEdit* pane_;
  CTextOptions text_;
};
