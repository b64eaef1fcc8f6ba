#pragma once
// The retained control model: the components a form's code reads and writes.
// Views (the desktop's widgets, tests) subscribe to a component and follow its
// changes; they never hold state of their own that the code relies on.
//
// Conventions:
// - `Name` and `Tag` are plain members, as on the tables; they are never shown.
// - Every shown property has a getter and a setter; a setter that changes the
//   value announces the property's name through Changed() to the subscribers.
// - Events are std::function members named as the platform names them
//   (OnClick, OnChange, ...); handlers take the sender first.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/canvas.h"
#include "framework/dataset/dataset.h"

namespace apura {

class TComponent;
class TControl;
class TForm;
class TColumn;
class TDBGrid;
class TPageControl;
class TTabSheet;
class TMenuItem;
class TMainMenu;
class TPopupMenu;

// Modifier keys held.
enum TShiftStateFlag : uint32_t { ssShift = 1, ssAlt = 2, ssCtrl = 4 };
using TShiftState = uint32_t;

// Virtual key codes.
constexpr int VK_BACK = 8;
constexpr int VK_TAB = 9;
constexpr int VK_RETURN = 13;
constexpr int VK_ESCAPE = 27;
constexpr int VK_SPACE = 32;
constexpr int VK_PRIOR = 33;  // Page Up
constexpr int VK_NEXT = 34;   // Page Down
constexpr int VK_END = 35;
constexpr int VK_HOME = 36;
constexpr int VK_LEFT = 37;
constexpr int VK_UP = 38;
constexpr int VK_RIGHT = 39;
constexpr int VK_DOWN = 40;
constexpr int VK_INSERT = 45;
constexpr int VK_DELETE = 46;
constexpr int VK_DECIMAL = 110;  // numeric keypad's decimal key
constexpr int VK_F1 = 112;
constexpr int VK_F2 = 113;
constexpr int VK_F12 = 123;
constexpr int VK_OEM_COMMA = 188;
constexpr int VK_OEM_MINUS = 189;
constexpr int VK_OEM_PERIOD = 190;  // main keyboard's period key

using TNotifyEvent = std::function<void(TComponent& Sender)>;
// A handler consumes a key by setting it to 0.
using TKeyEvent = std::function<void(TComponent& Sender, int& Key, TShiftState Shift)>;
// A handler consumes a character by setting it to 0, or replaces it.
using TKeyPressEvent = std::function<void(TComponent& Sender, char32_t& Key)>;

// ---------------------------------------------------------------------------
class TComponent {
 public:
  // (component, property name). "Destroying" is announced once before the
  // component goes away; a view drops its binding then.
  using ChangeHandler = std::function<void(TComponent&, std::string_view property)>;

  explicit TComponent(TComponent* owner = nullptr, std::string name = {});
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  std::string Name;
  int Tag = 0;

  TComponent* Owner() const { return owner_; }
  const std::vector<TComponent*>& Components() const { return components_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  // Owned component by name, letter case ignored; null when absent.
  TComponent* FindComponent(std::string_view name) const;
  template <class T>
  T* FindComponentAs(std::string_view name) const {
    return dynamic_cast<T*>(FindComponent(name));
  }

  // Returns a token for Unsubscribe. Handlers may subscribe or unsubscribe
  // while being notified.
  int Subscribe(ChangeHandler handler);
  void Unsubscribe(int token);

  // The form is being released: handlers that recompute the screen do nothing.
  bool Destroying() const { return destroying_; }

 protected:
  void Changed(std::string_view property);
  // Sets `member` and announces `property` when the value differs.
  template <class T, class U>
  void SetProperty(T& member, U&& value, std::string_view property) {
    if (member == value) return;
    member = std::forward<U>(value);
    Changed(property);
  }
  // Announces "Destroying" and marks the component; called once by the owner
  // (form release) or by the destructor.
  void BeginDestroy();

 private:
  void RemoveComponent(TComponent* c);
  TComponent* owner_;
  std::vector<TComponent*> components_;
  struct Subscriber {
    int token;
    ChangeHandler handler;
  };
  std::vector<Subscriber> subscribers_;
  int nextToken_ = 1;
  bool destroying_ = false;
};

// ---------------------------------------------------------------------------
// A visual component: placed on a parent, shown or hidden, enabled or not.
class TControl : public TComponent {
 public:
  TControl(TComponent* owner, std::string name, TControl* parent = nullptr);
  ~TControl() override;

