#include "desktop/binding/form_view.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSplitter>
#include <QStandardPaths>
#include <QTabBar>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "desktop/binding/events.h"
#include "desktop/binding/grid_view.h"
#include "desktop/binding/key_route.h"
#include "desktop/binding/qt_canvas.h"

namespace apura::desktop {

namespace {
QString Q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

bool SameName(const std::string& a, const QString& b) {
  return Q(a).compare(b, Qt::CaseInsensitive) == 0;
}

// What a toolbar button says when the desktop has no picture for its glyph.
QString GlyphLabel(const TButtonFlat& b) {
  static const std::map<std::string, const char*> labels = {
      {"incluir", "Incluir"},       {"alterar", "Alterar"},       {"excluir", "Excluir"},
      {"procurar", "Procurar"},     {"verificar", "Verificar"},   {"cancelar", "Cancelar"},
      {"confirmar", "Confirmar"},   {"imprimir", "Imprimir"},     {"sair", "Sair"},
      {"apurar", "Apurar"},         {"gerar_af", "Efetivar"},     {"simulacao", "Simular"},
      {"planilha", "Planilha"},     {"analise_af", "Análise AF"}, {"totais", "Totais"},
      {"visualizar", "Visualizar"}, {"confirma", "Confirmar"},    {"cancel", "Cancelar"}};
  auto it = labels.find(b.Glyph());
  if (it != labels.end()) return QString::fromUtf8(it->second);
  if (!b.Caption().empty()) return Q(b.Caption());
  return Q(b.Hint());
}

// Each command's picture, from the Tango icon theme (public domain, Debian's
// tango-icon-theme) unless the desktop's own theme has one of that name.
QIcon GlyphIcon(const TButtonFlat& b) {
  static const bool themed = [] {
    // Without a desktop (a bare X server, offscreen) Qt looks for themes in
    // its resources only.
    QStringList paths = QIcon::themeSearchPaths();
    for (const QString& dir : QStandardPaths::locateAll(QStandardPaths::GenericDataLocation,
                                                        "icons", QStandardPaths::LocateDirectory))
      if (!paths.contains(dir)) paths << dir;
    QIcon::setThemeSearchPaths(paths);
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == "hicolor")
      QIcon::setThemeName("Tango");
    QIcon::setFallbackThemeName("Tango");
    return true;
  }();
  (void)themed;
  static const std::map<std::string, const char*> names = {
      {"incluir", "list-add"},
      {"alterar", "accessories-text-editor"},
      {"excluir", "edit-delete"},
      {"procurar", "edit-find"},
      {"verificar", "system-search"},
      {"cancelar", "process-stop"},
      {"cancel", "process-stop"},
      {"confirmar", "document-save"},
      {"confirma", "document-save"},
      {"imprimir", "document-print"},
      {"visualizar", "document-print-preview"},
      {"sair", "system-log-out"},
      {"apurar", "view-refresh"},
      {"gerar_af", "mail-send-receive"},
      {"simulacao", "utilities-system-monitor"},
      {"planilha", "x-office-spreadsheet"},
      {"analise_af", "x-office-document"},
      {"totais", "accessories-calculator"}};
  auto it = names.find(b.Glyph());
  return it == names.end() ? QIcon() : QIcon::fromTheme(QString::fromLatin1(it->second));
}

bool IsToolbarPanel(const TControl& c) {
  if (!dynamic_cast<const TPanel*>(&c) || c.Controls().empty()) return false;
  return std::any_of(c.Controls().begin(), c.Controls().end(),
                     [](TControl* k) { return dynamic_cast<TButtonFlat*>(k) != nullptr; });
}

bool IsOverlayPanel(const TControl& c) {
  if (!dynamic_cast<const TPanel*>(&c)) return false;
  return std::any_of(c.Controls().begin(), c.Controls().end(),
                     [](TControl* k) { return dynamic_cast<TAnimate*>(k) != nullptr; });
}

bool Stretches(const TControl& c) {
  return dynamic_cast<const TDBGrid*>(&c) || dynamic_cast<const TPageControl*>(&c) ||
         dynamic_cast<const TMemo*>(&c);
}

bool HasStretchingChild(const TControl& c) {
  return std::any_of(c.Controls().begin(), c.Controls().end(), [](TControl* k) {
    return Stretches(*k) || (!k->Controls().empty() && HasStretchingChild(*k));
  });
}

TControl* ChildNamed(const TControl& parent, const char* name) {
  for (TControl* c : parent.Controls())
    if (SameName(c->Name, QString::fromLatin1(name))) return c;
  return nullptr;
}
}  // namespace

