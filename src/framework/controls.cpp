#include "framework/controls.h"
#include "framework/names.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "framework/format.h"
#include "framework/forms.h"

namespace apura {

namespace {

std::string Describe(const TComponent& c) {
  return c.Name.empty() ? std::string("(unnamed)") : c.Name;
}

}  // namespace

// --- TComponent -------------------------------------------------------------

TComponent::TComponent(TComponent* owner, std::string name) : Name(std::move(name)), owner_(owner) {
  if (owner_) owner_->components_.push_back(this);
}

TComponent::~TComponent() {
  BeginDestroy();
  for (TComponent* c : components_) c->owner_ = nullptr;
  if (owner_) owner_->RemoveComponent(this);
}

void TComponent::RemoveComponent(TComponent* c) {
  components_.erase(std::remove(components_.begin(), components_.end(), c), components_.end());
}

TComponent* TComponent::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_)
    if (SameName(c->Name, name)) return c;
  return nullptr;
}

int TComponent::Subscribe(ChangeHandler handler) {
  int token = nextToken_++;
  subscribers_.push_back({token, std::move(handler)});
  return token;
}

void TComponent::Unsubscribe(int token) {
  for (auto& s : subscribers_)
    if (s.token == token) s.handler = nullptr;  // erased after any notification under way
  std::erase_if(subscribers_, [](const Subscriber& s) { return !s.handler; });
}

void TComponent::Changed(std::string_view property) {
  if (subscribers_.empty()) return;
  // A handler may subscribe or unsubscribe: notify a snapshot of the tokens
  // and look each one up again before calling it.
  std::vector<int> tokens;
  tokens.reserve(subscribers_.size());
  for (const auto& s : subscribers_) tokens.push_back(s.token);
  for (int token : tokens) {
    auto it = std::find_if(subscribers_.begin(), subscribers_.end(),
                           [token](const Subscriber& s) { return s.token == token; });
    if (it == subscribers_.end() || !it->handler) continue;
    ChangeHandler h = it->handler;  // the handler may unsubscribe itself
    h(*this, property);
  }
}

void TComponent::BeginDestroy() {
  if (destroying_) return;
  destroying_ = true;
  Changed("Destroying");
  subscribers_.clear();
}

// --- TControl ---------------------------------------------------------------

TControl::TControl(TComponent* owner, std::string name, TControl* parent)
    : TComponent(owner, std::move(name)) {
  if (parent) SetParent(parent);
}

TControl::~TControl() {
  BeginDestroy();
  if (TForm* f = ParentForm(); f && f != this && f->activeControl_ == this)
    f->activeControl_ = nullptr;
  for (TControl* c : controls_) c->parent_ = nullptr;
  controls_.clear();
  if (parent_) parent_->RemoveChild(this);
}

void TControl::RemoveChild(TControl* c) {
  controls_.erase(std::remove(controls_.begin(), controls_.end(), c), controls_.end());
  Changed("Controls");
}

void TControl::SetParent(TControl* parent) {
  if (parent == parent_) return;
  for (TControl* p = parent; p; p = p->parent_)
    if (p == this)
      throw std::invalid_argument("Control " + Describe(*this) + " cannot be placed inside itself");
  if (parent_) parent_->RemoveChild(this);
  parent_ = parent;
  if (parent_) {
    parent_->controls_.push_back(this);
    parent_->Changed("Controls");
  }
  Changed("Parent");
}

TForm* TControl::ParentForm() const {
  for (const TControl* p = this; p; p = p->parent_)
    if (auto* f = dynamic_cast<const TForm*>(p)) return const_cast<TForm*>(f);
  for (TComponent* o = Owner(); o; o = o->Owner())
    if (auto* f = dynamic_cast<TForm*>(o)) return f;
  return nullptr;
}

void TControl::SetBounds(int left, int top, int width, int height) {
  if (left == left_ && top == top_ && width == width_ && height == height_) return;
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  Changed("Bounds");
}

bool TControl::CanFocus() const {
  if (!Focusable()) return false;
  for (const TControl* c = this; c; c = c->parent_) {
    if (dynamic_cast<const TForm*>(c)) break;  // the form's own window state is the host's
    if (!c->visible_ || !c->enabled_) return false;
    if (auto* page = dynamic_cast<const TTabSheet*>(c)) {
      if (!page->PageControl() || page->PageControl()->ActivePage() != page) return false;
    }
  }
  return true;
}