  TControl* Parent() const { return parent_; }
  void SetParent(TControl* parent);
  const std::vector<TControl*>& Controls() const { return controls_; }
  // The form this control sits on (through parents, then owners); null when none.
  TForm* ParentForm() const;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v) { SetProperty(enabled_, v, "Enabled"); }
  bool Visible() const { return visible_; }
  void SetVisible(bool v) { SetProperty(visible_, v, "Visible"); }
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string v) { SetProperty(caption_, std::move(v), "Caption"); }
  const std::string& Hint() const { return hint_; }
  void SetHint(std::string v) { SetProperty(hint_, std::move(v), "Hint"); }
  bool ShowHint() const { return showHint_; }
  void SetShowHint(bool v) { SetProperty(showHint_, v, "ShowHint"); }
  TColor Color() const { return color_; }
  void SetColor(TColor v) { SetProperty(color_, v, "Color"); }
  TFont& Font() { return font_; }
  const TFont& Font() const { return font_; }

  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetBounds(int left, int top, int width, int height);
  void SetWidth(int w) { SetBounds(left_, top_, w, height_); }
  void SetHeight(int h) { SetBounds(left_, top_, width_, h); }

  TPopupMenu* PopupMenu() const { return popupMenu_; }
  void SetPopupMenu(TPopupMenu* m) { SetProperty(popupMenu_, m, "PopupMenu"); }

  // Whether this kind of control can hold the focus at all.
  virtual bool Focusable() const { return false; }
  // Focusable, and it and every parent up to the form visible and enabled, and
  // every tab sheet on the way the active page of its page control.
  bool CanFocus() const;
  // Makes this the form's active control; an error naming the control when it
  // cannot take the focus. Views report the user's focus moves the same way.
  void SetFocus();
  bool Focused() const;

  // Asks the views to paint again now.
  void Repaint() { Changed("Repaint"); }
  void Invalidate() { Changed("Repaint"); }

  TNotifyEvent OnEnter, OnExit, OnClick, OnDblClick;
  TKeyEvent OnKeyDown, OnKeyUp;
  TKeyPressEvent OnKeyPress;

  // Entry points for views and tests: the user clicked, typed on this control.
  // Key events go through the form's key preview first (TForm::KeyDown).
  virtual void Click();
  void DblClick();

 private:
  friend class TForm;
  void RemoveChild(TControl* c);
  TControl* parent_ = nullptr;
  std::vector<TControl*> controls_;
  bool enabled_ = true, visible_ = true, showHint_ = false;
  std::string caption_, hint_;
  TColor color_ = clBtnFace;
  TFont font_;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  TPopupMenu* popupMenu_ = nullptr;
};

// ---------------------------------------------------------------------------
// Push button; the user's click runs OnClick.
class TButton : public TControl {
 public:
  using TControl::TControl;
  bool Focusable() const override { return true; }
  int ModalResult = 0;  // set on the form when clicked inside a modal form
  void Click() override;
};

// Flat toolbar button. With a group index it stays down until pressed again
// (AllowAllUp) or until another button of its group goes down.
class TButtonFlat : public TButton {
 public:
  TButtonFlat(TComponent* owner, std::string name, TControl* parent = nullptr);
  bool Focusable() const override { return false; }

  bool Down() const { return down_; }
  // The pressed look; releases the other buttons of the group when going down.
  void SetDown(bool v);
  int GroupIndex() const { return groupIndex_; }
  void SetGroupIndex(int g) { SetProperty(groupIndex_, g, "GroupIndex"); }
  bool AllowAllUp() const { return allowAllUp_; }
  void SetAllowAllUp(bool v) { SetProperty(allowAllUp_, v, "AllowAllUp"); }
  bool Flat() const { return flat_; }
  void SetFlat(bool v) { SetProperty(flat_, v, "Flat"); }
  // Name of the glyph resource; the view resolves it.
  const std::string& Glyph() const { return glyph_; }
  void SetGlyph(std::string g) { SetProperty(glyph_, std::move(g), "Glyph"); }
  int NumGlyphs() const { return numGlyphs_; }
  void SetNumGlyphs(int n) { SetProperty(numGlyphs_, n, "NumGlyphs"); }