// A view's ear on a data link: shows a field of the current row.
class FieldLink : public TDataLink {
 public:
  explicit FieldLink(std::function<void()> changed) : changed_(std::move(changed)) {}
  ~FieldLink() override { SetSource(nullptr); }
  void SetSource(TDataSource* s) {
    if (s == source_) return;
    if (source_) source_->RemoveLink(this);
    source_ = s;
    if (source_) source_->AddLink(this);
  }
  void DataSetChanged() override { changed_(); }
  void StateChanged() override { changed_(); }
  void DataSourceDestroyed(TDataSource&) override { source_ = nullptr; }

 private:
  std::function<void()> changed_;
  TDataSource* source_ = nullptr;
};

FormView::FormView(TForm& form, QWidget* parent) : QWidget(parent), form_(&form) {
  setObjectName(Q(form.Name));
  setWindowTitle(Q(form.Caption()));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);

  for (TComponent* c : form.Components())
    if (auto* menu = dynamic_cast<TMainMenu*>(c); menu && !dynamic_cast<TPopupMenu*>(c)) {
      BuildMenuBar(*menu);
      layout->setMenuBar(menuBar_);
      break;
    }

  // Toolbars first, then the form's other controls in their order, the page
  // controls taking what room is left; busy panels float over the rest.
  std::vector<TControl*> toolbars, others;
  for (TControl* c : form.Controls()) {
    if (IsToolbarPanel(*c))
      toolbars.push_back(c);
    else
      others.push_back(c);
  }
  std::stable_partition(others.begin(), others.end(),
                        [](TControl* c) { return !Stretches(*c) && !HasStretchingChild(*c); });
  for (TControl* c : toolbars) {
    auto* strip = new QWidget(this);
    strip->setObjectName(Q(c->Name) + "_info");
    auto* row = new QHBoxLayout(strip);
    row->setContentsMargins(6, 0, 6, 0);
    layout->addWidget(BuildToolBar(*c, this, strip));
    row->addStretch(1);
    if (row->count() > 1)
      layout->addWidget(strip);
    else
      delete strip;
  }
  for (TControl* c : others) {
    if (IsOverlayPanel(*c)) {
      QWidget* w = Build(*c, this);
      w->setAutoFillBackground(true);
      overlays_.push_back(w);
      continue;
    }
    QWidget* w = Build(*c, this);
    if (!w) continue;
    layout->addWidget(w, Stretches(*c) || HasStretchingChild(*c) ? 1 : 0);
  }

  watch_.On(form, [this](std::string_view p) {
    if (!form_) return;
    if (p == "Destroying") {
      Detach();
    } else if (p == "Caption") {
      setWindowTitle(Q(form_->Caption()));
    } else if (p == "ActiveControl") {
      ApplyFocus();
    } else if (p == "Repaint") {
      update();
    }
  });
  PlaceOverlays();
}

FormView::~FormView() {
  Detach();
}

void FormView::Detach() {
  if (!form_) return;
  for (GridView* g : grids_) g->Detach();
  grids_.clear();
  links_.clear();
  watch_.Clear();
  focusTargets_.clear();
  form_ = nullptr;
  emit formGone();
}

QWidget* FormView::WidgetFor(const TControl& control) const {
  auto it = widgets_.find(&control);
  return it == widgets_.end() ? nullptr : it->second.data();
}

QWidget* FormView::WidgetNamed(const QString& name) const {
  for (auto& [c, w] : widgets_)
    if (w && SameName(c->Name, name)) return w.data();
  return nullptr;
}

GridView* FormView::GridNamed(const QString& name) const {
  return qobject_cast<GridView*>(WidgetNamed(name));
}

QAction* FormView::ActionFor(const TComponent& component) const {
  auto it = actions_.find(&component);
  return it == actions_.end() ? nullptr : it->second.data();
}

