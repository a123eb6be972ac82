#pragma once
#include <QString>

// `widget` with the object name `name`, by which tests find it.
template <typename T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}