  // A grouped button toggles (or goes down) before OnClick runs.
  void Click() override;

 private:
  bool down_ = false, allowAllUp_ = false, flat_ = true;
  int groupIndex_ = 0, numGlyphs_ = 1;
  std::string glyph_;
};

// ---------------------------------------------------------------------------
class TMenuItem : public TComponent {
 public:
  TMenuItem(TComponent* owner, std::string name, std::string caption = {},
            std::string shortCut = {});
  ~TMenuItem() override;

  const std::string& Caption() const { return caption_; }  // "-" is a separator
  void SetCaption(std::string v) { SetProperty(caption_, std::move(v), "Caption"); }
  bool IsSeparator() const { return caption_ == "-"; }
  // Text form, e.g. "Ctrl+S"; empty for none.
  const std::string& ShortCut() const { return shortCut_; }
  void SetShortCut(std::string v) { SetProperty(shortCut_, std::move(v), "ShortCut"); }
  bool Checked() const { return checked_; }
  void SetChecked(bool v) { SetProperty(checked_, v, "Checked"); }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v) { SetProperty(enabled_, v, "Enabled"); }
  bool Visible() const { return visible_; }
  void SetVisible(bool v) { SetProperty(visible_, v, "Visible"); }
  const std::string& Hint() const { return hint_; }
  void SetHint(std::string v) { SetProperty(hint_, std::move(v), "Hint"); }

  // Sub-items, in order. The items are not owned by their parent item.
  void Add(TMenuItem& child);
  void Insert(int index, TMenuItem& child);  // index clamped to [0, Count]
  void Remove(TMenuItem& child);
  const std::vector<TMenuItem*>& Items() const { return items_; }
  int Count() const { return static_cast<int>(items_.size()); }
  TMenuItem* Parent() const { return parent_; }

  TNotifyEvent OnClick;
  // The user chose the item (or pressed its shortcut): runs OnClick.
  void Click();

 private:
  friend class TMainMenu;
  std::string caption_, shortCut_, hint_;
  bool checked_ = false, enabled_ = true, visible_ = true;
  std::vector<TMenuItem*> items_;
  TMenuItem* parent_ = nullptr;
  TMainMenu* menu_ = nullptr;  // the menu holding it as a top-level item
};

// The menu bar and the pop-up menus: a root holding top-level items.
class TMainMenu : public TComponent {
 public:
  using TComponent::TComponent;
  ~TMainMenu() override;
  void Add(TMenuItem& item) { Insert(static_cast<int>(root_.size()), item); }
  void Insert(int index, TMenuItem& item);
  void Remove(TMenuItem& item);
  const std::vector<TMenuItem*>& Items() const { return root_; }

 private:
  std::vector<TMenuItem*> root_;
};

class TPopupMenu : public TMainMenu {
 public:
  using TMainMenu::TMainMenu;
};

// ---------------------------------------------------------------------------
class TPageControl : public TControl {
 public:
  using TControl::TControl;
  ~TPageControl() override;
  bool Focusable() const override { return true; }

  const std::vector<TTabSheet*>& Pages() const { return pages_; }
  int PageCount() const { return static_cast<int>(pages_.size()); }
  TTabSheet* ActivePage() const { return active_; }
  // The code's own change of page: OnChanging and OnChange do not run.
  void SetActivePage(TTabSheet* page);
  int ActivePageIndex() const;
  void SetActivePageIndex(int index);

  // The user clicked a tab: the tab control takes the focus, OnChanging may
  // refuse; then the page changes and OnChange runs. A page whose tab is hidden or that is disabled
  // cannot be chosen this way.
  void SelectPageByUser(TTabSheet& page);

  TNotifyEvent OnChange;
  std::function<void(TComponent& Sender, bool& AllowChange)> OnChanging;

