#include "desktop/services/qt_host.h"

#include <malloc.h>

#include <QApplication>
#include <QComboBox>
#include <QDate>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "desktop/app/module_loader.h"
#include "desktop/binding/dataset_model.h"
#include "desktop/binding/events.h"
#include "desktop/binding/form_view.h"
#include "desktop/binding/keys.h"
#include "desktop/binding/watch.h"
#include "desktop/services/report_view.h"
#include "framework/format.h"

namespace apura::desktop {

void TuneAllocatorForTables() {
  mallopt(M_MMAP_THRESHOLD, 512 << 10);
}

namespace {
QString Q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QMessageBox::Icon IconFor(TMsgDlgType kind) {
  switch (kind) {
    case TMsgDlgType::mtWarning:
      return QMessageBox::Warning;
    case TMsgDlgType::mtError:
      return QMessageBox::Critical;
    case TMsgDlgType::mtInformation:
      return QMessageBox::Information;
    case TMsgDlgType::mtConfirmation:
      return QMessageBox::Question;
    case TMsgDlgType::mtCustom:
      break;
  }
  return QMessageBox::NoIcon;
}

QString TitleFor(TMsgDlgType kind) {
  switch (kind) {
    case TMsgDlgType::mtWarning:
      return QStringLiteral("Aviso");
    case TMsgDlgType::mtError:
      return QStringLiteral("Erro");
    case TMsgDlgType::mtInformation:
      return QStringLiteral("Informação");
    case TMsgDlgType::mtConfirmation:
      return QStringLiteral("Confirmação");
    case TMsgDlgType::mtCustom:
      break;
  }
  return QStringLiteral("Apura");
}

struct ButtonSpec {
  TMsgDlgBtn bit;
  const char* caption;
  QMessageBox::ButtonRole role;
  int result;
};
const ButtonSpec kButtons[] = {
    {mbYes, "&Sim", QMessageBox::YesRole, mrYes},
    {mbNo, "&Não", QMessageBox::NoRole, mrNo},
    {mbOK, "OK", QMessageBox::AcceptRole, mrOk},
    {mbCancel, "Cancelar", QMessageBox::RejectRole, mrCancel},
    {mbAbort, "&Abortar", QMessageBox::RejectRole, mrAbort},
    {mbRetry, "&Repetir", QMessageBox::AcceptRole, mrRetry},
    {mbIgnore, "&Ignorar", QMessageBox::AcceptRole, mrIgnore},
    {mbAll, "&Todos", QMessageBox::AcceptRole, mrAll},
    {mbNoToAll, "N&ão para todos", QMessageBox::NoRole, mrNoToAll},
    {mbYesToAll, "Sim para &todos", QMessageBox::YesRole, mrYesToAll},
    {mbHelp, "Aj&uda", QMessageBox::HelpRole, mrNone},
};

const char* KindName(TMsgDlgType kind) {
  return MsgDlgTypeName(kind);
}
}  // namespace

// --- Windows of forms -----------------------------------------------------------

struct QtHost::FormWindow {
  TForm* form = nullptr;
  QPointer<FormView> view;
  QPointer<QWidget> frame;  // the MDI child or the top-level window
  QPointer<QMdiSubWindow> sub;
  QPointer<QDialog> dialog;
  Watch watch;
  // Tells this window from a later one of a form made at the same address
  // once this one's form is released: a deferred close must not reach it.
  uint64_t serial = 0;
};

namespace {
uint64_t nextWindowSerial = 0;
}  // namespace

QtHost::QtHost(HostSettings settings, QObject* parent)
    : QObject(parent), settings_(std::move(settings)) {
  hadPrevious_ = HasHost();
  if (hadPrevious_) previous_ = &Host();
  SetHost(this);
  qApp->installEventFilter(this);
}

QtHost::~QtHost() {
  qApp->removeEventFilter(this);
  for (auto& [form, w] : windows_) {
    w->watch.Clear();
    if (w->view) w->view->Detach();
    if (w->frame) delete w->frame.data();
  }
  windows_.clear();
  while (cursorDepth_ > 0) {
    QApplication::restoreOverrideCursor();
    --cursorDepth_;
  }
  SetHost(hadPrevious_ ? previous_ : nullptr);
}

void QtHost::SetMainWindow(QWidget* mainWindow, QMdiArea* mdi) {
  main_ = mainWindow;
  mdi_ = mdi;
  if (mdi)
    connect(mdi, &QMdiArea::subWindowActivated, this,
            [this](QMdiSubWindow* w) { SubWindowActivated(w); });
}

QtHost::FormWindow* QtHost::Find(const TForm& form) const {
  auto it = windows_.find(&form);
  return it == windows_.end() ? nullptr : it->second.get();
}

FormView* QtHost::ViewOf(const TForm& form) const {
  FormWindow* w = Find(form);
  return w ? w->view.data() : nullptr;
}

QWidget* QtHost::WindowOf(const TForm& form) const {
  FormWindow* w = Find(form);
  return w ? w->frame.data() : nullptr;
}

// --- Dialogs --------------------------------------------------------------------------

int QtHost::MessageBox(const std::string& text, const std::string& caption, TMsgDlgType kind,
                       TMsgDlgButtons buttons, int helpContext) {
  (void)helpContext;
  shown_.push_back(std::string(KindName(kind)) + ": " + text);
  QMessageBox box(IconFor(kind), caption.empty() ? TitleFor(kind) : Q(caption), Q(text),
                  QMessageBox::NoButton, QApplication::activeWindow());
  std::map<QAbstractButton*, int> results;
  if (buttons == 0) buttons = mbOK;
  QAbstractButton* escape = nullptr;
  for (const ButtonSpec& b : kButtons) {
    if (!(buttons & b.bit)) continue;
    QPushButton* pb = box.addButton(QString::fromUtf8(b.caption), b.role);
    pb->setObjectName(QString::fromUtf8(b.caption).remove('&'));
    results[pb] = b.result;
    if (b.bit == mbCancel || b.bit == mbNo || (!escape && b.bit == mbOK)) escape = pb;
  }
  if (escape) box.setEscapeButton(escape);
  box.exec();
  auto it = results.find(box.clickedButton());
  if (it != results.end()) return it->second;
  return escape && results.count(escape) ? results[escape] : mrCancel;
}

int QtHost::MsgAlertEx(const std::string& text, TMsgDlgType kind,
                       const std::vector<std::string>& captions, int defaultButton,
                       int cancelButton, int helpContext) {
  (void)helpContext;
  shown_.push_back(std::string(KindName(kind)) + ": " + text);
  QMessageBox box(IconFor(kind), TitleFor(kind), Q(text), QMessageBox::NoButton,
                  QApplication::activeWindow());
  std::vector<QPushButton*> buttons;
  for (const std::string& c : captions) {
    QPushButton* pb = box.addButton(Q(c), QMessageBox::ActionRole);
    pb->setObjectName(Q(c).remove('&'));
    buttons.push_back(pb);
  }
  // The numbers name buttons by their place, counted from one.
  if (defaultButton >= 1 && size_t(defaultButton) <= buttons.size())
    box.setDefaultButton(buttons[size_t(defaultButton) - 1]);
  if (cancelButton >= 1 && size_t(cancelButton) <= buttons.size())
    box.setEscapeButton(buttons[size_t(cancelButton) - 1]);
  box.exec();
  for (size_t i = 0; i < buttons.size(); ++i)
    if (box.clickedButton() == buttons[i]) return mrFirstCaption + int(i);
  return mrNone;
}

void QtHost::ShowException(const std::exception& e) {
  shown_.push_back(std::string("exception: ") + e.what());
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Erro"), QString::fromUtf8(e.what()),
                  QMessageBox::NoButton, QApplication::activeWindow());
  box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole)->setObjectName("OK");
  box.exec();
}

