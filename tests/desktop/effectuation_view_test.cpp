#include "effectuation_view_test.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMdiArea>
#include <QMessageBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include "desktop/app/demo.h"
#include "desktop/app/local_database.h"
#include "desktop/app/main_window.h"
#include "desktop/app/module_loader.h"
#include "desktop/binding/form_view.h"
#include "desktop/binding/grid_view.h"
#include "desktop/services/qt_host.h"
#include "desktop_session.h"
#include "framework/format.h"
#include "framework/netconnection.h"
#include "rpc/grpc_transport.h"

namespace apura::desktop::test {

namespace {

// Presses OK on every message box that comes up until destroyed, keeping
// their texts in order.
class OkToEverything {
 public:
  OkToEverything() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      // The host's boxes live on its stack, so a new one may take the old
      // one's address: a mark on the object tells them apart.
      if (!box || box->property("answered").toBool()) return;
      box->setProperty("answered", true);
      texts << box->text();
      for (QAbstractButton* b : box->findChildren<QAbstractButton*>())
        if (b->objectName() == "OK") {
          b->click();
          return;
        }
      box->close();
    });
    timer_.start();
  }
  QStringList texts;

 private:
  QTimer timer_;
};

}  // namespace

EffectuationViewTest::EffectuationViewTest() = default;
EffectuationViewTest::~EffectuationViewTest() = default;

void EffectuationViewTest::initTestCase() {
  // The best quotations chosen on the server, as after the buyer's tally.
  SessionOptions options;
  options.tallied = true;
  options.openWorksheet = false;
  const QString error = session_.Start(options);
  QVERIFY2(error.isEmpty(), qPrintable(error));
  Window();
}

void EffectuationViewTest::cleanupTestCase() {
  session_.Stop();
}

void EffectuationViewTest::efetivarClosesTheWorksheetAndOpensTheAnalysisOnTheNewAfs() {
  Window().OpenWorksheet(session_.Launch());
  TForm* ws = session_.FormNamed("frmPlanApurNegGrid");
  QVERIFY(ws);
  FormView* view = Host().ViewOf(*ws);
  QVERIFY(view);
  auto* tabs = qobject_cast<QTabWidget*>(view->WidgetNamed("pgcPadrao"));
  QVERIFY(tabs);
  for (int i = 0; i < tabs->count(); ++i)
    if (tabs->tabText(i) == QString::fromUtf8("Cotação")) tabs->setCurrentIndex(i);
  GridView* quotes = view->GridNamed("dbgFornecedor");
  QVERIFY(quotes);
  ClickCell(quotes, 0, 1);
  QCoreApplication::processEvents();
  QAction* efetivar = view->ActionNamed("sbtGerarAF");
  QVERIFY(efetivar);
  QTRY_VERIFY(efetivar->isEnabled());

  {
    OkToEverything ok;
    efetivar->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(session_.FormNamed("frmAnaliseAF") != nullptr, 10000);
    QVERIFY2(ok.texts.contains("AF(s) efetivadas com sucesso."), qPrintable(ok.texts.join(" | ")));
  }
  // The close the effectuation posted has run, without a question.
  QTRY_VERIFY(session_.FormNamed("frmPlanApurNegGrid") == nullptr);

  TForm* analysis = session_.FormNamed("frmAnaliseAF");
  FormView* av = Host().ViewOf(*analysis);
  QVERIFY(av);
  QCOMPARE(av->windowTitle(), QString::fromUtf8("Análise de Autorização de Fornecimento"));
  // Opened where the buyer sees all of it, not past the area's edge.
  QWidget* frame = Host().WindowOf(*analysis);
  QVERIFY(frame);
  QTRY_VERIFY(frame->isVisible());
  QVERIFY2(Window().Mdi()->viewport()->rect().contains(frame->geometry()),
           qPrintable(QString("window at %1,%2 %3x%4 in an area of %5x%6")
                          .arg(frame->x())
                          .arg(frame->y())
                          .arg(frame->width())
                          .arg(frame->height())
                          .arg(Window().Mdi()->viewport()->width())
                          .arg(Window().Mdi()->viewport()->height())));
  GridView* afs = av->GridNamed("dbgPadrao");
  GridView* items = av->GridNamed("dbgItens");
  QVERIFY(afs && items);
  QVERIFY(afs->Model().rowCount() > 0);
  QVERIFY(items->Model().rowCount() > 0);
  // Another AF shows its own items.
  if (afs->Model().rowCount() > 1) {
    ClickCell(afs, 1, 0);
    QCoreApplication::processEvents();
    QVERIFY(items->Model().rowCount() > 0);
  }
  QVERIFY(av->GridNamed("dbgIncons"));
  // The screen has nothing to print: its button says so instead of doing nothing.
  QAction* print = av->ActionNamed("sbtImprimir");
  QVERIFY(print);
  QVERIFY(!print->isEnabled());
}

void EffectuationViewTest::aSecondEffectuationOfTheSameTallyIsRefused() {
  Window().OpenWorksheet(session_.Launch());
  TForm* ws = session_.FormNamed("frmPlanApurNegGrid");
  QVERIFY(ws);
  FormView* view = Host().ViewOf(*ws);
  auto* tabs = qobject_cast<QTabWidget*>(view->WidgetNamed("pgcPadrao"));
  for (int i = 0; i < tabs->count(); ++i)
    if (tabs->tabText(i) == QString::fromUtf8("Cotação")) tabs->setCurrentIndex(i);
  GridView* quotes = view->GridNamed("dbgFornecedor");
  ClickCell(quotes, 0, 1);
  QCoreApplication::processEvents();
  QAction* efetivar = view->ActionNamed("sbtGerarAF");
  QTRY_VERIFY(efetivar->isEnabled());
  OkToEverything ok;
  efetivar->trigger();
  QTRY_VERIFY(!ok.texts.isEmpty());
  QVERIFY2(ok.texts.last().startsWith(QString::fromUtf8("Operação bloqueada.")),
           qPrintable(ok.texts.join(" | ")));
  QVERIFY(session_.FormNamed("frmPlanApurNegGrid"));
  QVERIFY(!efetivar->isEnabled());
}

}  // namespace apura::desktop::test
