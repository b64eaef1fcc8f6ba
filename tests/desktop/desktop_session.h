#pragma once
// What the view suites start from: the demo server in a temporary folder, its
// buyer logged in, the Brazilian number and date forms, every connection going
// to the demo over gRPC with the demo's local database, the host with the
// screens' libraries, and its main window showing the worksheet. One session
// a suite; the helpers are the buyer's gestures the suites share.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <string>
#include <vector>

#include "desktop/app/settings.h"

namespace apura {
class TForm;
}

namespace apura::desktop {
class DemoEnvironment;
class FormView;
class GridView;
class MainWindow;
class ModuleLoader;
class QtHost;
}  // namespace apura::desktop

namespace apura::desktop::test {

struct SessionOptions {
  // The server's best-quote tally run first, as after the buyer's "Apurar".
  bool tallied = false;
  // A screen of 480 lines opens the worksheet maximised; 0 is the real one.
  int screenHeight = 0;
  // The main window shown and the worksheet opened in it.
  bool openWorksheet = true;
  // The session's module: supplies (34) shows every column of the worksheet.
  int module = 34;
};

class DesktopSession {
 public:
  DesktopSession();
  ~DesktopSession();
  DesktopSession(const DesktopSession&) = delete;
  DesktopSession& operator=(const DesktopSession&) = delete;

  // Empty when everything is up; otherwise what is missing.
  QString Start(const SessionOptions& options = {});
  // The host and its windows go first, then the demo; safe to call twice.
  void Stop();

  QtHost& Host() const { return *host_; }
  ModuleLoader& Loader() const { return *loader_; }
  DemoEnvironment& Demo() const { return *demo_; }
  const QTemporaryDir& Dir() const { return dir_; }
  const std::vector<std::string>& Launch() const { return launch_; }
  // Made (and shown) on first use when the options did not open the worksheet.
  MainWindow& Window();
  // Opens the worksheet in the main window; empty when it came up.
  QString OpenWorksheet();

  // The worksheet and its view, once opened.
  TForm* Form() const { return form_; }
  FormView* View() const { return view_; }
  TForm* FormNamed(const char* name) const;
  GridView* Grid(const char* name) const;

  // The worksheet's tab of that caption made current; false when it is not
  // there or not enabled.
  bool ShowPage(const char* caption);
  // The toolbar action of that name triggered; false when missing or disabled.
  bool Trigger(const char* action);
  // Text typed into the cell at `field` of the grid's current row, then Enter,
  // as the buyer types it (the first key opens the cell editor).
  bool TypeInto(GridView* grid, const char* field, const QString& text);

 private:
  QTemporaryDir dir_;
  std::unique_ptr<DemoEnvironment> demo_;
  std::unique_ptr<QtHost> host_;
  std::unique_ptr<ModuleLoader> loader_;
  std::unique_ptr<MainWindow> window_;
  std::vector<std::string> launch_;
  TForm* form_ = nullptr;
  FormView* view_ = nullptr;
};

// The view suites' base: one session, and the gestures as test steps (a
// failing step fails the test function it runs in).
class ViewSuite : public QObject {
 protected:
  QtHost& Host() const { return session_.Host(); }
  MainWindow& Window() { return session_.Window(); }
  ModuleLoader& Loader() const { return session_.Loader(); }
  DemoEnvironment& Demo() const { return session_.Demo(); }
  const QTemporaryDir& Dir() const { return session_.Dir(); }
  TForm* Form() const { return session_.Form(); }
  FormView* View() const { return session_.View(); }
  GridView* Grid(const char* name) const { return session_.Grid(name); }
  void ShowPage(const char* caption);
  void Trigger(const char* action);
  void TypeInto(GridView* grid, const char* field, const QString& text);

  DesktopSession session_;
};

// Cells of a grid as the buyer reads them.
int ColumnOf(GridView* grid, const char* field);
QString Cell(GridView* grid, int row, const char* field);
QStringList ColumnTexts(GridView* grid, const char* field);
// A click on the cell, focus first, as the buyer clicks it.
void ClickCell(GridView* grid, int row, int column);

}  // namespace apura::desktop::test