// --- Session ----------------------------------------------------------------------------

DateTime QtHost::DataProc(const std::string& branch) {
  (void)branch;  // one processing date for every branch of the session
  DateTime d;
  if (!settings_.processingDate.empty() && TextToDateTime(settings_.processingDate, d)) return d;
  const QDate today = QDate::currentDate();
  return DateTime::FromDate(today.year(), today.month(), today.day());
}

std::string QtHost::DBPict(int kind) {
  return kind == 0 ? settings_.productTreePicture : std::string();
}

// --- Busy animation ---------------------------------------------------------------------

void QtHost::ActiveShowAvi(int kind, const std::string& caption) {
  (void)kind;
  ++busyDepth_;
  QWidget* over = main_ ? main_.data() : QApplication::activeWindow();
  if (!busy_ || busy_->parentWidget() != over) {
    delete busy_.data();
    busy_ = new QFrame(over, over ? Qt::Widget : Qt::Tool | Qt::FramelessWindowHint);
    busy_->setObjectName("busyAnimation");
    busy_->setFrameShape(QFrame::Box);
    busy_->setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(busy_);
    busyLabel_ = new QLabel(busy_);
    busyLabel_->setAlignment(Qt::AlignCenter);
    auto* bar = new QProgressBar(busy_);
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    layout->addWidget(busyLabel_);
    layout->addWidget(bar);
  }
  busyLabel_->setText(Q(caption));
  busy_->adjustSize();
  const QSize s = busy_->sizeHint().expandedTo(QSize(360, 70));
  if (over)
    busy_->setGeometry((over->width() - s.width()) / 2, (over->height() - s.height()) / 2,
                       s.width(), s.height());
  busy_->show();
  busy_->raise();
  busy_->repaint();
  // The call that follows blocks the interface; the animation must be on
  // screen before it starts.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void QtHost::DeactiveShowAvi() {
  if (busyDepth_ > 0) --busyDepth_;
  if (busyDepth_ == 0 && busy_) busy_->hide();
}

