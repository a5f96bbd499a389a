// Widgets for a FormModel: builds one widget per control by walking parents and kinds, keeps
// them in step through the model's notifications, and hands every user event to the
// handler named in the control (through the invoker). No program logic lives here.
#pragma once

#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/form_layout.h"
#include "base/form_model.h"

class QAction;
class QMenu;
class QTabWidget;
class QTimer;
class ItemListModel;

// Runs the handler of the given name (TMainfrm::Invoke in the program).
using HandlerInvoker = std::function<void(const std::string& handlerName)>;

// The top-level window of a form: reports activation and closing.
class FormWindow : public QWidget {
  Q_OBJECT
 public:
  // With an owner the window is a tool window that stays above its owner.
  explicit FormWindow(QWidget* owner = nullptr);

 signals:
  void activated();
  void closed();

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
};

// A label that is clicked like a link.
class LinkLabel : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;

 signals:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool pressed_ = false;
};

class FormRenderer : public QObject {
  Q_OBJECT
 public:
  // `owner`: the window a secondary form (the progress window) is centred on and stays above.
  FormRenderer(FormModel& model, HandlerInvoker invoker, QWidget* owner = nullptr);
  ~FormRenderer() override;
  FormRenderer(const FormRenderer&) = delete;
  FormRenderer& operator=(const FormRenderer&) = delete;

  FormModel& Model() { return model_; }
  FormWindow* Window() const { return window_; }
  // The widget of a control; nullptr for controls without one (timers, menus, dialogs, the
  // controls of a page that never gets a tab).
  QWidget* Widget(const std::string& name) const;
  QAction* Action(const std::string& name) const;  // menu items
  QTimer* Timer(const std::string& name) const;
  ItemListModel* ListModel(const std::string& name) const;
  // Names of every control that has a widget, in creation order.
  std::vector<std::string> RenderedNames() const;
  // Model indexes of the pages of a page control that have a tab.
  std::vector<int> TabbedPages(const std::string& pageControl) const;

  // Shows the window: centred on its owner when it has one, otherwise on the screen.
  void ShowWindow();
  // Runs the form's activation handler (the Form control's onChange). An activation that
  // arrives while that handler still runs (its operations let window messages through) is
  // dropped, so a long run is never started a second time inside itself.
  void Activate();
  // How often Activate ran the handler.
  int Activations() const { return activations_; }

 private:
  struct Bound {
    QWidget* widget = nullptr;
    ItemListModel* list = nullptr;
    QAction* action = nullptr;
    QTimer* timer = nullptr;
    QMenu* menu = nullptr;
    QTabWidget* tabs = nullptr;  // tab sheets: the page control that shows them
  };
  struct Page {
    int modelIndex;
    QWidget* widget;
  };

  const Control& FormControl() const;
  void BuildMenusAndTimers();
  // Creates the widgets of the children of `parentName` inside `container` and lays them out.
  void BuildChildren(QWidget* container, const std::string& parentName);
  QWidget* Create(const Control& control, QWidget* parent);
  QWidget* CreatePageControl(const Control& control, QWidget* parent);
  QWidget* CreateList(const Control& control, QWidget* parent);
  QWidget* CreateCombo(const Control& control, QWidget* parent);
  QWidget* CreateTree(const Control& control, QWidget* parent);
  // Lays the children's widgets out inside `container` as the plan says.
  void LayOut(QWidget* container, const DockPlan& plan);
  void ApplyLook(const Control& control, QWidget* widget);

  void OnModelChange(const FormModel::Notification& n);
  void ApplyCaption(const Control& control, const Bound& bound);
  void ApplyVisible(const Control& control, const Bound& bound);
  void ApplyItemIndex(const Control& control, const Bound& bound);
  void FillCombo(const Control& control, QWidget* widget, bool appendOnly);
  void FillTree(const Control& control, QWidget* widget);
  void FollowTimer(const Control& control, QTimer* timer);

  // Hands an event to its handler; nothing escapes into the toolkit's event loop.
  void Route(const std::string& handlerName);

  FormModel& model_;
  HandlerInvoker invoker_;
  QPointer<QWidget> owner_;
  QPointer<FormWindow> window_;
  std::map<std::string, Bound, std::less<>> bound_;
  std::vector<std::string> order_;
  std::map<std::string, std::vector<Page>, std::less<>> pages_;
  int subscription_ = 0;
  int syncing_ = 0;  // > 0 while the model is copied into widgets: their signals are not user events
  bool activating_ = false;
  int activations_ = 0;
};
