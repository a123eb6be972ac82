#pragma once
#include <functional>
#include <string>
#include <vector>

#include <QTimer>

#include "output/conversation_export.h"
#include "output/conversation_text.h"

#include "desktop/common/split_page.h"
#include "desktop/conversations/conversation_list_model.h"

class CByteTextEdit;
class CReportList;
class CTimeRangeSelection;
class CTrafficEngine;
struct CSaveFileOptions;
class QCheckBox;
class QPushButton;
class QTableView;

// The Conversations page: the conversation list, filled only on Refresh,
// beside a text pane that shows the packets of the selected rows (on Show,
// Enter, a double click, or at once with "Follow selection" on).
// User-interface thread only. Every walk of the model is the engine's: the
// page gets copies and renders them without any lock.
class CConversationsPage : public CSplitPage {
  Q_OBJECT

 public:
  // Past this many characters per Show, the rest is replaced by kTooMuchText.
  static constexpr std::size_t kShowLimit = 2000000;
  static const char* const kTooMuchText;

  // The user's choices of what the pane shows.
  struct COptions {
    bool headers = true;
    bool data = true;
    bool hex = false;
    bool follow = false;  // Show on every change of the selection
  };

  CConversationsPage(CTrafficEngine& engine, QWidget* parent = nullptr);

  // The joined text of the selected rows in list order, as Show puts it in
  // the pane (CR LF line ends). A row whose conversation is gone gives no
  // text.
  std::string SelectionText() const;

  // Writes the rows (all or the selected ones) as `options` say and shows
  // the writer's messages.
  void ExportWith(const CSaveFileOptions& options);

  COptions Options() const;
  // Sets the switches without emitting OptionsChanged or showing anything.
  void SetOptions(const COptions& options);

  // Called with the remote address of the row the user chose "Filter on
  // this host..." for.
  void SetFilterOnHost(std::function<void(const CIpAddr&)> hook);

  // Lists only the conversations with packets inside the selected range of
  // the graph, by their first and last time stamps, with the range's bar
  // above the list. Called once.
  void UseRange(CTimeRangeSelection& selection);

  CConversationListModel* ListModel() const { return model_; }
  CReportList* Rows() const { return rows_; }
  QTableView* List() const { return list_; }
  CByteTextEdit* TextPane() const { return pane_; }
  QCheckBox* HeadersBox() const { return headersBox_; }
  QCheckBox* DataBox() const { return dataBox_; }
  QCheckBox* HexBox() const { return hexBox_; }
  QCheckBox* FollowBox() const { return followBox_; }

 signals:
  // The user changed one of the options.
  void OptionsChanged();

 public slots:
  void Refresh();
  void Show();
  void Clear();
  void Export();

 private:
  void AddListActions();
  // Shows the rows of the last Refresh that the range lets through.
  void ShowRows();
  void CopyCurrent(bool withPort);
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
  QCheckBox* followBox_;
  CReportList* rows_;
  QTableView* list_;
  CConversationListModel* model_;
  CTimeRangeSelection* range_ = nullptr;
  int rowsSession_ = 0;
  std::vector<CConversationRow> allRows_;  // as the last Refresh found them
  CByteTextEdit* pane_;
  CTextOptions text_;
  QTimer followTimer_;
  std::function<void(const CIpAddr&)> filterOnHost_;
};
