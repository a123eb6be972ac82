#pragma once
#include <array>
#include <cstdint>

#include <QFrame>

class QLineEdit;

// An IPv4 address entry of four octet fields separated by dots. Each field
// holds up to three digits, and nothing else; whether a value above 255 is
// refused is the owner's to say (it must never be cut short silently). A
// blank field reads as 0. Typing a dot, or a third digit, moves on to the
// next field; Backspace in an empty field moves back.
// User-interface thread only.
class CIpAddressEdit : public QFrame {
  Q_OBJECT

 public:
  explicit CIpAddressEdit(QWidget* parent = nullptr);

  // The fields' values, first octet first: 0 to 999, blank as 0.
  std::array<int, 4> Values() const;
  // First octet first; only meaningful when every value is at most 255.
  std::array<uint8_t, 4> Octets() const;
  void SetOctets(const std::array<uint8_t, 4>& octets);
  // Empties all four fields.
  void Clear();

  // The field of octet `index` (0..3), for focus handling and tests.
  QLineEdit* Field(int index) const { return fields_[static_cast<std::size_t>(index)]; }

 signals:
  // The user changed a field.
  void Edited();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  int IndexOf(QObject* field) const;
  void FocusField(int index, bool atEnd);

  std::array<QLineEdit*, 4> fields_{};
};
