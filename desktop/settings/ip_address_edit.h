#pragma once
#include <array>
#include <cstdint>

#include <QFrame>

class QLineEdit;

// An IPv4 address entry of four octet fields separated by dots. Each field
// accepts 0 to 255; a blank field reads as 0. Typing a dot, or a third digit,
// moves on to the next field; Backspace in an empty field moves back.
// User-interface thread only.
class CIpAddressEdit : public QFrame {
  Q_OBJECT

 public:
  explicit CIpAddressEdit(QWidget* parent = nullptr);

  // First octet first.
  std::array<uint8_t, 4> Octets() const;
  void SetOctets(const std::array<uint8_t, 4>& octets);
  // Empties all four fields.
  void Clear();

  // The field of octet `index` (0..3), for focus handling and tests.
  QLineEdit* Field(int index) const { return fields_[static_cast<std::size_t>(index)]; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  int IndexOf(QObject* field) const;
  void FocusField(int index, bool atEnd);

  std::array<QLineEdit*, 4> fields_{};
};
