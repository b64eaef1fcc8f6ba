#include "desktop/services/help_viewer.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QRegularExpression>
#include <QShortcut>
#include <QSplitter>
#include <QStandardPaths>
#include <QTextBrowser>
#include <QTextDocument>
#include <QVBoxLayout>

#include "desktop/binding/form_view.h"
#include "framework/forms.h"

namespace apura::desktop {

namespace {

constexpr HelpTopic kTopics[] = {
    {"PRQHELP.HLP", 12801801, "frmPlanApurNegGrid", "planilha.html"},
    {"Cmphelp.hlp", 10403109, "frmObservJust", "justificativa.html"},
    // Screens and dialogs without a context of their own, known by name.
    {"", 0, "frmAnaliseAF", "analise-af.html"},
    {"", 0, "frmNegociacao", "negociacao.html"},
    {"", 0, "frmInfPlanilha", "informacoes-planilha.html"},
    {"", 0, "frmRelApuracao", "relatorio.html"},
};

QString Q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

bool Same(const char* a, const std::string& b) {
  return QString::fromUtf8(a).compare(Q(b), Qt::CaseInsensitive) == 0;
}

QString ReadPage(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(f.readAll());
}

QString Title(const QString& html, const QString& fallback) {
  static const QRegularExpression title(QStringLiteral("<title>(.*?)</title>"),
                                        QRegularExpression::DotMatchesEverythingOption);
  const auto m = title.match(html);
  return m.hasMatch() ? m.captured(1).trimmed() : fallback;
}

// The widget that shows a form: a form view itself or the window holding one.
TForm* FormIn(QWidget* w) {
  if (!w) return nullptr;
  if (auto* v = qobject_cast<FormView*>(w)) return v->Form();
  for (FormView* v : w->findChildren<FormView*>())
    if (v->Form() && v->isVisible()) return v->Form();
  return nullptr;
}

}  // namespace

std::span<const HelpTopic> HelpTopics() {
  return kTopics;
}

QString HelpContentsPage() {
  return QStringLiteral("index.html");
}

QString HelpPageFor(const std::string& helpFile, int context, const std::string& formName) {
  if (context != 0)
    for (const HelpTopic& t : kTopics)
      if (t.context == context && Same(t.helpFile, helpFile)) return QString::fromUtf8(t.page);
  if (!formName.empty())
    for (const HelpTopic& t : kTopics)
      if (t.context == 0 && Same(t.formName, formName)) return QString::fromUtf8(t.page);
  return HelpContentsPage();
}

QString HelpDirectory() {
  QStringList candidates;
  const QString env = qEnvironmentVariable("APURA_HELP_DIR");
  if (!env.isEmpty()) candidates << env;
  const QString exe = QCoreApplication::applicationDirPath();
  candidates << exe + QStringLiteral("/help");
  // Installed: the program in lib/<arch>/apura, the pages in share/apura/help.
  candidates << exe + QStringLiteral("/../../../share/apura/help");
  candidates << exe + QStringLiteral("/../share/apura/help");
  candidates << QStandardPaths::locateAll(QStandardPaths::GenericDataLocation,
                                          QStringLiteral("apura/help"),
                                          QStandardPaths::LocateDirectory);
#ifdef APURA_HELP_SOURCE_DIR
  candidates << QStringLiteral(APURA_HELP_SOURCE_DIR);
#endif
  for (const QString& c : candidates)
    if (QFileInfo::exists(c + QLatin1Char('/') + HelpContentsPage()))
      return QDir(c).canonicalPath();
  return {};
}

// --- Viewer ------------------------------------------------------------------------

HelpViewer::HelpViewer(const QString& folder, QWidget* parent)
    : QWidget(parent, Qt::Window), folder_(folder) {
  setObjectName(QStringLiteral("helpViewer"));
  setWindowTitle(QStringLiteral("Ajuda — Apura"));
  resize(860, 620);
  browser_ = new QTextBrowser(this);
  browser_->setObjectName(QStringLiteral("helpBrowser"));
  browser_->setSearchPaths({folder});
  browser_->setOpenExternalLinks(true);
  query_ = new QLineEdit(this);
  query_->setObjectName(QStringLiteral("helpSearch"));
  query_->setPlaceholderText(QStringLiteral("Procurar na ajuda (Ctrl+F)"));
  query_->setClearButtonEnabled(true);
  results_ = new QListWidget(this);
  results_->setObjectName(QStringLiteral("helpResults"));
  auto* label = new QLabel(QStringLiteral("&Procurar:"), this);
  label->setBuddy(query_);

  auto* back = new QPushButton(QStringLiteral("◀ &Voltar"), this);
  auto* forward = new QPushButton(QStringLiteral("&Avançar ▶"), this);
  auto* contents = new QPushButton(QStringLiteral("&Conteúdo"), this);
  auto* close = new QPushButton(QStringLiteral("&Fechar"), this);
  back->setEnabled(false);
  forward->setEnabled(false);
  connect(back, &QPushButton::clicked, browser_, &QTextBrowser::backward);
  connect(forward, &QPushButton::clicked, browser_, &QTextBrowser::forward);
  connect(browser_, &QTextBrowser::backwardAvailable, back, &QWidget::setEnabled);
  connect(browser_, &QTextBrowser::forwardAvailable, forward, &QWidget::setEnabled);
  connect(contents, &QPushButton::clicked, this, [this] { Open(HelpContentsPage()); });
  connect(close, &QPushButton::clicked, this, &QWidget::close);
  connect(query_, &QLineEdit::returnPressed, this, [this] {
    Search(query_->text());
    // Within the page too, from where the reader is.
    if (!browser_->find(query_->text())) {
      browser_->moveCursor(QTextCursor::Start);
      browser_->find(query_->text());
    }
  });
  connect(results_, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
    Open(item->data(Qt::UserRole).toString());
    browser_->find(query_->text());
  });
  auto* find = new QShortcut(QKeySequence::Find, this);
  connect(find, &QShortcut::activated, this, [this] {
    query_->setFocus();
    query_->selectAll();
  });
  auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(esc, &QShortcut::activated, this, &QWidget::close);