QAction* FormView::ActionNamed(const QString& name) const {
  for (auto& [c, a] : actions_)
    if (a && SameName(c->Name, name)) return a.data();
  return nullptr;
}

void FormView::Register(TControl& control, QWidget* widget) {
  widget->setObjectName(Q(control.Name));
  widgets_[&control] = widget;
  if (control.Focusable()) {
    focusTargets_.insert(widget, &control);
    widget->installEventFilter(this);
  }
}

void FormView::BindControl(TControl& control, QWidget* widget) {
  Register(control, widget);
  widget->setEnabled(control.Enabled());
  if (!control.Visible()) widget->setVisible(false);
  if (control.ShowHint() && !control.Hint().empty()) widget->setToolTip(Q(control.Hint()));
  QPointer<QWidget> w(widget);
  TControl* c = &control;
  watch_.On(control, [this, w, c](std::string_view p) {
    if (!w || !form_) return;
    if (p == "Enabled") {
      w->setEnabled(c->Enabled());
    } else if (p == "Visible") {
      w->setVisible(c->Visible());
      PlaceOverlays();
    } else if (p == "Hint" || p == "ShowHint") {
      w->setToolTip(c->ShowHint() ? Q(c->Hint()) : QString());
    } else if (p == "Repaint") {
      w->update();
      if (auto* g = qobject_cast<GridView*>(w.data())) g->viewport()->update();
    }
  });
}

