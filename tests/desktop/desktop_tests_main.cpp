// Runs one QTest suite named on the command line (all when none is named).

#include <QApplication>
#include <QTest>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "host_pieces_test.h"
#include "login_dialog_test.h"
#ifdef APURA_WITH_WORKSHEET
#include "delivery_editing_view_test.h"
#include "host_extras_test.h"
#include "quotation_screens_test.h"
#include "report_view_test.h"
#include "tally_view_test.h"
#include "worksheet_view_test.h"
#endif
#ifdef APURA_WITH_ANALYSIS
#include "effectuation_view_test.h"
#endif

namespace {

// Qt's own worker threads (the raster engine's pool, QTest's watchdog) are
// detached: QThread::wait() returns once their run is over, and each thread
// drops its last reference to its thread data later, on its way out. A process
// that ends in between loses that data, and LeakSanitizer reports it from
// inside Qt on a loaded machine. So the process ends only once those threads
// are gone.
bool QtWorkerThreadsRemain() {
  std::error_code ec;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    std::getline(comm, name);
    if (name == "Thread (pooled)" || name == "QtTest Watchdog") return true;
  }
  return false;
}

void WaitForQtWorkerThreads() {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (QtWorkerThreadsRemain() && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

}  // namespace

int main(int argc, char** argv) {
  int failed = 0;
  {
    QApplication app(argc, argv);
    const char* only = argc > 1 && argv[1][0] != '-' ? argv[1] : nullptr;
    // QTest reads its own options from what follows the suite name.
    int qargc = only ? argc - 1 : argc;
    char** qargv = only ? argv + 1 : argv;
    auto run = [&](const char* name, QObject&& suite) {
      if (only && std::strcmp(only, name) != 0) return;
      failed += QTest::qExec(&suite, qargc, qargv);
    };
    run("HostPiecesTest", apura::desktop::test::HostPiecesTest());
    run("LoginDialogTest", apura::desktop::test::LoginDialogTest());
#ifdef APURA_WITH_WORKSHEET
    run("WorksheetViewTest", apura::desktop::test::WorksheetViewTest());
    run("DeliveryEditingViewTest", apura::desktop::test::DeliveryEditingViewTest());
    run("TallyViewTest", apura::desktop::test::TallyViewTest());
    run("ReportViewTest", apura::desktop::test::ReportViewTest());
    run("QuotationScreensTest", apura::desktop::test::QuotationScreensTest());
    run("HostExtrasTest", apura::desktop::test::HostExtrasTest());
#endif
#ifdef APURA_WITH_ANALYSIS
    run("EffectuationViewTest", apura::desktop::test::EffectuationViewTest());
#endif
    // What the suites left queued (deferred deletes, single-shot timers) goes
    // before the application does.
    for (int i = 0; i < 3; ++i) {
      QCoreApplication::processEvents();
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
  }
  // The application has stopped its thread pool by now; its threads finish.
  WaitForQtWorkerThreads();
  return failed;
}