bool QtHost::BusyShown() const {
  return busy_ && busy_->isVisible();
}

QString QtHost::BusyCaption() const {
  return busyLabel_ ? busyLabel_->text() : QString();
}

// --- Other screens -------------------------------------------------------------------------

void QtHost::OpenScreen(const std::string& screenCode, const ValueArray& params) {
  if (!loader_) throw EModuleNotInstalled("A tela " + screenCode + " não está instalada.");
  loader_->Open(screenCode, params);
}

void QtHost::LoadBPL(const std::string& screenCode, const ValueArray& params) {
  try {
    OpenScreen(screenCode, params);
  } catch (const EModuleNotInstalled& e) {
    // A missing screen is news for the user, not a failure of the caller.
    MessageBox(e.what(), {}, TMsgDlgType::mtWarning, mbOK, 0);
  }
}

// --- Search dialogs ---------------------------------------------------------------------------

bool QtHost::Pesquisar(TDataSource& source, const std::string& caption, bool flag1, bool flag2) {
  (void)flag1;
  (void)flag2;
  TClientDataSet* ds = source.DataSet();
  shown_.push_back("pick list: " + caption);
  if (!ds || !ds->Active()) return false;
  QDialog dialog(QApplication::activeWindow());
  dialog.setObjectName("pickList");
  dialog.setWindowTitle(caption.empty() ? QStringLiteral("Pesquisar") : Q(caption));
  auto* layout = new QVBoxLayout(&dialog);
  DataSetModel model;
  model.SetSource(&source);
  model.SetColumns(DataSetModel::VisibleFieldColumns(*ds));
  auto* view = new QTableView(&dialog);
  view->setObjectName("pickListView");
  view->setModel(&model);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view->horizontalHeader()->setStretchLastSection(true);
  const QFontMetrics fm(view->font());
  // Wide enough for the field's size, its title and what the first rows hold.
  view->horizontalHeader()->setResizeContentsPrecision(200);
  view->resizeColumnsToContents();
  int wanted = 0;
  for (int c = 0; c < model.columnCount(); ++c) {
    if (TField* f = model.FieldOf(c))
      view->setColumnWidth(
          c, std::max({view->columnWidth(c), f->DisplayWidth() * fm.averageCharWidth() + 8,
                       fm.horizontalAdvance(Q(f->DisplayLabel())) + 16}));
    wanted += view->columnWidth(c);
  }
  if (model.CursorRow() >= 0) view->selectRow(model.CursorRow());
  layout->addWidget(view);
  auto* buttons = new QDialogButtonBox(&dialog);
  buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setObjectName("OK");
  buttons->addButton(QStringLiteral("Cancelar"), QDialogButtonBox::RejectRole)
      ->setObjectName("Cancelar");
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  connect(view, &QTableView::doubleClicked, &dialog, &QDialog::accept);
  const QRect screen = QGuiApplication::primaryScreen()
                           ? QGuiApplication::primaryScreen()->availableGeometry()
                           : QRect(0, 0, 1024, 768);
  dialog.resize(std::clamp(wanted + 60, 640, screen.width() * 9 / 10), 360);
  if (dialog.exec() != QDialog::Accepted) return false;
  const QModelIndex current = view->currentIndex();
  if (!current.isValid()) return false;
  if (current.row() != ds->CursorPos()) ds->SetRecNo(current.row() + 1);
  return true;
}

