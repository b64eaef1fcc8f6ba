// Runs one QTest suite named on the command line (all when none is named).

#include <QApplication>
#include <QTest>
#include <cstring>

#include "host_pieces_test.h"
#include "login_dialog_test.h"
#ifdef APURA_WITH_WORKSHEET
#include "worksheet_view_test.h"
#endif

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const char* only = argc > 1 && argv[1][0] != '-' ? argv[1] : nullptr;
  // QTest reads its own options from what follows the suite name.
  int qargc = only ? argc - 1 : argc;
  char** qargv = only ? argv + 1 : argv;
  int failed = 0;
  auto run = [&](const char* name, QObject&& suite) {
    if (only && std::strcmp(only, name) != 0) return;
    failed += QTest::qExec(&suite, qargc, qargv);
  };
  run("HostPiecesTest", apura::desktop::test::HostPiecesTest());
  run("LoginDialogTest", apura::desktop::test::LoginDialogTest());
#ifdef APURA_WITH_WORKSHEET
  run("WorksheetViewTest", apura::desktop::test::WorksheetViewTest());
#endif
  // What the suites left queued (deferred deletes, single-shot timers) goes
  // before the application does.
  for (int i = 0; i < 3; ++i) {
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  return failed;
}
