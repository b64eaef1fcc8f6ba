#pragma once

#include <QObject>

namespace apura::desktop::test {

class LoginDialogTest : public QObject {
  Q_OBJECT
 private slots:
  void wrongPasswordKeepsTheDialogOpenWithTheServersText();
  void rightPasswordClosesItWithTheOperator();
};

}  // namespace apura::desktop::test