void QtHost::Procura(TClientDataSet& table) {
  shown_.push_back("search: " + table.Name);
  if (!table.Active()) return;
  QDialog dialog(QApplication::activeWindow());
  dialog.setObjectName("searchDialog");
  dialog.setWindowTitle(QStringLiteral("Procurar"));
  auto* form = new QFormLayout(&dialog);
  auto* field = new QComboBox(&dialog);
  field->setObjectName("searchField");
  for (const auto& f : table.Fields())
    if (f->Visible()) field->addItem(Q(f->DisplayLabel()), f->Index());
  auto* text = new QLineEdit(&dialog);
  text->setObjectName("searchText");
  form->addRow(QStringLiteral("&Campo"), field);
  form->addRow(QStringLiteral("&Texto"), text);
  auto* buttons = new QDialogButtonBox(&dialog);
  buttons->addButton(QStringLiteral("Procurar"), QDialogButtonBox::AcceptRole)
      ->setObjectName("Procurar");
  buttons->addButton(QStringLiteral("Cancelar"), QDialogButtonBox::RejectRole)
      ->setObjectName("Cancelar");
  form->addRow(buttons);
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  if (dialog.exec() != QDialog::Accepted || field->currentIndex() < 0) return;
  const int f = field->currentData().toInt();
  const std::string wanted = FoldCase(text->text().toStdString());
  const int n = table.RecordCount();
  // From the row after the cursor round to it, so "find again" moves on.
  const int start = std::max(table.CursorPos(), 0);
  for (int k = 1; k <= n; ++k) {
    const int row = (start + k) % n;
    if (FoldCase(table.CellDisplayText(row, f)).rfind(wanted, 0) == 0) {
      table.SetRecNo(row + 1);
      return;
    }
  }
  MessageBox("Registro não encontrado.", {}, TMsgDlgType::mtInformation, mbOK, 0);
}

// --- Message hook ------------------------------------------------------------------------------

void QtHost::MsgEventForm(MessageHook hook) {
  hook_ = std::move(hook);
}

bool QtHost::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type == QEvent::Close || type == QEvent::WindowActivate || type == QEvent::WindowDeactivate) {
    for (auto& [form, w] : windows_) {
      if (!w->frame || w->frame.data() != watched) continue;
      TForm* f = w->form;
      if (type == QEvent::Close) {
        if (!f->Visible()) break;  // already closed: the window just goes
        // The user closes the window: the form decides, through its close.
        event->ignore();
        RunEvent([f] { f->Close(); });
        return true;
      }
      if (w->sub) break;  // MDI children follow the MDI area's activation
      if (type == QEvent::WindowActivate) {
        // The window system may deliver an activation after the form has
        // closed (a loaded machine, a dialog answered at once); a closed form
        // taking the activation back would reinstall its message hook.
        if (!f->Visible()) break;
        activeForm_ = f;
        RunEvent([f] { f->Activate(); });
      } else if (f->Active()) {
        if (activeForm_ == f) activeForm_ = nullptr;
        RunEvent([f] { f->Deactivate(); });
      }
      break;
    }
  }
  if (type == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    // Esc on a modal form closes it through the form, not behind its back.
    for (auto& [form, w] : windows_)
      if (w->dialog && w->dialog.data() == watched) {
        TForm* f = w->form;
        RunEvent([f] { f->Close(); });
        return true;
      }
  }
  if (hook_ && !inHook_) {
    switch (event->type()) {
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::FocusIn:
        QueueIdleMessage();
        if (RunHook(watched, event)) return true;
        break;
      default:
        break;
    }
  }
  return QObject::eventFilter(watched, event);
}

