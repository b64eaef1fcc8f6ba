#pragma once
// The widgets of a form of the control model. The view is made once from the
// form's components and from then on only follows them: every property the
// code changes (enabled, visible, caption, checked, pressed, the active page,
// the focus, texts) is shown as it changes, and every user action goes back
// to the component (click, page change, focus, keys), so the form's handlers
// decide everything. Nothing of the business lives here.

#include <QHash>
#include <QPointer>
#include <QSet>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "desktop/binding/watch.h"
#include "framework/forms.h"

class QAction;
class QMenu;
class QMenuBar;
class QTabWidget;
class QToolBar;

namespace apura::desktop {

class GridView;
class FieldLink;

class FormView : public QWidget {
  Q_OBJECT
 public:
  explicit FormView(TForm& form, QWidget* parent = nullptr);
  ~FormView() override;

  // Null once the form has gone.
  TForm* Form() const { return form_; }
  // The widget showing a control (by component name, letter case ignored);
  // null when it has none.
  QWidget* WidgetFor(const TControl& control) const;
  QWidget* WidgetNamed(const QString& name) const;
  GridView* GridNamed(const QString& name) const;
  // The action of a toolbar button or menu item.
  QAction* ActionFor(const TComponent& component) const;
  QAction* ActionNamed(const QString& name) const;
  // The form went away: every binding is dropped and the widgets stay inert.
  void Detach();

 signals:
  void formGone();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QWidget* Build(TControl& control, QWidget* parent);
  QWidget* BuildContainer(TControl& container, QWidget* parent);
  void LayOutChildren(TControl& container, QWidget* widget);
  // The panel's commands as a toolbar; its other controls go into `strip`.
  QToolBar* BuildToolBar(TControl& panel, QWidget* parent, QWidget* strip);
  QWidget* BuildPageControl(TPageControl& pages, QWidget* parent);
  void BuildMenuBar(TMainMenu& menu);
  void FillMenu(QMenu* menu, const std::vector<TMenuItem*>& items);
  QAction* MenuAction(TMenuItem& item);
  void BindControl(TControl& control, QWidget* widget);
  void Register(TControl& control, QWidget* widget);
  void ApplyFocus();
  void PlaceOverlays();

  TForm* form_;
  Watch watch_;
  QMenuBar* menuBar_ = nullptr;
  std::map<const TComponent*, QPointer<QWidget>> widgets_;
  std::map<const TComponent*, QPointer<QAction>> actions_;
  QHash<QObject*, TControl*> focusTargets_;
  std::vector<QPointer<QWidget>> overlays_;
  std::vector<std::unique_ptr<FieldLink>> links_;
  std::vector<GridView*> grids_;
  bool syncingFocus_ = false;
  // Multi-line text boxes, whose keys the form sees first; the key being
  // handed on after the form rewrote it.
  QSet<QObject*> memos_;
  QEvent* routedKey_ = nullptr;
};

}  // namespace apura::desktop
