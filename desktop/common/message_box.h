#pragma once
#include <functional>

#include <QString>

class QWidget;

// Every message the program shows the user goes through here: a modal box
// with one OK button and the exact text. User-interface thread only.
void ShowMessage(QWidget* parent, const QString& text);

// Replaces the box, e.g. so that a test can collect the texts instead of
// blocking on a modal loop. An empty function restores the box.
void SetMessageSink(std::function<void(const QString&)> sink);

// Asks a question with Yes and Cancel buttons; true for Yes. Goes through
// the answerer when one is set (tests).
bool AskYesCancel(QWidget* parent, const QString& text);
void SetQuestionAnswerer(std::function<bool(const QString&)> answerer);