void QtHost::QueueIdleMessage() {
  // The hook sees an input event before the widget acts on it: a click on
  // "Confirmar" reaches the hook while the row is still being edited. One
  // more message once the event has been handled lets the form's hook see
  // what the click did, as the stream of window messages after it would.
  if (idleQueued_) return;
  idleQueued_ = true;
  QTimer::singleShot(0, this, [this] {
    idleQueued_ = false;
    if (!hook_ || inHook_) return;
    HostMessage msg;
    bool handled = false;
    MessageHook hook = hook_;
    inHook_ = true;
    RunEvent([&] { hook(msg, handled); });
    inHook_ = false;
  });
}

bool QtHost::RunHook(QObject* watched, QEvent* event) {
  if (!watched->isWidgetType()) return false;
  const bool key = event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease;
  // A key goes to the focus widget first and then up its parents; the hook
  // sees it once, on its way to the focus widget.
  if (key) {
    QWidget* focus = QApplication::focusWidget();
    if (focus && watched != focus) return false;
  }
  HostMessage msg;
  Qt::KeyboardModifiers mods = Qt::NoModifier;
  if (key) {
    auto* k = static_cast<QKeyEvent*>(event);
    msg.kind =
        event->type() == QEvent::KeyPress ? HostMessage::Kind::KeyDown : HostMessage::Kind::KeyUp;
    msg.key = VirtualKey(*k);
    mods = k->modifiers();
    msg.shift = ShiftState(mods);
    if (!k->text().isEmpty()) msg.ch = char32_t(k->text().toUcs4().value(0));
  }
  const int before = msg.key;
  bool handled = false;
  MessageHook hook = hook_;  // the hook may remove itself
  inHook_ = true;
  const bool ok = RunEvent([&] { hook(msg, handled); });
  inHook_ = false;
  if (!ok || handled) return key;
  if (!key || msg.key == before || msg.key == 0) return false;
  // The hook rewrote the key: the focus widget gets the rewritten key, and
  // types its character, instead of the original.
  auto* k = static_cast<QKeyEvent*>(event);
  QtKey q = QtKeyFor(msg.key, mods & ~Qt::KeypadModifier);
  if (q.key == 0) return false;
  QKeyEvent rewritten(event->type(), q.key, mods & ~Qt::KeypadModifier, q.text, k->isAutoRepeat(),
                      static_cast<ushort>(k->count()));
  inHook_ = true;
  QCoreApplication::sendEvent(watched, &rewritten);
  inHook_ = false;
  return true;
}

// --- Forms' windows ------------------------------------------------------------------------------

QtHost::FormWindow& QtHost::MakeWindow(TForm& form, bool modal) {
  auto w = std::make_unique<FormWindow>();
  w->form = &form;
  w->serial = ++nextWindowSerial;
  auto* view = new FormView(form);
  w->view = view;
  if (modal) {
    // Created by ShowModal.
  } else if (mdi_ && form.FormStyle() == TFormStyle::fsMDIChild) {
    QMdiSubWindow* sub = mdi_->addSubWindow(view);
    sub->setAttribute(Qt::WA_DeleteOnClose, false);
    sub->setWindowTitle(Q(form.Caption()));
    // Qt would put it where it overlaps the open windows least, which on an
    // area the worksheet fills is past the area's right edge: the AF analysis
    // opened half off the screen. Windows open cascaded from the top left
    // instead, each wholly inside the area.
    const QSize area = mdi_->viewport()->size();
    const QSize size(std::max(640, area.width() * 9 / 10), std::max(420, area.height() * 9 / 10));
    const int step = 24 * static_cast<int>((mdi_->subWindowList().size() - 1) % 5);
    const QPoint at(std::clamp(step, 0, std::max(0, area.width() - size.width())),
                    std::clamp(step, 0, std::max(0, area.height() - size.height())));
    sub->setGeometry(QRect(at, size));
    w->sub = sub;
    w->frame = sub;
  } else {
    view->setWindowTitle(Q(form.Caption()));
    view->setAttribute(Qt::WA_DeleteOnClose, false);
    view->resize(900, 600);
    w->frame = view;
  }
  TForm* f = &form;
  w->watch.On(form, [this, f](std::string_view p) { FormChanged(*f, p); });
  FormWindow& ref = *w;
  windows_[&form] = std::move(w);
  return ref;
}