QWidget* FormView::Build(TControl& control, QWidget* parent) {
  if (auto* grid = dynamic_cast<TDBGrid*>(&control)) {
    auto* view = new GridView(*grid, parent);
    grids_.push_back(view);
    BindControl(control, view);
    return view;
  }
  if (auto* pages = dynamic_cast<TPageControl*>(&control)) return BuildPageControl(*pages, parent);
  if (auto* dbedit = dynamic_cast<TDBEdit*>(&control)) {
    auto* edit = new QLineEdit(parent);
    edit->setReadOnly(true);
    QPointer<QLineEdit> e(edit);
    auto show = [e, dbedit] {
      if (!e) return;
      TField* f = dbedit->Field();
      bool rows = f && f->DataSet().Active() && !f->DataSet().IsEmpty();
      e->setText(rows ? Q(f->DisplayText()) : QString());
    };
    auto link = std::make_unique<FieldLink>(show);
    link->SetSource(dbedit->DataSource());
    FieldLink* l = link.get();
    links_.push_back(std::move(link));
    watch_.On(control, [l, dbedit, show](std::string_view p) {
      if (p == "DataSource") l->SetSource(dbedit->DataSource());
      if (p == "DataSource" || p == "DataField") show();
    });
    show();
    BindControl(control, edit);
    return edit;
  }
  if (auto* memo = dynamic_cast<TMemo*>(&control)) {
    // A text of several lines. Its keys go through the form first, as a
    // grid's do, so the form's own keys (Ctrl+Enter to confirm) work in it.
    auto* box = new QPlainTextEdit(Q(memo->Text()), parent);
    box->setReadOnly(memo->ReadOnly());
    box->setTabChangesFocus(true);
    QPointer<QPlainTextEdit> b(box);
    watch_.On(control, [b, memo](std::string_view p) {
      if (!b) return;
      if (p == "Text" && b->toPlainText() != Q(memo->Text())) b->setPlainText(Q(memo->Text()));
      if (p == "ReadOnly") b->setReadOnly(memo->ReadOnly());
    });
    connect(box, &QPlainTextEdit::textChanged, this, [this, memo, b] {
      if (!form_ || !b) return;
      QString text = b->toPlainText();
      if (text == Q(memo->Text())) return;
      // The box holds no more than the component accepts.
      const int max = memo->MaxLength();
      if (max > 0 && text.toUcs4().size() > max) {
        const QList<uint> chars = text.toUcs4().mid(0, max);
        text = QString::fromUcs4(reinterpret_cast<const char32_t*>(chars.data()), chars.size());
        const QSignalBlocker block(b.data());
        b->setPlainText(text);
        b->moveCursor(QTextCursor::End);
      }
      const std::string utf8 = text.toStdString();
      if (!RunEvent([&] { memo->SetText(utf8); })) {
        const QSignalBlocker block(b.data());
        b->setPlainText(Q(memo->Text()));
      }
    });
    memos_.insert(box);
    BindControl(control, box);
    return box;
  }
  if (auto* tedit = dynamic_cast<TEdit*>(&control)) {
    auto* edit = new QLineEdit(Q(tedit->Text()), parent);
    edit->setReadOnly(tedit->ReadOnly());
    if (dynamic_cast<TNumberEdit*>(&control)) edit->setAlignment(Qt::AlignRight);
    if (tedit->MaxLength() > 0) edit->setMaxLength(tedit->MaxLength());
    QPointer<QLineEdit> e(edit);
    watch_.On(control, [e, tedit](std::string_view p) {
      if (!e) return;
      if (p == "Text" && e->text() != Q(tedit->Text())) e->setText(Q(tedit->Text()));
      if (p == "ReadOnly") e->setReadOnly(tedit->ReadOnly());
      if (p == "MaxLength") e->setMaxLength(tedit->MaxLength() > 0 ? tedit->MaxLength() : 32767);
    });
    connect(edit, &QLineEdit::textEdited, this, [this, tedit, e](const QString& text) {
      if (!form_ || !e) return;
      if (!RunEvent([&] { tedit->SetText(text.toStdString()); })) e->setText(Q(tedit->Text()));
    });
    // Display boxes (week numbers, dates, day names, the buyer) are as wide
    // as what they show; short boxes as wide as what they may hold.
    const QFontMetrics fm(edit->font());
    auto fit = [e, tedit, fm] {
      if (!e || !tedit->ReadOnly()) return;
      const int chars = tedit->MaxLength() > 0 && tedit->MaxLength() <= 4 ? tedit->MaxLength() : 3;
      e->setFixedWidth(
          std::max(fm.horizontalAdvance(e->text()), fm.horizontalAdvance(QString(chars + 1, '0'))) +
          14);
    };
    if (control.Width() > 0) edit->setMinimumWidth(control.Width());
    fit();
    connect(edit, &QLineEdit::textChanged, this, fit);
    BindControl(control, edit);
    return edit;
  }
  if (auto* text = dynamic_cast<TDBText*>(&control)) {
    auto* label = new QLabel(parent);
    QPointer<QLabel> l(label);
    auto show = [l, text] {
      if (l) l->setText(Q(text->Text()));
    };
    auto link = std::make_unique<FieldLink>(show);
    link->SetSource(text->DataSource());
    FieldLink* fl = link.get();
    links_.push_back(std::move(link));
    watch_.On(control, [fl, text, show](std::string_view p) {
      if (p == "DataSource") fl->SetSource(text->DataSource());
      if (p == "DataSource" || p == "DataField") show();
    });
    show();
    BindControl(control, label);
    return label;
  }
  if (auto* label = dynamic_cast<TLabel*>(&control)) {
    auto* w = new QLabel(Q(label->Caption()), parent);
    QPointer<QLabel> l(w);
    watch_.On(control, [l, label](std::string_view p) {
      if (l && p == "Caption") l->setText(Q(label->Caption()));
    });
    BindControl(control, w);
    return w;
  }
  if (auto* anim = dynamic_cast<TAnimate*>(&control)) {
    auto* bar = new QProgressBar(parent);
    bar->setTextVisible(false);
    bar->setRange(0, anim->Active() ? 0 : 1);
    bar->setMaximumHeight(12);
    QPointer<QProgressBar> b(bar);
    watch_.On(control, [b, anim](std::string_view p) {
      if (b && p == "Active") b->setRange(0, anim->Active() ? 0 : 1);
    });
    BindControl(control, bar);
    return bar;
  }
  if (auto* image = dynamic_cast<TImage*>(&control)) {
    auto* w = new QLabel(parent);
    const TBitmap& b = image->Picture();
    if (b.Width > 0 && b.Height > 0) {
      QImage img(b.Width, b.Height, QImage::Format_RGB32);
      for (int y = 0; y < b.Height; ++y)
        for (int x = 0; x < b.Width; ++x)
          img.setPixelColor(x, y, ResolveColor(b.Pixel(x, y), palette()));
      w->setPixmap(QPixmap::fromImage(img));
    }
    BindControl(control, w);
    return w;
  }
  if (auto* button = dynamic_cast<TButton*>(&control)) {
    auto* w = new QToolButton(parent);
    w->setText(Q(button->Caption().empty() ? button->Hint() : button->Caption()));
    connect(w, &QToolButton::clicked, this, [this, button] {
      if (form_) RunEvent([button] { button->Click(); });
    });
    BindControl(control, w);
    return w;
  }
  if (!control.Controls().empty() || dynamic_cast<TPanel*>(&control) ||
      dynamic_cast<TGroupBox*>(&control) || dynamic_cast<TScrollBox*>(&control))
    return BuildContainer(control, parent);
  return nullptr;
}