void TControl::SetFocus() {
  if (!CanFocus())
    throw std::runtime_error("Cannot focus " + Describe(*this) +
                             ": it is disabled, invisible or not on the active page");
  TForm* form = ParentForm();
  if (!form) throw std::runtime_error("Cannot focus " + Describe(*this) + ": it is on no form");
  form->SetActiveControl(this);
}

bool TControl::Focused() const {
  TForm* form = ParentForm();
  return form && form->ActiveControl() == this;
}

void TControl::Click() {
  if (OnClick) OnClick(*this);
}

void TControl::DblClick() {
  if (OnDblClick) OnDblClick(*this);
}

// --- Buttons ----------------------------------------------------------------

void TButton::Click() {
  if (ModalResult != 0)
    if (TForm* f = ParentForm()) f->SetModalResult(ModalResult);
  TControl::Click();
}

TButtonFlat::TButtonFlat(TComponent* owner, std::string name, TControl* parent)
    : TButton(owner, std::move(name), parent) {
  SetBounds(0, 0, 21, 21);
}

void TButtonFlat::SetDown(bool v) {
  if (v == down_) return;
  down_ = v;
  if (v && groupIndex_ != 0 && Parent()) {
    for (TControl* c : Parent()->Controls()) {
      auto* other = dynamic_cast<TButtonFlat*>(c);
      if (other && other != this && other->groupIndex_ == groupIndex_ && other->down_) {
        other->down_ = false;
        other->Changed("Down");
      }
    }
  }
  Changed("Down");
}

void TButtonFlat::Click() {
  if (groupIndex_ != 0) {
    if (!down_)
      SetDown(true);
    else if (allowAllUp_)
      SetDown(false);
  }
  TButton::Click();
}

// --- Menus ------------------------------------------------------------------

TMenuItem::TMenuItem(TComponent* owner, std::string name, std::string caption, std::string shortCut)
    : TComponent(owner, std::move(name)),
      caption_(std::move(caption)),
      shortCut_(std::move(shortCut)) {}

TMenuItem::~TMenuItem() {
  BeginDestroy();
  for (TMenuItem* c : items_) c->parent_ = nullptr;
  if (parent_) parent_->Remove(*this);
  if (menu_) menu_->Remove(*this);
}

void TMenuItem::Add(TMenuItem& child) {
  Insert(Count(), child);
}

void TMenuItem::Insert(int index, TMenuItem& child) {
  for (TMenuItem* p = this; p; p = p->parent_)
    if (p == &child)
      throw std::invalid_argument("Menu item " + Describe(child) + " cannot hold itself");
  if (child.parent_) child.parent_->Remove(child);
  index = std::clamp(index, 0, Count());
  items_.insert(items_.begin() + index, &child);
  child.parent_ = this;
  Changed("Items");
}

void TMenuItem::Remove(TMenuItem& child) {
  auto it = std::find(items_.begin(), items_.end(), &child);
  if (it == items_.end()) return;
  items_.erase(it);
  child.parent_ = nullptr;
  Changed("Items");
}

void TMenuItem::Click() {
  if (OnClick) OnClick(*this);
}

TMainMenu::~TMainMenu() {
  BeginDestroy();
  for (TMenuItem* m : root_) m->menu_ = nullptr;
}

void TMainMenu::Insert(int index, TMenuItem& item) {
  if (item.menu_) item.menu_->Remove(item);
  index = std::clamp(index, 0, static_cast<int>(root_.size()));
  root_.insert(root_.begin() + index, &item);
  item.menu_ = this;
  Changed("Items");
}

void TMainMenu::Remove(TMenuItem& item) {
  auto it = std::find(root_.begin(), root_.end(), &item);
  if (it == root_.end()) return;
  root_.erase(it);
  item.menu_ = nullptr;
  Changed("Items");
}

// --- Pages ------------------------------------------------------------------

TPageControl::~TPageControl() {
  BeginDestroy();
  for (TTabSheet* p : pages_) p->pageControl_ = nullptr;
}

