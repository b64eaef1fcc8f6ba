// apura: the desktop host. Opens the worksheet screen against an
// application server, or with --demo against one it starts itself.

#include <QApplication>
#include <QDateTime>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string_view>

#include "contract/objects.h"
#include "desktop/app/demo.h"
#include "desktop/app/language.h"
#include "desktop/app/local_database.h"
#include "desktop/app/login_dialog.h"
#include "desktop/app/main_window.h"
#include "desktop/app/module_loader.h"
#include "desktop/app/session_renewal.h"
#include "desktop/app/settings.h"
#include "desktop/services/batch_report.h"
#include "desktop/services/qt_host.h"
#include "framework/forms.h"
#include "framework/netconnection.h"
#include "rpc/grpc_transport.h"

using namespace apura;
using namespace apura::desktop;

int main(int argc, char** argv) {
  TuneAllocatorForTables();
  // A report written to a file needs no screen.
  for (int i = 1; i < argc; ++i)
    if (std::string_view(argv[i]) == "--pdf" && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
      qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationName("apura");
  QApplication::setOrganizationName("Apura");
  InstallPortuguese(app);

  // The command line names the settings file, and overrides what it says.
  HostSettings settings = LocaleDefaults();
  QString error, help, file;
  {
    HostSettings probe = settings;
    if (!ParseCommandLine(app.arguments(), probe, error, &help, &file)) {
      std::fprintf(stderr, "apura: %s\n", error.toLocal8Bit().constData());
      return 2;
    }
    if (!help.isEmpty()) {
      std::fprintf(stdout, "%s", help.toLocal8Bit().constData());
      return 0;
    }
  }
  std::unique_ptr<QSettings> stored =
      file.isEmpty() ? std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                                   "Apura", "apura")
                     : std::make_unique<QSettings>(file, QSettings::IniFormat);
  ReadSettingsFile(*stored, settings);
  ParseCommandLine(app.arguments(), settings, error);
  ApplyFormats(settings);

  const std::string dataDir =
      QStandardPaths::writableLocation(QStandardPaths::AppDataLocation).toStdString();
  std::unique_ptr<DemoEnvironment> demo;
  try {
    if (settings.demo) {
      demo = DemoEnvironment::FromSettings(settings, dataDir);
      demo->Configure(settings);
      rpc::SetClientSessionToken(demo->SessionToken());
      if (!settings.reportCode.empty()) demo->EnsureTallied();
      // The demo shows the supplies module, where every column of the
      // worksheet is on, unless the command line chose another.
      if (!app.arguments().contains("--module")) settings.activeModule = 34;
      if (settings.reportCode.empty()) {
        std::fprintf(stdout, "apura: demo server on %s\n", demo->Address().c_str());
        std::fflush(stdout);
      }
    }
    if (settings.localDatabase.empty()) {
      std::filesystem::create_directories(dataDir);
      settings.localDatabase = (std::filesystem::path(dataDir) / "apura-local.sqlite").string();
    }
    auto local = std::make_shared<SqliteDatabase>(settings.localDatabase);
    EnsureLocalSchema(*local);
    SetDefaultDatabase(local);
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, "Apura", QString::fromUtf8(e.what()));
    return 1;
  }
  rpc::GrpcClientOptions clientOptions;
  clientOptions.tlsCaFile = settings.tlsCaFile;
  // The login opens a session with a transport of its own; every later call
  // carries the session's token.
  LoginDialog::Attempt attempt = [&](const std::string& code,
                                     const std::string& password) -> std::string {
    auto transport = rpc::MakeGrpcTransport(clientOptions);
    transport->Connect(settings.serverHost, settings.serverPort);
    Value env = transport->Invoke(contract::kSessionObject, contract::kLoginMethod,
                                  {ByVal(Value(code)), ByVal(Value(password))});
    const ValueArray& parts = env.AsArray();
    if (!parts[0].AsBoolean()) return parts[1].ToText();
    rpc::SetClientSessionToken(parts[1].AsArray()[0].ToText());
    return {};
  };
  // On screen, a session that runs out is opened again by the operator; the
  // demo's is the program's own, and a batch report has nobody to ask.
  const bool renews = !demo && settings.reportCode.empty();
  SetDefaultTransportFactory([clientOptions, renews, attempt,
                              &settings](const TNetConnection&) -> std::shared_ptr<ITransport> {
    std::shared_ptr<ITransport> grpc = rpc::MakeGrpcTransport(clientOptions);
    if (!renews) return grpc;
    return std::make_shared<RenewingTransport>(
        grpc, [attempt, &settings] { return LoginAgain(settings.operatorCode, attempt); });
  });
  if (!demo) {
    // Nothing reaches the server before the operator logged in; the logged-in
    // operator is the framework's Operador.
    LoginDialog login(settings.operatorCode, attempt);
    if (login.exec() != QDialog::Accepted) return 0;
    settings.operatorCode = login.OperatorCode();
  }

  if (!settings.reportCode.empty()) {
    std::string why;
    const int code = RunBatchReport(settings, why);
    if (code != 0) std::fprintf(stderr, "apura: %s\n", why.c_str());
    SetDefaultDatabase(nullptr);
    return code;
  }

  int rc;
  {
    QtHost host(settings);
    ModuleLoader loader(settings.modulesDir);
    host.SetModuleLoader(&loader);
    MainWindow window(host);
    window.PlaceOnScreen(stored.get());
    window.show();
    QTimer::singleShot(0, &window, [&] {
      if (host.Settings().launchValues) {
        window.OpenWorksheet(*host.Settings().launchValues);
        // APURA_TIMING: when the worksheet's rows were first on screen, in
        // milliseconds since the epoch, for timing a start from outside.
        if (qEnvironmentVariableIsSet("APURA_TIMING")) {
          window.repaint();
          std::fprintf(stderr, "apura: worksheet on screen at %lld ms\n",
                       static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
        }
      } else {
        window.OpenWorksheetDialog();
      }
    });
    rc = app.exec();
    // The screens' forms go while the host and their libraries are still here.
    Application().DestroyForms();
  }
  SetDefaultDatabase(nullptr);
  return rc;
}
