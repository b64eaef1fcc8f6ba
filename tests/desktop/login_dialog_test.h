#pragma once

#include <QObject>

namespace apura::desktop::test {

class LoginDialogTest : public QObject {
  Q_OBJECT
 private slots:
  void wrongPasswordKeepsTheDialogOpenWithTheServersText();
  void rightPasswordClosesItWithTheOperator();
  void anExpiredSessionAsksAgainAndTheCallIsMadeInTheNewOne();
  void aCancelledLoginLeavesTheExpiredAnswer();
  void renewalFollowsTheCodeNotTheWords();
};

}  // namespace apura::desktop::test