QWidget* FormView::BuildContainer(TControl& container, QWidget* parent) {
  QWidget* w;
  if (auto* box = dynamic_cast<TGroupBox*>(&container)) {
    w = new QGroupBox(Q(box->Caption()), parent);
  } else {
    auto* frame = new QFrame(parent);
    if (dynamic_cast<TPanel*>(&container)) frame->setFrameShape(QFrame::StyledPanel);
    w = frame;
  }
  LayOutChildren(container, w);
  BindControl(container, w);
  return w;
}

void FormView::LayOutChildren(TControl& container, QWidget* w) {
  const std::string& name = container.Name;
  TControl* regiao = ChildNamed(container, "dbgRegiao");
  TControl* produto = ChildNamed(container, "dbgProduto");
  TControl* fornecedor = ChildNamed(container, "dbgFornecedor");
  TControl* filial = ChildNamed(container, "dbgCot_Filial");
  TControl* padrao = ChildNamed(container, "dbgPadrao");

  std::vector<TControl*> grids;
  for (TControl* c : container.Controls())
    if (dynamic_cast<TDBGrid*>(c)) grids.push_back(c);

  auto* column = new QVBoxLayout(w);
  column->setContentsMargins(2, 2, 2, 2);
  column->setSpacing(2);
  auto addRest = [&](bool before) {
    // Panels before the grids go above them, the others below, in order.
    bool seenGrid = false;
    for (TControl* c : container.Controls()) {
      if (dynamic_cast<TDBGrid*>(c)) {
        seenGrid = true;
        continue;
      }
      const bool above = !seenGrid && c != container.Controls().back();
      if (before != above) continue;
      if (QWidget* k = Build(*c, w)) column->addWidget(k);
    }
  };

  TControl* scbRegiao = ChildNamed(container, "scbRegiao");
  TControl* scbGeral = ChildNamed(container, "scbGeral");
  if (scbRegiao && scbGeral) {
    // The regions' box down the left, the products' and quotations' box on
    // the right; the totals panel under both.
    auto* across = new QSplitter(Qt::Horizontal, w);
    across->addWidget(Build(*scbRegiao, across));
    across->addWidget(Build(*scbGeral, across));
    across->setStretchFactor(0, 1);
    across->setStretchFactor(1, 4);
    column->addWidget(across, 1);
    for (TControl* c : container.Controls())
      if (c != scbRegiao && c != scbGeral)
        if (QWidget* k = Build(*c, w)) column->addWidget(k);
    return;
  }
  if (regiao && produto && fornecedor) {
    // Regions down the left; the negotiated products over their quotations.
    auto* across = new QSplitter(Qt::Horizontal, w);
    across->addWidget(Build(*regiao, across));
    auto* down = new QSplitter(Qt::Vertical, across);
    down->addWidget(Build(*produto, down));
    down->addWidget(Build(*fornecedor, down));
    down->setStretchFactor(0, 1);
    down->setStretchFactor(1, 2);
    across->addWidget(down);
    across->setStretchFactor(0, 1);
    across->setStretchFactor(1, 4);
    for (TControl* c : container.Controls())
      if (c != regiao && c != produto && c != fornecedor && !dynamic_cast<TDBGrid*>(c))
        if (QWidget* k = Build(*c, w)) column->addWidget(k);
    column->insertWidget(0, across, 1);
    return;
  }
  if (filial && padrao) {
    // The branch requests over the delivery lines, the region strip on top.
    for (TControl* c : container.Controls())
      if (!dynamic_cast<TDBGrid*>(c) && SameName(c->Name, "panRegiao"))
        if (QWidget* k = Build(*c, w)) column->addWidget(k);
    auto* down = new QSplitter(Qt::Vertical, w);
    down->addWidget(Build(*filial, down));
    down->addWidget(Build(*padrao, down));
    down->setStretchFactor(0, 1);
    down->setStretchFactor(1, 2);
    column->addWidget(down, 1);
    for (TControl* c : container.Controls())
      if (!dynamic_cast<TDBGrid*>(c) && !SameName(c->Name, "panRegiao"))
        if (QWidget* k = Build(*c, w)) column->addWidget(k);
    return;
  }
  if (grids.size() > 1) {
    addRest(true);
    auto* down = new QSplitter(Qt::Vertical, w);
    for (TControl* g : grids) down->addWidget(Build(*g, down));
    column->addWidget(down, 1);
    addRest(false);
    return;
  }
  if (HasStretchingChild(container)) {
    for (TControl* c : container.Controls())
      if (QWidget* k = Build(*c, w)) column->addWidget(k, Stretches(*c) ? 1 : 0);
    return;
  }
  // A strip of labels and boxes, left to right.
  delete column;
  auto* row = new QHBoxLayout(w);
  row->setContentsMargins(4, 2, 4, 2);
  row->setSpacing(4);
  QLabel* pendingBuddy = nullptr;
  for (TControl* c : container.Controls()) {
    QWidget* k = Build(*c, w);
    if (!k) continue;
    row->addWidget(k);
    // A label's accelerator takes the focus to the box after it.
    if (pendingBuddy && k->focusPolicy() != Qt::NoFocus) {
      pendingBuddy->setBuddy(k);
      pendingBuddy = nullptr;
    }
    if (auto* l = qobject_cast<QLabel*>(k); l && l->text().contains('&')) pendingBuddy = l;
  }
  row->addStretch(1);
  (void)name;
}