void TPageControl::AddPage(TTabSheet* p) {
  pages_.push_back(p);
  if (!active_) active_ = p;
  Changed("Pages");
}

void TPageControl::RemovePage(TTabSheet* p) {
  pages_.erase(std::remove(pages_.begin(), pages_.end(), p), pages_.end());
  if (active_ == p) active_ = pages_.empty() ? nullptr : pages_.front();
  Changed("Pages");
}

void TPageControl::SetActivePage(TTabSheet* page) {
  if (page && page->pageControl_ != this)
    throw std::invalid_argument("Page " + Describe(*page) + " does not belong to " +
                                Describe(*this));
  if (page == active_) return;
  active_ = page;
  Changed("ActivePage");
}

int TPageControl::ActivePageIndex() const {
  auto it = std::find(pages_.begin(), pages_.end(), active_);
  return it == pages_.end() ? -1 : static_cast<int>(it - pages_.begin());
}

void TPageControl::SetActivePageIndex(int index) {
  if (index < 0 || index >= PageCount())
    throw std::out_of_range("Page index " + std::to_string(index) + " out of range for " +
                            Describe(*this));
  SetActivePage(pages_[index]);
}

void TPageControl::SelectPageByUser(TTabSheet& page) {
  if (page.pageControl_ != this || &page == active_) return;
  if (!page.TabVisible() || !page.Enabled() || !Enabled()) return;
  // Clicking a tab puts the focus on the tab control first, as the platform does.
  if (CanFocus())
    if (TForm* form = ParentForm()) form->SetActiveControl(this);
  bool allow = true;
  if (OnChanging) OnChanging(*this, allow);
  if (!allow) return;
  SetActivePage(&page);
  if (OnChange) OnChange(*this);
}

TTabSheet::TTabSheet(TComponent* owner, std::string name, TPageControl& pageControl,
                     std::string caption)
    : TControl(owner, std::move(name), &pageControl), pageControl_(&pageControl) {
  SetCaption(std::move(caption));
  pageControl_->AddPage(this);
}

TTabSheet::~TTabSheet() {
  BeginDestroy();
  if (pageControl_) pageControl_->RemovePage(this);
}

int TTabSheet::PageIndex() const {
  if (!pageControl_) return -1;
  const auto& pages = pageControl_->Pages();
  auto it = std::find(pages.begin(), pages.end(), this);
  return it == pages.end() ? -1 : static_cast<int>(it - pages.begin());
}

void TTabSheet::SetPageIndex(int index) {
  if (!pageControl_) return;
  auto& pages = pageControl_->pages_;
  if (index < 0 || index >= static_cast<int>(pages.size()))
    throw std::out_of_range("Page index " + std::to_string(index) + " out of range for " +
                            Describe(*pageControl_));
  pages.erase(std::find(pages.begin(), pages.end(), this));
  pages.insert(pages.begin() + index, this);
  pageControl_->Changed("Pages");
}

// --- Images, edits ----------------------------------------------------------

TImage::TImage(TComponent* owner, std::string name, TControl* parent)
    : TControl(owner, std::move(name), parent) {
  picture_.Name = Name;
}

void TImage::SetPicture(TBitmap b) {
  if (b.Pixels.size() != size_t(std::max(b.Width, 0)) * size_t(std::max(b.Height, 0)))
    throw std::invalid_argument("Picture of " + Describe(*this) + " has " +
                                std::to_string(b.Pixels.size()) + " pixels for " +
                                std::to_string(b.Width) + "x" + std::to_string(b.Height));
  if (b.Name.empty()) b.Name = Name;
  picture_ = std::move(b);
  Changed("Picture");
}

TEdit::TEdit(TComponent* owner, std::string name, TControl* parent)
    : TControl(owner, std::move(name), parent) {
  SetColor(clWindow);
}

namespace {
size_t CharCount(std::string_view s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}
}  // namespace

void TEdit::SetText(std::string v) {
  if (v == text_) return;
  if (maxLength_ > 0 && CharCount(v) > size_t(maxLength_))
    throw std::invalid_argument("Text of " + Describe(*this) + " longer than " +
                                std::to_string(maxLength_) + " characters");
  text_ = std::move(v);
  Changed("Text");
  if (OnChange) OnChange(*this);
}