  auto* top = new QHBoxLayout;
  top->addWidget(back);
  top->addWidget(forward);
  top->addWidget(contents);
  top->addSpacing(12);
  top->addWidget(label);
  top->addWidget(query_, 1);
  top->addWidget(close);
  auto* split = new QSplitter(this);
  split->addWidget(results_);
  split->addWidget(browser_);
  split->setStretchFactor(1, 4);
  split->setSizes({180, 680});
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(split, 1);
  Search({});
}

void HelpViewer::Open(const QString& page) {
  const QString file = QFileInfo::exists(QDir(folder_).filePath(page)) ? page : HelpContentsPage();
  browser_->setSource(QUrl::fromLocalFile(QDir(folder_).filePath(file)));
  browser_->setFocus();
}

QString HelpViewer::CurrentPage() const {
  return QFileInfo(browser_->source().toLocalFile()).fileName();
}

QStringList HelpViewer::Search(const QString& words) {
  results_->clear();
  QStringList found;
  const QStringList terms = words.split(QLatin1Char(' '), Qt::SkipEmptyParts);
  const QStringList pages =
      QDir(folder_).entryList({QStringLiteral("*.html")}, QDir::Files, QDir::Name);
  for (const QString& page : pages) {
    const QString html = ReadPage(QDir(folder_).filePath(page));
    QTextDocument doc;
    doc.setHtml(html);
    const QString text = doc.toPlainText();
    bool all = true;
    for (const QString& t : terms) all = all && text.contains(t, Qt::CaseInsensitive);
    if (!all) continue;
    found << page;
    auto* item = new QListWidgetItem(Title(html, page), results_);
    item->setData(Qt::UserRole, page);
  }
  return found;
}

// --- Service -----------------------------------------------------------------------

HelpService::HelpService(QWidget* mainWindow) : QObject(mainWindow), main_(mainWindow) {
  qApp->installEventFilter(this);
}

HelpService::~HelpService() {
  qApp->removeEventFilter(this);
  delete viewer_;
}

TForm* HelpService::FrontForm(QWidget* from) const {
  // The screen the keys go to is the one in front.
  if (!from) from = QApplication::focusWidget();
  for (QWidget* w = from; w && w != viewer_; w = w->parentWidget())
    if (auto* v = qobject_cast<FormView*>(w)) return v->Form();
  if (TForm* f = FormIn(QApplication::activeModalWidget())) return f;
  QWidget* window = QApplication::activeWindow();
  if (window && window == viewer_) window = main_;
  if (auto* mw = qobject_cast<QMainWindow*>(window)) {
    if (auto* mdi = qobject_cast<QMdiArea*>(mw->centralWidget()))
      if (QMdiSubWindow* sub = mdi->activeSubWindow()) return FormIn(sub);
    return nullptr;
  }
  return FormIn(window);
}

void HelpService::ShowContextHelp(QWidget* from) {
  const TForm* form = FrontForm(from);
  ShowPage(form ? HelpPageFor(form->HelpFile, form->HelpContext, form->Name) : HelpContentsPage());
}

void HelpService::ShowPage(const QString& page) {
  const QString folder = HelpDirectory();
  QWidget* owner = QApplication::activeModalWidget();
  if (!owner) owner = main_;
  if (folder.isEmpty()) {
    qWarning("Apura: the help pages were not found");
    return;
  }
  // A modal dialog lets only its own windows through: the viewer opened over
  // one belongs to it.
  if (viewer_ && viewer_->parentWidget() != owner) delete viewer_;
  if (!viewer_) {
    viewer_ = new HelpViewer(folder, owner);
    viewer_->setAttribute(Qt::WA_DeleteOnClose);
  }
  viewer_->Open(page);
  viewer_->show();
  viewer_->raise();
  viewer_->activateWindow();
}

bool HelpService::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  if (key->key() != Qt::Key_F1 || key->modifiers() != Qt::NoModifier) return false;
  // The key reaches the filter once per widget on its way up; only the first
  // (a widget of a window) counts.
  if (!watched->isWidgetType()) return false;
  if (viewer_ && static_cast<QWidget*>(watched)->window() == viewer_) return true;
  ShowContextHelp(static_cast<QWidget*>(watched));
  return true;
}

}  // namespace apura::desktop
