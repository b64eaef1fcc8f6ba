#include "dialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

namespace apura::desktop::test {

std::shared_ptr<DialogAnswer> AnswerNextDialog(const QString& buttonName,
                                               std::function<void(QWidget*)> before) {
  auto answer = std::make_shared<DialogAnswer>();
  auto* timer = new QTimer(qApp);
  timer->setInterval(10);
  auto tries = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [=] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) {
      if (++*tries > 1000) timer->deleteLater();
      return;
    }
    timer->stop();
    timer->deleteLater();
    answer->seen = true;
    if (auto* box = qobject_cast<QMessageBox*>(modal))
      answer->text = box->text();
    else
      answer->text = modal->windowTitle();
    if (before) before(modal);
    for (QAbstractButton* b : modal->findChildren<QAbstractButton*>())
      if (b->objectName() == buttonName) {
        b->click();
        return;
      }
    // No such button: close it, so the test fails on its checks, not by hanging.
    modal->close();
  });
  timer->start();
  return answer;
}

}  // namespace apura::desktop::test
