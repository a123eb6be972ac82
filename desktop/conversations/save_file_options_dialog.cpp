#include "desktop/conversations/save_file_options_dialog.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "output/conversation_export.h"
#include "output/output_file.h"
#include "desktop/common/message_box.h"

const char* const CSaveFileOptionsDlg::kNoFileName = "Please enter a valid file name";

EExportForm CSaveFileOptions::Format() const {
  EExportForm format = EExportForm::kCsv;
  if (csv) format = EExportForm::kCsv;
  if (text) format = EExportForm::kText;
  if (hex) format = EExportForm::kHex;
  return format;
}

CSaveFileOptionsDlg::CSaveFileOptionsDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("Save File Options"));

  auto* selection = new QGroupBox(tr("Selection Options"), this);
  allData_ = new QRadioButton(tr("All &Data"), selection);
  selectedOnly_ = new QRadioButton(tr("Selected &Only"), selection);
  auto* selectionColumn = new QVBoxLayout(selection);
  selectionColumn->addWidget(allData_);
  selectionColumn->addWidget(selectedOnly_);

  auto* output = new QGroupBox(tr("Output Format"), this);
  csv_ = new QRadioButton(tr("&Header and Stats (in CSV format)"), output);
  text_ = new QRadioButton(tr("&Packet Data (Text)"), output);
  // "He&x": H chooses "&Header and Stats".
  hex_ = new QRadioButton(tr("Packet Data (He&x)"), output);
  fileName_ = new QLineEdit(output);
  auto* browse = new QPushButton(QStringLiteral("V"), output);
  browse->setFixedWidth(browse->fontMetrics().horizontalAdvance(QStringLiteral("VV")) + 12);
  browse->setAutoDefault(false);
  auto* nameRow = new QHBoxLayout;
  nameRow->addWidget(fileName_, 1);
  nameRow->addWidget(browse);
  auto* outputColumn = new QVBoxLayout(output);
  outputColumn->addWidget(csv_);
  outputColumn->addWidget(text_);
  outputColumn->addWidget(hex_);
  outputColumn->addLayout(nameRow);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  auto* column = new QVBoxLayout(this);
  column->addWidget(selection);
  column->addWidget(output);
  column->addWidget(buttons);

  allData_->setChecked(true);
  csv_->setChecked(true);
  connect(browse, &QPushButton::clicked, this, &CSaveFileOptionsDlg::Browse);
  connect(buttons, &QDialogButtonBox::accepted, this, &CSaveFileOptionsDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CSaveFileOptionsDlg::reject);
}

void CSaveFileOptionsDlg::accept() {
  const QString name = fileName_->text();
  if (name.isEmpty()) {
    ShowMessage(this, QString::fromLatin1(kNoFileName));
    return;
  }
  // The usual question before a file is replaced, asked here for a typed
  // name and a chosen one alike. A name that cannot be replaced at all is
  // said at once, while another can still be typed.
  if (QFileInfo(name).exists() || QFileInfo(name).isSymLink()) {
    std::string reason;
    const std::string encoded = QFile::encodeName(name).toStdString();
    if (!COutputFile::CanReplace(encoded, reason)) {
      ShowMessage(this, QStringLiteral("Error opening file: %1: %2")
                            .arg(name, QString::fromLocal8Bit(reason.c_str())));
      return;
    }
    const QString question = QStringLiteral("%1 already exists.\nDo you want to replace it?");
    if (!AskYesCancel(this, question.arg(name))) return;
  }
  options_.fileName = name;
  options_.allData = allData_->isChecked() ? 1 : 0;
  options_.selectedOnly = selectedOnly_->isChecked() ? 1 : 0;
  options_.csv = csv_->isChecked() ? 1 : 0;
  options_.text = text_->isChecked() ? 1 : 0;
  options_.hex = hex_->isChecked() ? 1 : 0;
  confirmed_ = true;
  QDialog::accept();
}

void CSaveFileOptionsDlg::Browse() {
  // Any name may be chosen, existing or new; OK asks before an existing
  // file is replaced, so the chooser does not ask as well.
  QFileDialog chooser(this, tr("Save File Options"));
  chooser.setAcceptMode(QFileDialog::AcceptSave);
  chooser.setFileMode(QFileDialog::AnyFile);
  chooser.setOption(QFileDialog::DontConfirmOverwrite);
  chooser.setNameFilter(tr("Output File (*.txt)"));
  chooser.setDefaultSuffix(QStringLiteral("txt"));
  if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return;
  fileName_->setText(QFileInfo(chooser.selectedFiles().first()).absoluteFilePath());
}