void TNumberEdit::SetNumber(double v) {
  number_ = v;
  Changed("Number");
  SetText(FormatFloat(displayFormat_, v));
}

void TNumberEdit::SetDisplayFormat(std::string f) {
  if (f == displayFormat_) return;
  displayFormat_ = std::move(f);
  Changed("DisplayFormat");
  SetText(FormatFloat(displayFormat_, number_));
}

TField* TDBEdit::Field() const {
  if (!dataSource_ || !dataSource_->DataSet() || dataField_.empty()) return nullptr;
  return dataSource_->DataSet()->FindField(dataField_);
}

TField* TDBText::Field() const {
  if (!dataSource_ || !dataSource_->DataSet() || dataField_.empty()) return nullptr;
  return dataSource_->DataSet()->FindField(dataField_);
}

std::string TDBText::Text() const {
  TField* f = Field();
  if (!f || !f->DataSet().Active() || f->DataSet().IsEmpty()) return {};
  return f->DisplayText();
}

void TDBNavigator::BtnClick(Button b) {
  if (!Enabled() || !dataSource_) return;
  TClientDataSet* ds = dataSource_->DataSet();
  if (!ds || !ds->Active()) return;
  switch (b) {
    case Button::nbFirst:
      ds->First();
      break;
    case Button::nbPrior:
      ds->Prior();
      break;
    case Button::nbNext:
      ds->Next();
      break;
    case Button::nbLast:
      ds->Last();
      break;
  }
}

// --- Grid -------------------------------------------------------------------

TColumn::TColumn(TDBGrid& grid, std::string fieldName)
    : grid_(&grid), fieldName_(std::move(fieldName)) {}

int TColumn::Index() const {
  const auto& items = grid_->Columns.items_;
  for (size_t i = 0; i < items.size(); ++i)
    if (items[i].get() == this) return static_cast<int>(i);
  return -1;
}

void TColumn::Notify(std::string_view property) {
  (void)property;
  grid_->ColumnChanged("Columns");
}

void TColumn::SetFieldName(std::string f) {
  if (f == fieldName_) return;
  fieldName_ = std::move(f);
  Notify("FieldName");
}

TField* TColumn::Field() const {
  TClientDataSet* ds = grid_->DataSet();
  if (!ds || fieldName_.empty()) return nullptr;
  return ds->FindField(fieldName_);
}

std::string TColumn::TitleText() const {
  if (!title_.Caption.empty()) return title_.Caption;
  if (TField* f = Field()) return f->DisplayLabel();
  return fieldName_;
}

void TColumn::SetTitleCaption(std::string c) {
  if (c == title_.Caption) return;
  title_.Caption = std::move(c);
  Notify("Title");
}

void TColumn::SetTitleAlignment(TAlignment a) {
  if (a == title_.Alignment) return;
  title_.Alignment = a;
  Notify("Title");
}

void TColumn::SetTitleFontName(std::string f) {
  if (f == title_.FontName) return;
  title_.FontName = std::move(f);
  Notify("Title");
}

void TColumn::SetWidth(int w) {
  if (w == width_) return;
  width_ = w;
  Notify("Width");
}

void TColumn::SetReadOnly(bool r) {
  if (r == readOnly_) return;
  readOnly_ = r;
  Notify("ReadOnly");
}

void TColumn::SetVisible(bool v) {
  if (v == visible_) return;
  visible_ = v;
  Notify("Visible");
}

TAlignment TColumn::Alignment() const {
  if (alignmentSet_) return alignment_;
  if (TField* f = Field()) return f->Alignment();
  return TAlignment::taLeftJustify;
}

void TColumn::SetAlignment(TAlignment a) {
  if (alignmentSet_ && a == alignment_) return;
  alignment_ = a;
  alignmentSet_ = true;
  Notify("Alignment");
}

void TColumn::SetButtonStyle(TColumnButtonStyle s) {
  if (s == buttonStyle_) return;
  buttonStyle_ = s;
  Notify("ButtonStyle");
}

void TColumn::SetColor(TColor c) {
  if (c == color_) return;
  color_ = c;
  Notify("Color");
}

TColumn& TDBGridColumns::Add(std::string fieldName) {
  items_.push_back(std::make_unique<TColumn>(*grid_, std::move(fieldName)));
  if (grid_->selectedIndex_ < 0) grid_->selectedIndex_ = 0;
  grid_->ColumnChanged("Columns");
  return *items_.back();
}