QToolBar* FormView::BuildToolBar(TControl& panel, QWidget* parent, QWidget* strip) {
  auto* bar = new QToolBar(parent);
  bar->setIconSize(QSize(22, 22));
  bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  Register(panel, bar);
  for (TControl* c : panel.Controls()) {
    if (auto* b = dynamic_cast<TButtonFlat*>(c)) {
      auto* action = new QAction(GlyphIcon(*b), GlyphLabel(*b), bar);
      action->setObjectName(Q(b->Name));
      action->setToolTip(Q(b->Hint()));
      action->setEnabled(b->Enabled());
      action->setVisible(b->Visible());
      action->setCheckable(b->GroupIndex() != 0);
      action->setChecked(b->Down());
      bar->addAction(action);
      actions_[b] = action;
      QPointer<QAction> a(action);
      connect(action, &QAction::triggered, this, [this, b, a] {
        if (!form_) return;
        if (b->Enabled()) RunEvent([b] { b->Click(); });
        if (a) a->setChecked(b->Down());
      });
      watch_.On(*b, [a, b](std::string_view p) {
        if (!a) return;
        if (p == "Enabled") a->setEnabled(b->Enabled());
        if (p == "Visible") a->setVisible(b->Visible());
        if (p == "Hint") a->setToolTip(Q(b->Hint()));
        if (p == "GroupIndex") a->setCheckable(b->GroupIndex() != 0);
        if (p == "Down") {
          a->setCheckable(b->GroupIndex() != 0 || b->Down());
          a->setChecked(b->Down());
        }
      });
      if (QWidget* w = bar->widgetForAction(action)) w->setObjectName(Q(b->Name));
    } else if (auto* nav = dynamic_cast<TDBNavigator*>(c)) {
      bar->addSeparator();
      auto* group = new QWidget(bar);
      auto* row = new QHBoxLayout(group);
      row->setContentsMargins(0, 0, 0, 0);
      row->setSpacing(0);
      const std::pair<const char*, TDBNavigator::Button> buttons[] = {
          {"«", TDBNavigator::Button::nbFirst},
          {"‹", TDBNavigator::Button::nbPrior},
          {"›", TDBNavigator::Button::nbNext},
          {"»", TDBNavigator::Button::nbLast}};
      for (auto [text, which] : buttons) {
        auto* tb = new QToolButton(group);
        tb->setText(QString::fromUtf8(text));
        tb->setAutoRaise(true);
        connect(tb, &QToolButton::clicked, this, [this, nav, which = which] {
          if (form_) RunEvent([nav, which] { nav->BtnClick(which); });
        });
        row->addWidget(tb);
      }
      bar->addWidget(group);
      BindControl(*nav, group);
    } else if (strip) {
      // What the panel shows besides its commands (the current product's
      // name) changes width as the data changes: on a line of its own under
      // the commands, so that they stay put.
      if (QWidget* w = Build(*c, strip)) strip->layout()->addWidget(w);
    } else if (QWidget* w = Build(*c, bar)) {
      bar->addWidget(w);
    }
  }
  return bar;
}