void QtHost::FormChanged(TForm& form, std::string_view p) {
  FormWindow* w = Find(form);
  if (!w) return;
  if (p == "Destroying") {
    if (activeForm_ == &form) activeForm_ = nullptr;
    DropWindow(&form);
    return;
  }
  QWidget* frame = w->frame;
  if (!frame) return;
  if (p == "Caption") {
    frame->setWindowTitle(Q(form.Caption()));
  } else if (p == "Visible") {
    if (!form.Visible()) {
      frame->hide();
      if (w->dialog) w->dialog->done(form.ModalResult());
    }
  } else if (p == "WindowState") {
    switch (form.WindowState()) {
      case TWindowState::wsMaximized:
        frame->showMaximized();
        break;
      case TWindowState::wsMinimized:
        frame->showMinimized();
        break;
      case TWindowState::wsNormal:
        if (frame->isVisible()) frame->showNormal();
        break;
    }
  } else if (p == "ModalResult") {
    // A modal form closes once it has a result, as its own close would.
    if (form.Modal() && form.ModalResult() != mrNone && form.Visible()) {
      TForm* f = &form;
      const uint64_t serial = w->serial;
      QTimer::singleShot(0, this, [this, f, serial] {
        FormWindow* now = Find(*f);
        if (now && now->serial == serial && f->Visible() && f->Modal())
          RunEvent([f] { f->Close(); });
      });
    }
  } else if (p == "Released") {
    frame->hide();
  }
}

void QtHost::DropWindow(TForm* form) {
  auto it = windows_.find(form);
  if (it == windows_.end()) return;
  std::unique_ptr<FormWindow> w = std::move(it->second);
  windows_.erase(it);
  w->watch.Clear();
  if (w->view) w->view->Detach();
  if (w->frame && !w->dialog) w->frame->deleteLater();
}

void QtHost::ShowForm(TForm& form) {
  FormWindow* w = Find(form);
  if (!w) w = &MakeWindow(form, false);
  QWidget* frame = w->frame;
  if (!frame) return;
  if (form.WindowState() == TWindowState::wsMaximized)
    frame->showMaximized();
  else
    frame->show();
  if (w->sub && mdi_) mdi_->setActiveSubWindow(w->sub);
  frame->raise();
  frame->activateWindow();
}

void QtHost::BringToFront(TForm& form) {
  FormWindow* w = Find(form);
  if (!w || !w->frame) return;
  if (w->sub && mdi_) mdi_->setActiveSubWindow(w->sub);
  w->frame->raise();
  w->frame->activateWindow();
}

int QtHost::ShowModal(TForm& form) {
  EventScope scope;
  FormWindow* w = Find(form);
  if (!w) w = &MakeWindow(form, true);
  QDialog dialog(QApplication::activeWindow());
  dialog.setObjectName(Q(form.Name));
  dialog.setWindowTitle(Q(form.Caption()));
  auto* layout = new QVBoxLayout(&dialog);
  layout->setContentsMargins(0, 0, 0, 0);
  FormView* view = w->view;
  if (view) {
    view->setParent(&dialog);
    layout->addWidget(view);
  }
  w->dialog = &dialog;
  w->frame = &dialog;
  if (form.Width() > 0 && form.Height() > 0) dialog.resize(form.Width(), form.Height());
  TForm* f = &form;
  if (form.Visible()) {
    QTimer::singleShot(0, &dialog, [f] {
      if (f->Visible()) RunEvent([f] { f->Activate(); });
    });
    dialog.exec();
  }
  // The dialog goes with this call; the form may stay for another showing.
  if (FormWindow* again = Find(form)) {
    if (again->view) {
      again->view->setParent(nullptr);
      again->view->hide();
    }
    again->dialog = nullptr;
    again->frame = again->view.data();
  }
  if (form.Active()) RunEvent([f] { f->Deactivate(); });
  return form.ModalResult();
}