 private:
  friend class TTabSheet;
  void AddPage(TTabSheet* p);
  void RemovePage(TTabSheet* p);
  std::vector<TTabSheet*> pages_;
  TTabSheet* active_ = nullptr;
};

class TTabSheet : public TControl {
 public:
  // The first page added becomes the active page.
  TTabSheet(TComponent* owner, std::string name, TPageControl& pageControl,
            std::string caption = {});
  ~TTabSheet() override;
  bool Focusable() const override { return true; }

  TPageControl* PageControl() const { return pageControl_; }
  int PageIndex() const;
  // Moves the page to `index` among its control's pages (tab order), as a
  // descendant form does with pages its base form created first.
  void SetPageIndex(int index);
  // Whether the tab header is shown; the page's content stays reachable.
  bool TabVisible() const { return tabVisible_; }
  void SetTabVisible(bool v) { SetProperty(tabVisible_, v, "TabVisible"); }

 private:
  friend class TPageControl;
  TPageControl* pageControl_;
  bool tabVisible_ = true;
};

// ---------------------------------------------------------------------------
class TPanel : public TControl {
 public:
  using TControl::TControl;
  bool Focusable() const override { return true; }
};

class TGroupBox : public TControl {
 public:
  using TControl::TControl;
  bool Focusable() const override { return true; }
};

// A scrolling container for controls too large for their place; here only a
// parent the code can enable and disable as one.
class TScrollBox : public TControl {
 public:
  using TControl::TControl;
};

class TLabel : public TControl {
 public:
  using TControl::TControl;
};

class TImage : public TControl {
 public:
  TImage(TComponent* owner, std::string name, TControl* parent = nullptr);
  const TBitmap& Picture() const { return picture_; }
  void SetPicture(TBitmap b);
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool v) { SetProperty(transparent_, v, "Transparent"); }

 private:
  TBitmap picture_;
  bool transparent_ = false;
};

// Busy animation shown on a panel while a long operation runs.
class TAnimate : public TControl {
 public:
  using TControl::TControl;
  bool Active() const { return active_; }
  void SetActive(bool v) { SetProperty(active_, v, "Active"); }

 private:
  bool active_ = false;
};

// ---------------------------------------------------------------------------
class TEdit : public TControl {
 public:
  TEdit(TComponent* owner, std::string name, TControl* parent = nullptr);
  bool Focusable() const override { return true; }

  const std::string& Text() const { return text_; }
  // Runs OnChange when the text differs (also when the code sets it).
  void SetText(std::string v);
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool v) { SetProperty(readOnly_, v, "ReadOnly"); }
  // In characters; 0 is no limit. Text beyond it is refused with an error.
  int MaxLength() const { return maxLength_; }
  void SetMaxLength(int n) { SetProperty(maxLength_, n, "MaxLength"); }

  TNotifyEvent OnChange;

 private:
  std::string text_;
  bool readOnly_ = false;
  int maxLength_ = 0;
};

// A number box: shows the number through its display picture.
class TNumberEdit : public TEdit {
 public:
  using TEdit::TEdit;
  double Number() const { return number_; }
  void SetNumber(double v);
  const std::string& DisplayFormat() const { return displayFormat_; }
  void SetDisplayFormat(std::string f);

 private:
  double number_ = 0;
  std::string displayFormat_ = "#,##0.00";
};

class TMemo : public TEdit {
 public:
  using TEdit::TEdit;
};

// Edit box bound to a field of a data link's table.
class TDBEdit : public TEdit {
 public:
  using TEdit::TEdit;
  TDataSource* DataSource() const { return dataSource_; }
  void SetDataSource(TDataSource* s) { SetProperty(dataSource_, s, "DataSource"); }
  const std::string& DataField() const { return dataField_; }
  void SetDataField(std::string f) { SetProperty(dataField_, std::move(f), "DataField"); }
  // The bound field of the table behind the data link; null when unbound.
  TField* Field() const;

 private:
  TDataSource* dataSource_ = nullptr;
  std::string dataField_;
};

