#include "desktop/settings/ip_address_edit.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <algorithm>

CIpAddressEdit::CIpAddressEdit(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  // Framed like a single edit, so the four fields read as one address.
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::Base);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(2, 1, 2, 1);
  layout->setSpacing(0);
  // Three digits, whatever their value: a validator that refused "300"
  // would leave "30" in the field without a word.
  static const QRegularExpression kOctet(QStringLiteral("^[0-9]{0,3}$"));
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    auto* field = new QLineEdit(this);
    field->setFrame(false);
    field->setAlignment(Qt::AlignCenter);
    field->setMaxLength(3);
    field->setValidator(new QRegularExpressionValidator(kOctet, field));
    const int digitWidth = field->fontMetrics().horizontalAdvance(QStringLiteral("000"));
    field->setFixedWidth(digitWidth + 8);
    field->installEventFilter(this);
    fields_[i] = field;
    layout->addWidget(field);
    if (i + 1 < fields_.size()) {
      auto* dot = new QLabel(QStringLiteral("."), this);
      dot->setBackgroundRole(QPalette::Base);
      layout->addWidget(dot);
    }
    connect(field, &QLineEdit::textEdited, this, [this, i](const QString& text) {
      if (text.size() == 3 && i + 1 < fields_.size()) FocusField(static_cast<int>(i) + 1, false);
      emit Edited();
    });
  }
  setFocusProxy(fields_[0]);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

std::array<int, 4> CIpAddressEdit::Values() const {
  std::array<int, 4> out{};
  // The validator keeps each text to three digits; blank gives 0.
  for (std::size_t i = 0; i < fields_.size(); ++i) out[i] = fields_[i]->text().toInt();
  return out;
}

std::array<uint8_t, 4> CIpAddressEdit::Octets() const {
  std::array<uint8_t, 4> out{};
  const std::array<int, 4> values = Values();
  for (std::size_t i = 0; i < values.size(); ++i) out[i] = static_cast<uint8_t>(std::min(values[i], 255));
  return out;
}

void CIpAddressEdit::SetOctets(const std::array<uint8_t, 4>& octets) {
  for (std::size_t i = 0; i < fields_.size(); ++i) fields_[i]->setText(QString::number(octets[i]));
}

void CIpAddressEdit::Clear() {
  for (QLineEdit* field : fields_) field->clear();
}

int CIpAddressEdit::IndexOf(QObject* field) const {
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    if (fields_[i] == field) return static_cast<int>(i);
  }
  return -1;
}

void CIpAddressEdit::FocusField(int index, bool atEnd) {
  QLineEdit* field = Field(index);
  field->setFocus();
  if (atEnd) {
    field->end(false);
  } else {
    field->selectAll();
  }
}

bool CIpAddressEdit::eventFilter(QObject* watched, QEvent* event) {
  const int index = IndexOf(watched);
  if (index >= 0 && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    QLineEdit* field = Field(index);
    if (key->key() == Qt::Key_Period && index < 3) {
      if (!field->text().isEmpty()) FocusField(index + 1, false);
      return true;
    }
    if (key->key() == Qt::Key_Backspace && index > 0 && field->cursorPosition() == 0 &&
        !field->hasSelectedText()) {
      FocusField(index - 1, true);
      return true;
    }
    if (key->key() == Qt::Key_Right && index < 3 && field->cursorPosition() == field->text().size()) {
      FocusField(index + 1, false);
      return true;
    }
    if (key->key() == Qt::Key_Left && index > 0 && field->cursorPosition() == 0) {
      FocusField(index - 1, true);
      return true;
    }
  }
  return QFrame::eventFilter(watched, event);
}