void QtHost::PostClose(TForm& form) {
  TForm* f = &form;
  const FormWindow* w = Find(form);
  const uint64_t serial = w ? w->serial : 0;
  QTimer::singleShot(0, this, [this, f, serial] {
    // The form may have gone in the meantime, and another taken its address.
    const FormWindow* now = Application().Owns(*f) ? Find(*f) : nullptr;
    if (!now || (serial != 0 && now->serial != serial)) return;
    RunEvent([f] { f->Close(); });
  });
}

void QtHost::ProcessMessages() {
  QCoreApplication::processEvents();
}

int QtHost::ScreenHeight() {
  if (settings_.screenHeight > 0) return settings_.screenHeight;
  QScreen* s = QGuiApplication::primaryScreen();
  return s ? s->geometry().height() : 768;
}

void QtHost::SetCursor(int cursor) {
  if (cursor == crHourGlass) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ++cursorDepth_;
  } else {
    while (cursorDepth_ > 0) {
      QApplication::restoreOverrideCursor();
      --cursorDepth_;
    }
  }
}

TNetConnection& QtHost::ReportConnection() {
  if (!reportNet_) {
    reportNet_ = std::make_unique<TNetConnection>(nullptr, "netRelatorio");
    reportNet_->ServerName = kReportServerObject;
    reportNet_->ThrowException = false;
    reportNet_->BeforeConnect = [this](TComponent&) {
      reportNet_->Host = settings_.serverHost;
      reportNet_->Port = settings_.serverPort;
    };
  }
  return *reportNet_;
}

ReportDocument QtHost::BuildReport(const std::string& reportCode, const TReportParams& params) {
  return ReportClient(ReportConnection()).Build(reportCode, params);
}

std::vector<std::string> QtHost::ReportQueryParams(const std::string& reportCode) {
  return ReportClient(ReportConnection()).Definition(reportCode).params;
}

void QtHost::ShowReport(const std::string& reportCode, const TReportParams& params) {
  ReportDocument doc = BuildReport(reportCode, params);
  // A report runs on the server's data. The form asking for it may know
  // better (choices on screen not yet sent) and says so in its visible
  // "lblAviso"; the paper says it too, under the report's own header.
  TForm* requester = activeForm_;
  if (QWidget* modal = QApplication::activeModalWidget())
    for (auto& [form, w] : windows_)
      if (w->dialog && w->dialog.data() == modal) requester = w->form;
  if (requester && Application().Owns(*requester))
    if (auto* notice = requester->FindComponentAs<TLabel>("lblAviso"))
      if (notice->Visible() && !notice->Caption().empty()) doc.header.push_back(notice->Caption());
  lastReport_ = std::make_unique<ReportDocument>(doc);
  std::string record = "report: " + reportCode;
  for (const TReportParam& p : params.Items) record += " " + p.Name + "=" + p.Value;
  shown_.push_back(record);
  const TReportParam* tally = params.Find("P_NRAPURACAO");
  PreviewReport(doc,
                QApplication::activeModalWidget() ? QApplication::activeModalWidget()
                                                  : QApplication::activeWindow(),
                onReportPreview,
                SuggestedPdfPath(reportCode, tally ? tally->Value : std::string()));
}

// --- Activation
// ------------------------------------------------------------------------------------

void QtHost::SubWindowActivated(QMdiSubWindow* window) {
  TForm* next = nullptr;
  for (auto& [form, w] : windows_)
    if (window && w->sub == window) next = w->form;
  if (next == activeForm_) return;
  TForm* prev = activeForm_;
  activeForm_ = next;
  if (prev && Find(*prev)) RunEvent([prev] { prev->Deactivate(); });
  if (next) RunEvent([next] { next->Activate(); });
}

}  // namespace apura::desktop