// Read-only caption showing a field of the current row.
class TDBText : public TControl {
 public:
  using TControl::TControl;
  TDataSource* DataSource() const { return dataSource_; }
  void SetDataSource(TDataSource* s) { SetProperty(dataSource_, s, "DataSource"); }
  const std::string& DataField() const { return dataField_; }
  void SetDataField(std::string f) { SetProperty(dataField_, std::move(f), "DataField"); }
  TField* Field() const;
  // The field's display text on the current row; empty when unbound or empty.
  std::string Text() const;

 private:
  TDataSource* dataSource_ = nullptr;
  std::string dataField_;
};

// Record navigator strip.
class TDBNavigator : public TControl {
 public:
  enum class Button { nbFirst, nbPrior, nbNext, nbLast };
  using TControl::TControl;
  TDataSource* DataSource() const { return dataSource_; }
  void SetDataSource(TDataSource* s) { SetProperty(dataSource_, s, "DataSource"); }
  // The user pressed a button: moves the table's cursor; nothing when
  // disabled, unbound or the table is closed.
  void BtnClick(Button b);

 private:
  TDataSource* dataSource_ = nullptr;
};

// ---------------------------------------------------------------------------
// Data grid.

enum TDBGridOption : uint32_t {
  dgEditing = 1u << 0,
  dgAlwaysShowEditor = 1u << 1,
  dgTitles = 1u << 2,
  dgIndicator = 1u << 3,
  dgColumnResize = 1u << 4,
  dgColLines = 1u << 5,
  dgRowLines = 1u << 6,
  dgTabs = 1u << 7,
  dgRowSelect = 1u << 8,
  dgAlwaysShowSelection = 1u << 9,
  dgConfirmDelete = 1u << 10,
  dgCancelOnExit = 1u << 11,
  dgMultiSelect = 1u << 12,
};
using TDBGridOptions = uint32_t;
constexpr TDBGridOptions dgDefaultOptions = dgEditing | dgTitles | dgIndicator | dgColumnResize |
                                            dgColLines | dgRowLines | dgTabs | dgConfirmDelete |
                                            dgCancelOnExit;

enum TGridDrawStateFlag : uint32_t { gdSelected = 1, gdFocused = 2, gdFixed = 4 };
using TGridDrawState = uint32_t;

enum class TColumnButtonStyle { cbsAuto, cbsEllipsis, cbsNone };

struct TColumnTitle {
  std::string Caption;  // empty: the field's display label
  TAlignment Alignment = TAlignment::taLeftJustify;
  std::string FontName;  // empty: the grid's font (a symbol font shows glyphs)
  friend bool operator==(const TColumnTitle&, const TColumnTitle&) = default;
};

class TColumn {
 public:
  TColumn(TDBGrid& grid, std::string fieldName);
  TColumn(const TColumn&) = delete;
  TColumn& operator=(const TColumn&) = delete;

  TDBGrid& Grid() const { return *grid_; }
  int Index() const;
  const std::string& FieldName() const { return fieldName_; }
  void SetFieldName(std::string f);
  // The field of the grid's table of that name; null when unbound.
  TField* Field() const;

  const TColumnTitle& Title() const { return title_; }
  // The caption shown: the title's caption, or else the field's display label,
  // or else the field name.
  std::string TitleText() const;
  void SetTitleCaption(std::string c);
  void SetTitleAlignment(TAlignment a);
  void SetTitleFontName(std::string f);

  // 0: the field's display width in characters as the view measures them.
  int Width() const { return width_; }
  void SetWidth(int w);
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool r);
  bool Visible() const { return visible_; }
  void SetVisible(bool v);
  // The column's own alignment when set, otherwise the field's.
  TAlignment Alignment() const;
  void SetAlignment(TAlignment a);
  TColumnButtonStyle ButtonStyle() const { return buttonStyle_; }
  void SetButtonStyle(TColumnButtonStyle s);
  TColor Color() const { return color_; }
  void SetColor(TColor c);

 private:
  void Notify(std::string_view property);
  TDBGrid* grid_;
  std::string fieldName_;
  TColumnTitle title_;
  int width_ = 0;
  bool readOnly_ = false, visible_ = true, alignmentSet_ = false;
  TAlignment alignment_ = TAlignment::taLeftJustify;
  TColumnButtonStyle buttonStyle_ = TColumnButtonStyle::cbsAuto;
  TColor color_ = clWindow;
};

