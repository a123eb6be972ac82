#pragma once
#include <QDialog>
#include <QString>

#include "output/conversation_export.h"

class QLineEdit;
class QRadioButton;

// The options of one export, as the user confirmed them.
struct CSaveFileOptions {
  QString fileName;
  int csv = 1;
  int selectedOnly = 0;
  int text = 0;
  int hex = 0;
  int allData = 1;  // kept for completeness; the export reads selectedOnly

  // CSV, packet text or hex: the later flag wins.
  EExportForm Format() const;
};

// "Save File Options": which rows, which form, which file.
// User-interface thread only.
class CSaveFileOptionsDlg : public QDialog {
  Q_OBJECT

 public:
  static const char* const kNoFileName;

  explicit CSaveFileOptionsDlg(QWidget* parent = nullptr);

  // Valid once Confirmed().
  const CSaveFileOptions& Options() const { return options_; }
  bool Confirmed() const { return confirmed_; }

  QLineEdit* FileNameBox() const { return fileName_; }
  QRadioButton* SelectedOnlyButton() const { return selectedOnly_; }
  QRadioButton* TextButton() const { return text_; }
  QRadioButton* HexButton() const { return hex_; }

 public slots:
  // An empty name keeps the dialog open with a message; otherwise the
  // options are taken and the dialog closes with OK.
  void accept() override;
  void Browse();

 private:
  CSaveFileOptions options_;
  bool confirmed_ = false;
  QRadioButton* allData_;
  QRadioButton* selectedOnly_;
  QRadioButton* csv_;
  QRadioButton* text_;
  QRadioButton* hex_;
  QLineEdit* fileName_;
};