QWidget* FormView::BuildPageControl(TPageControl& pc, QWidget* parent) {
  auto* tabs = new QTabWidget(parent);
  BindControl(pc, tabs);
  for (TTabSheet* page : pc.Pages()) {
    QWidget* w = BuildContainer(*page, tabs);
    const int i = tabs->addTab(w, Q(page->Caption()));
    tabs->setTabEnabled(i, page->Enabled());
    tabs->setTabVisible(i, page->TabVisible());
    QPointer<QTabWidget> t(tabs);
    watch_.On(*page, [t, page, &pc](std::string_view p) {
      if (!t) return;
      const auto& pages = pc.Pages();
      const int index = int(std::find(pages.begin(), pages.end(), page) - pages.begin());
      if (p == "Caption") t->setTabText(index, Q(page->Caption()));
      if (p == "Enabled") t->setTabEnabled(index, page->Enabled());
      if (p == "TabVisible") t->setTabVisible(index, page->TabVisible());
    });
  }
  auto syncing = std::make_shared<bool>(false);
  QPointer<QTabWidget> t(tabs);
  auto showActive = [t, &pc, syncing] {
    if (!t) return;
    const int i = pc.ActivePageIndex();
    if (i >= 0 && t->currentIndex() != i) {
      *syncing = true;
      t->setCurrentIndex(i);
      *syncing = false;
    }
  };
  showActive();
  watch_.On(pc, [this, t, &pc, syncing, showActive](std::string_view p) {
    if (p == "Pages" && t) {
      // The code moved a page in the tab order: the tabs follow.
      *syncing = true;
      for (int i = 0; i < pc.PageCount(); ++i) {
        const int from = t->indexOf(WidgetFor(*pc.Pages()[size_t(i)]));
        if (from >= 0 && from != i) t->tabBar()->moveTab(from, i);
      }
      *syncing = false;
    }
    if (p == "ActivePage" || p == "Pages") showActive();
  });
  connect(tabs, &QTabWidget::currentChanged, this, [this, &pc, syncing, showActive](int i) {
    if (*syncing || !form_ || i < 0 || i >= pc.PageCount()) return;
    TTabSheet* page = pc.Pages()[size_t(i)];
    RunEvent([&] { pc.SelectPageByUser(*page); });
    showActive();
  });
  return tabs;
}

void FormView::BuildMenuBar(TMainMenu& menu) {
  menuBar_ = new QMenuBar(this);
  menuBar_->setNativeMenuBar(false);
  auto rebuild = [this, &menu] {
    if (!menuBar_) return;
    menuBar_->clear();
    FillMenu(nullptr, menu.Items());
  };
  rebuild();
  watch_.On(menu, [rebuild](std::string_view p) {
    if (p == "Items") rebuild();
  });
}