class TDBGridColumns {
 public:
  explicit TDBGridColumns(TDBGrid& grid) : grid_(&grid) {}
  TColumn& Add(std::string fieldName = {});
  // An error naming the grid and the index when out of range.
  TColumn& operator[](int index) const;
  int Count() const { return static_cast<int>(items_.size()); }
  void Clear();
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  friend class TColumn;
  TDBGrid* grid_;
  std::vector<std::unique_ptr<TColumn>> items_;
};

using TDrawColumnCellEvent = std::function<void(TComponent& Sender, const TRect& Rect, int DataCol,
                                                TColumn& Column, TGridDrawState State)>;

class TDBGrid : public TControl {
 public:
  TDBGrid(TComponent* owner, std::string name, TControl* parent = nullptr);
  bool Focusable() const override { return true; }

  TDBGridColumns Columns{*this};

  TDataSource* DataSource() const { return dataSource_; }
  void SetDataSource(TDataSource* s) { SetProperty(dataSource_, s, "DataSource"); }
  // The table behind the data link; null when none.
  TClientDataSet* DataSet() const;

  // Column by field name, letter case ignored; null when absent.
  TColumn* FindColumn(std::string_view fieldName) const;

  // The current column (index into Columns); -1 when the grid has none.
  int SelectedIndex() const { return selectedIndex_; }
  void SetSelectedIndex(int index);
  TField* SelectedField() const;
  // Makes current the column bound to that field; an error naming it when
  // the grid has none.
  void SetSelectedField(std::string_view fieldName);

  TDBGridOptions Options() const { return options_; }
  void SetOptions(TDBGridOptions o) { SetProperty(options_, o, "Options"); }
  bool HasOption(TDBGridOption o) const { return (options_ & o) != 0; }
  void SetOption(TDBGridOption o, bool on) { SetOptions(on ? (options_ | o) : (options_ & ~o)); }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool r) { SetProperty(readOnly_, r, "ReadOnly"); }
  // The in-cell editor is open.
  bool EditorMode() const { return editorMode_; }
  void SetEditorMode(bool e) { SetProperty(editorMode_, e, "EditorMode"); }
  bool DefaultDrawing() const { return defaultDrawing_; }
  void SetDefaultDrawing(bool d) { SetProperty(defaultDrawing_, d, "DefaultDrawing"); }

  TDrawColumnCellEvent OnDrawColumnCell;
  TNotifyEvent OnColEnter, OnColExit, OnEditButtonClick;
  std::function<void(TComponent& Sender, TColumn& Column)> OnCellClick;

  // The canvas of the cell being painted; null outside painting.
  TCanvas* Canvas() const { return canvas_; }
  // The ordinary painting of a cell: fills the rectangle with the brush and
  // draws the field's display text aligned as the column says, 2 pixels in.
  void DefaultDrawColumnCell(const TRect& rect, int dataCol, TColumn& column, TGridDrawState state);
  // For views: paints one cell of the row the table addresses now. Sets the
  // brush and font for the state (selection colours, or the column's colour
  // and the grid's font colour), draws the ordinary painting when
  // DefaultDrawing, then runs OnDrawColumnCell.
  void DrawCell(TCanvas& canvas, const TRect& rect, int dataCol, TGridDrawState state);
  // For views: the user clicked the ellipsis button of the current cell.
  void EditButtonClick();

 private:
  TDataSource* dataSource_ = nullptr;
  int selectedIndex_ = -1;
  TDBGridOptions options_ = dgDefaultOptions;
  bool readOnly_ = false, editorMode_ = false, defaultDrawing_ = true;
  TCanvas* canvas_ = nullptr;
  friend class TColumn;
  friend class TDBGridColumns;
  void ColumnChanged(std::string_view property) { Changed(property); }
};

// Where a grid shows a field: the index of its column. An error naming the
// grid and the field when no column shows it.
int IndiceCol(const TDBGrid& grid, std::string_view fieldName);

}  // namespace apura