TColumn& TDBGridColumns::operator[](int index) const {
  if (index < 0 || index >= Count())
    throw std::out_of_range("Grid " + Describe(*grid_) + " has no column " + std::to_string(index) +
                            " (it has " + std::to_string(Count()) + ")");
  return *items_[size_t(index)];
}

void TDBGridColumns::Clear() {
  items_.clear();
  grid_->selectedIndex_ = -1;
  grid_->ColumnChanged("Columns");
}

TDBGrid::TDBGrid(TComponent* owner, std::string name, TControl* parent)
    : TControl(owner, std::move(name), parent) {
  SetColor(clWindow);
}

TClientDataSet* TDBGrid::DataSet() const {
  return dataSource_ ? dataSource_->DataSet() : nullptr;
}

TColumn* TDBGrid::FindColumn(std::string_view fieldName) const {
  for (const auto& c : Columns)
    if (SameName(c->FieldName(), fieldName)) return c.get();
  return nullptr;
}

void TDBGrid::SetSelectedIndex(int index) {
  if (index < 0 || index >= Columns.Count())
    throw std::out_of_range("Grid " + Describe(*this) + " has no column " + std::to_string(index));
  if (index == selectedIndex_) return;
  if (OnColExit) OnColExit(*this);
  selectedIndex_ = index;
  Changed("SelectedIndex");
  if (OnColEnter) OnColEnter(*this);
}

TField* TDBGrid::SelectedField() const {
  if (selectedIndex_ < 0 || selectedIndex_ >= Columns.Count()) return nullptr;
  return Columns[selectedIndex_].Field();
}

void TDBGrid::SetSelectedField(std::string_view fieldName) {
  TColumn* c = FindColumn(fieldName);
  if (!c)
    throw std::invalid_argument("Grid " + Describe(*this) + " has no column for field '" +
                                std::string(fieldName) + "'");
  SetSelectedIndex(c->Index());
}

void TDBGrid::DefaultDrawColumnCell(const TRect& rect, int dataCol, TColumn& column,
                                    TGridDrawState state) {
  (void)dataCol;
  (void)state;
  if (!canvas_) return;
  TCanvas& cv = *canvas_;
  std::string text;
  if (TField* f = column.Field()) {
    const TClientDataSet& ds = f->DataSet();
    if (ds.Active() && !ds.IsEmpty()) text = f->DisplayText();
  }
  int x = rect.Left + 2;
  switch (column.Alignment()) {
    case TAlignment::taLeftJustify:
      break;
    case TAlignment::taRightJustify:
      x = rect.Right - cv.TextWidth(text) - 2;
      break;
    case TAlignment::taCenter:
      x = rect.Left + (rect.Width() - cv.TextWidth(text)) / 2;
      break;
  }
  cv.TextRect(rect, x, rect.Top + 2, text);
}

void TDBGrid::DrawCell(TCanvas& canvas, const TRect& rect, int dataCol, TGridDrawState state) {
  TColumn& column = Columns[dataCol];
  struct Reset {
    TCanvas*& slot;
    ~Reset() { slot = nullptr; }
  } reset{canvas_};
  canvas_ = &canvas;
  bool selected = (state & gdSelected) != 0;
  canvas.Font = Font();
  if (selected) {
    canvas.Brush.Color = clHighlight;
    canvas.Font.Color = clHighlightText;
  } else {
    canvas.Brush.Color = column.Color() == clWindow ? Color() : column.Color();
  }
  if (defaultDrawing_) DefaultDrawColumnCell(rect, dataCol, column, state);
  if (OnDrawColumnCell) OnDrawColumnCell(*this, rect, dataCol, column, state);
}

void TDBGrid::EditButtonClick() {
  if (OnEditButtonClick) OnEditButtonClick(*this);
}

int IndiceCol(const TDBGrid& grid, std::string_view fieldName) {
  TColumn* c = grid.FindColumn(fieldName);
  if (!c)
    throw std::invalid_argument("Grid " + Describe(grid) + " has no column for field '" +
                                std::string(fieldName) + "'");
  return c->Index();
}

}  // namespace apura
