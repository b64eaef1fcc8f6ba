#pragma once
// Answers the next modal dialog the code under test opens, by clicking the
// button of that name, and keeps its text.

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

namespace apura::desktop::test {

struct DialogAnswer {
  bool seen = false;
  QString text;  // the message box's text, or the dialog's title
};

// Starts watching now; the answer fills in when the dialog comes up.
std::shared_ptr<DialogAnswer> AnswerNextDialog(const QString& buttonName,
                                               std::function<void(QWidget*)> before = {});

}  // namespace apura::desktop::test