QAction* FormView::MenuAction(TMenuItem& item) {
  auto* action = new QAction(Q(item.Caption()), this);
  action->setObjectName(Q(item.Name));
  action->setEnabled(item.Enabled());
  action->setVisible(item.Visible());
  action->setCheckable(item.Checked());
  action->setChecked(item.Checked());
  if (!item.ShortCut().empty()) {
    action->setShortcut(QKeySequence::fromString(Q(item.ShortCut()), QKeySequence::PortableText));
    // The shortcut belongs to this window, not to the whole desktop.
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(action);
  }
  QPointer<QAction> a(action);
  TMenuItem* it = &item;
  connect(action, &QAction::triggered, this, [this, it, a] {
    if (!form_) return;
    if (it->Enabled()) RunEvent([it] { it->Click(); });
    if (a) {
      a->setCheckable(it->Checked());
      a->setChecked(it->Checked());
    }
  });
  watch_.On(item, [a, it](std::string_view p) {
    if (!a) return;
    if (p == "Caption") a->setText(Q(it->Caption()));
    if (p == "Enabled") a->setEnabled(it->Enabled());
    if (p == "Visible") a->setVisible(it->Visible());
    if (p == "Checked") {
      a->setCheckable(it->Checked());
      a->setChecked(it->Checked());
    }
    if (p == "ShortCut")
      a->setShortcut(QKeySequence::fromString(Q(it->ShortCut()), QKeySequence::PortableText));
  });
  actions_[&item] = action;
  return action;
}

void FormView::FillMenu(QMenu* menu, const std::vector<TMenuItem*>& items) {
  for (TMenuItem* item : items) {
    if (item->IsSeparator()) {
      if (menu) menu->addSeparator();
      continue;
    }
    if (item->Count() > 0) {
      QMenu* sub = menu ? menu->addMenu(Q(item->Caption())) : menuBar_->addMenu(Q(item->Caption()));
      sub->setObjectName(Q(item->Name));
      QPointer<QMenu> s(sub);
      TMenuItem* it = item;
      sub->setEnabled(item->Enabled());
      watch_.On(*item, [this, s, it](std::string_view p) {
        if (!s) return;
        if (p == "Caption") s->setTitle(Q(it->Caption()));
        if (p == "Enabled") s->setEnabled(it->Enabled());
        if (p == "Visible") s->menuAction()->setVisible(it->Visible());
        if (p == "Items") {
          s->clear();
          FillMenu(s, it->Items());
        }
      });
      actions_[item] = sub->menuAction();
      FillMenu(sub, item->Items());
      continue;
    }
    QAction* a = MenuAction(*item);
    if (menu)
      menu->addAction(a);
    else
      menuBar_->addAction(a);
  }
}

void FormView::ApplyFocus() {
  if (!form_ || syncingFocus_) return;
  TControl* active = form_->ActiveControl();
  if (!active) return;
  QWidget* w = WidgetFor(*active);
  if (!w || w->hasFocus()) return;
  // A page control shows the page of the control that takes the focus.
  syncingFocus_ = true;
  w->setFocus(Qt::OtherFocusReason);
  syncingFocus_ = false;
}

bool FormView::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && form_ && event != routedKey_ &&
      memos_.contains(watched)) {
    std::unique_ptr<QKeyEvent> replacement;
    switch (RouteKey(*form_, *static_cast<QKeyEvent*>(event), replacement)) {
      case KeyRoute::Consumed:
        return true;
      case KeyRoute::Replaced:
        routedKey_ = replacement.get();
        QCoreApplication::sendEvent(watched, replacement.get());
        routedKey_ = nullptr;
        return true;
      case KeyRoute::Pass:
        break;
    }
  }
  if (event->type() == QEvent::FocusIn && form_ && !syncingFocus_) {
    auto it = focusTargets_.find(watched);
    if (it != focusTargets_.end() && form_->ActiveControl() != it.value() &&
        !qobject_cast<GridView*>(watched)) {
      TControl* target = it.value();
      TForm* form = form_;
      RunEvent([form, target] { form->SetActiveControl(target); });
    }
  }
  return QWidget::eventFilter(watched, event);
}

void FormView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  PlaceOverlays();
}

void FormView::PlaceOverlays() {
  for (auto& o : overlays_) {
    if (!o) continue;
    o->adjustSize();
    const QSize s = o->sizeHint().expandedTo(QSize(320, 60));
    o->setGeometry((width() - s.width()) / 2, (height() - s.height()) / 2, s.width(), s.height());
    o->raise();
  }
}

}  // namespace apura::desktop
