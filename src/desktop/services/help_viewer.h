#pragma once
// The buyer's guide: HTML pages installed with the host, one per screen and
// dialog, shown in a window of the host with search and links between pages.
// F1 (or the "Ajuda" menu) opens the page of the screen or dialog in front,
// by the help context its form carries.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <span>
#include <string>

class QLineEdit;
class QListWidget;
class QTextBrowser;
class QLabel;

namespace apura {
class TForm;
}

namespace apura::desktop {

struct HelpTopic {
  const char* helpFile;  // as the form names it; letter case ignored
  int context;           // 0: the form is known by name only
  const char* formName;  // the form's component name
  const char* page;      // file name in the guide's folder
};

// Every screen and dialog that has a page of its own.
std::span<const HelpTopic> HelpTopics();
// The page of a form's help: by its file and context, else by its name; the
// guide's contents when neither is known.
QString HelpPageFor(const std::string& helpFile, int context, const std::string& formName = {});
QString HelpContentsPage();

// The folder of the guide: $APURA_HELP_DIR, "help" beside the executable (the
// build tree), the package's share/apura/help relative to the executable or
// in the system's data folders. Empty when none holds the contents page.
QString HelpDirectory();

class HelpViewer : public QWidget {
  Q_OBJECT
 public:
  explicit HelpViewer(const QString& folder, QWidget* parent = nullptr);
  // Shows `page` (a file name in the guide's folder).
  void Open(const QString& page);
  QString CurrentPage() const;
  QTextBrowser* Browser() const { return browser_; }
  // Pages whose text holds every word of `words`, by title; also listed in
  // the window.
  QStringList Search(const QString& words);

 private:
  QString folder_;
  QTextBrowser* browser_;
  QLineEdit* query_;
  QListWidget* results_;
};

class HelpService : public QObject {
  Q_OBJECT
 public:
  explicit HelpService(QWidget* mainWindow);
  ~HelpService() override;

  // The form of the screen or dialog in front, as seen from the widget a key
  // went to (by default the one with focus); null when it is none of them.
  TForm* FrontForm(QWidget* from = nullptr) const;
  // Opens the help of the window in front (F1).
  void ShowContextHelp(QWidget* from = nullptr);
  void ShowPage(const QString& page);
  HelpViewer* Viewer() const { return viewer_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPointer<QWidget> main_;
  QPointer<HelpViewer> viewer_;
};

}  // namespace apura::desktop
