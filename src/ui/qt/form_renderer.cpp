#include "ui/qt/form_renderer.h"

#include <QAction>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QFontDatabase>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "base/form_layout.h"
#include "base/sync_scope.h"
#include "ui/qt/flow_layout.h"
#include "ui/qt/item_list_model.h"
#include "ui/qt/item_list_view.h"
#include "ui/qt/look.h"

namespace {

using K = ControlKind;

QString Q(const std::string& text) { return QString::fromStdString(text); }

// A menu item's text: its caption, and its hint in the column menus keep for shortcuts.
QString MenuItemText(const Control& c) {
  QString text = look::LiteralText(Q(c.caption));
  if (!c.hint.empty() && c.hint != "No Comments") text += QLatin1Char('\t') + Q(c.hint);
  return text;
}

bool IsList(K kind) { return kind == K::ListBox || kind == K::UnicodeListBox || kind == K::CheckListBox; }
bool IsCombo(K kind) { return kind == K::ComboBox || kind == K::UnicodeComboBox; }

// Tree rows of one fixed height.
class FixedRowDelegate : public QStyledItemDelegate {
 public:
  FixedRowDelegate(int rowHeight, QObject* parent) : QStyledItemDelegate(parent), rowHeight_(rowHeight) {}
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return QSize(QStyledItemDelegate::sizeHint(option, index).width(), rowHeight_);
  }

 private:
  int rowHeight_;
};

void AddTreeNodes(QTreeWidgetItem* parent, QTreeWidget* tree,
                  const std::vector<std::unique_ptr<TreeNode>>& nodes) {
  for (const auto& node : nodes) {
    if (!node) continue;
    auto* item = parent != nullptr ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree);
    item->setText(0, Q(node->text));
    AddTreeNodes(item, tree, node->children);
  }
}

}  // namespace

// ---- FormWindow ----

FormWindow::FormWindow(QWidget* owner) : QWidget(owner, owner != nullptr ? Qt::Tool : Qt::Window) {
  if (owner != nullptr) setAttribute(Qt::WA_ShowWithoutActivating);
}

bool FormWindow::event(QEvent* event) {
  const bool result = QWidget::event(event);
  if (event->type() == QEvent::WindowActivate) emit activated();
  return result;
}

void FormWindow::closeEvent(QCloseEvent* event) {
  event->accept();
  emit closed();
}

// ---- LinkLabel ----

void LinkLabel::mousePressEvent(QMouseEvent* event) {
  pressed_ = event->button() == Qt::LeftButton;
  QLabel::mousePressEvent(event);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  const bool click =
      pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  pressed_ = false;
  QLabel::mouseReleaseEvent(event);
  if (click) emit clicked();
}

// ---- FormRenderer ----

FormRenderer::FormRenderer(FormModel& model, HandlerInvoker invoker, QWidget* owner)
    : model_(model), invoker_(std::move(invoker)), owner_(owner) {
  const Control& form = FormControl();
  window_ = new FormWindow(owner);
  window_->setObjectName(Q(form.name));
  window_->setWindowTitle(Q(form.caption));
  bound_[form.name].widget = window_;
  ApplyLook(form, window_);

  BuildMenusAndTimers();
  {
    SyncScope sync(syncing_);
    BuildChildren(window_, form.name);
  }
  if (form.width > 0 && form.height > 0) window_->resize(form.width, form.height);

  subscription_ = model_.Subscribe([this](const FormModel::Notification& n) { OnModelChange(n); });
  connect(window_, &FormWindow::activated, this, &FormRenderer::Activate);
  // A secondary window goes down with its owner: from then on there is nothing to keep in step.
  connect(window_, &QObject::destroyed, this, [this] {
    model_.Unsubscribe(subscription_);
    bound_.clear();
    pages_.clear();
    order_.clear();
  });
}

FormRenderer::~FormRenderer() {
  model_.Unsubscribe(subscription_);
  delete window_.data();
}

const Control& FormRenderer::FormControl() const {
  if (model_.Has(model_.name()) && model_.Get(model_.name()).kind == K::Form)
    return model_.Get(model_.name());
  for (const Control* c : model_.Controls()) {
    if (c->kind == K::Form) return *c;
  }
  throw std::invalid_argument("form model " + model_.name() + " has no Form control");
}

QWidget* FormRenderer::Widget(const std::string& name) const {
  auto it = bound_.find(name);
  return it == bound_.end() ? nullptr : it->second.widget;
}

QAction* FormRenderer::Action(const std::string& name) const {
  auto it = bound_.find(name);
  return it == bound_.end() ? nullptr : it->second.action;
}

QTimer* FormRenderer::Timer(const std::string& name) const {
  auto it = bound_.find(name);
  return it == bound_.end() ? nullptr : it->second.timer;
}

ItemListModel* FormRenderer::ListModel(const std::string& name) const {
  auto it = bound_.find(name);
  return it == bound_.end() ? nullptr : it->second.list;
}

std::vector<std::string> FormRenderer::RenderedNames() const { return order_; }

std::vector<int> FormRenderer::TabbedPages(const std::string& pageControl) const {
  std::vector<int> indexes;
  auto it = pages_.find(pageControl);
  if (it == pages_.end()) return indexes;
  auto* tabs = qobject_cast<QTabWidget*>(Widget(pageControl));
  for (const Page& page : it->second) {
    if (tabs != nullptr && tabs->isTabVisible(tabs->indexOf(page.widget))) indexes.push_back(page.modelIndex);
  }
  return indexes;
}

void FormRenderer::ShowWindow() {
  if (!window_) return;
  QRect area;
  if (owner_ && owner_->isVisible()) {
    area = owner_->frameGeometry();
  } else if (QScreen* screen = owner_ ? owner_->screen() : QGuiApplication::primaryScreen()) {
    area = screen->availableGeometry();
  }
  if (area.isValid()) {
    const QSize size = window_->frameGeometry().size().expandedTo(window_->size());
    window_->move(area.center() - QPoint(size.width() / 2, size.height() / 2));
  }
  window_->show();
  if (owner_) window_->raise();
}

void FormRenderer::Activate() {
  const Control& form = FormControl();
  if (activating_) return;
  activating_ = true;
  ++activations_;
  Route(form.onChange);
  activating_ = false;
}

void FormRenderer::Route(const std::string& handlerName) {
  if (handlerName.empty()) return;
  try {
    invoker_(handlerName);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "handler %s failed: %s\n", handlerName.c_str(), e.what());
  } catch (...) {
    std::fprintf(stderr, "handler %s failed\n", handlerName.c_str());
  }
}

// ---- building ----

void FormRenderer::BuildMenusAndTimers() {
  for (const Control* c : model_.Controls()) {
    if (c->kind == K::PopupMenu) {
      auto* menu = new QMenu(window_);
      menu->setObjectName(Q(c->name));
      bound_[c->name].menu = menu;
    } else if (c->kind == K::Timer) {
      auto* timer = new QTimer(this);
      timer->setObjectName(Q(c->name));
      const std::string handler = c->onClick;
      connect(timer, &QTimer::timeout, this, [this, handler] { Route(handler); });
      bound_[c->name].timer = timer;
      FollowTimer(*c, timer);
    }
  }
  // Menu items after every menu exists, in creation order.
  for (const Control* c : model_.Controls()) {
    if (c->kind != K::MenuItem) continue;
    auto parent = bound_.find(c->parent);
    if (parent == bound_.end() || parent->second.menu == nullptr) continue;
    // The menu shows what each item does beside its caption, not only in a tooltip.
    parent->second.menu->setToolTipsVisible(true);
    QAction* action = parent->second.menu->addAction(MenuItemText(*c));
    action->setObjectName(Q(c->name));
    action->setToolTip(Q(c->hint));
    action->setEnabled(c->enabled);
    action->setVisible(c->visible);
    const std::string handler = c->onClick;
    connect(action, &QAction::triggered, this, [this, handler] { Route(handler); });
    bound_[c->name].action = action;
  }
}

void FormRenderer::BuildChildren(QWidget* container, const std::string& parentName) {
  for (const Control* child : model_.Children(parentName)) Create(*child, container);
  LayOut(container, PlanDocking(model_, parentName));
}

QWidget* FormRenderer::Create(const Control& c, QWidget* parent) {
  QWidget* widget = nullptr;
  switch (c.kind) {
    case K::Form:
    case K::PopupMenu:
    case K::MenuItem:
    case K::Timer:
    case K::SaveDialog:
    case K::OpenDialog:
    case K::XmlDocument:
      return nullptr;
    case K::PageControl:
      widget = CreatePageControl(c, parent);
      break;
    case K::TabSheet:
    case K::Panel: {
      auto* frame = new QFrame(parent);
      frame->setFrameShape(QFrame::NoFrame);
      widget = frame;
      break;
    }
    case K::GroupBox:
      widget = new QGroupBox(look::LiteralText(Q(c.caption)), parent);
      break;
    case K::Label:
      widget = new QLabel(Q(c.caption), parent);
      // A caption is shown as it is: a hardware ID's "&" and a "<" are text, not markup.
      static_cast<QLabel*>(widget)->setTextFormat(Qt::PlainText);
      break;
    case K::LinkLabel: {
      auto* label = new LinkLabel(Q(c.caption), parent);
      label->setTextFormat(Qt::PlainText);
      const std::string handler = c.onClick;
      connect(label, &LinkLabel::clicked, this, [this, handler] { Route(handler); });
      widget = label;
      break;
    }
    case K::Button: {
      auto* button = new QPushButton(look::LiteralText(Q(c.caption)), parent);
      const std::string handler = c.onClick;
      connect(button, &QPushButton::clicked, this, [this, handler] { Route(handler); });
      widget = button;
      break;
    }
    case K::SpeedButton:
    case K::ArrowButton: {
      auto* button = new QToolButton(parent);
      button->setText(look::LiteralText(Q(c.caption)));
      button->setAutoRaise(true);
      button->setToolButtonStyle(Qt::ToolButtonTextOnly);
      if (c.kind == K::ArrowButton) {
        // The face runs the button's handler; the arrow opens the menu.
        auto menu = bound_.find(c.popupMenu);
        if (menu != bound_.end() && menu->second.menu != nullptr) button->setMenu(menu->second.menu);
        button->setPopupMode(QToolButton::MenuButtonPopup);
      }
      const std::string handler = c.onClick;
      connect(button, &QToolButton::clicked, this, [this, handler] { Route(handler); });
      widget = button;
      break;
    }
    case K::ListBox:
    case K::UnicodeListBox:
    case K::CheckListBox:
      widget = CreateList(c, parent);
      break;
    case K::ComboBox:
    case K::UnicodeComboBox:
      widget = CreateCombo(c, parent);
      break;
    case K::Edit: {
      auto* edit = new QLineEdit(Q(c.caption), parent);
      const std::string name = c.name;
      connect(edit, &QLineEdit::textEdited, this, [this, name](const QString& text) {
        if (syncing_ == 0) model_.SetCaption(name, text.toStdString());
      });
      widget = edit;
      break;
    }
    case K::Memo: {
      auto* memo = new QPlainTextEdit(parent);
      memo->setReadOnly(true);
      memo->setLineWrapMode(QPlainTextEdit::NoWrap);
      QStringList lines;
      for (const std::string& line : c.items) lines << Q(line);
      memo->setPlainText(lines.join(QLatin1Char('\n')));
      widget = memo;
      break;
    }
    case K::TreeView:
      widget = CreateTree(c, parent);
      break;
    case K::Gauge: {
      auto* bar = new QProgressBar(parent);
      bar->setRange(c.minimum, c.maximum);
      bar->setValue(c.position);
      widget = bar;
      break;
    }
  }
  if (widget == nullptr) return nullptr;

  widget->setObjectName(Q(c.name));
  if (!c.hint.empty()) widget->setToolTip(Q(c.hint));
  widget->setEnabled(c.enabled);
  if (!c.visible) widget->hide();
  bound_[c.name].widget = widget;
  order_.push_back(c.name);
  ApplyLook(c, widget);

  if (c.kind == K::Panel || c.kind == K::GroupBox || c.kind == K::TabSheet) BuildChildren(widget, c.name);
  return widget;
}

QWidget* FormRenderer::CreatePageControl(const Control& c, QWidget* parent) {
  auto* tabs = new QTabWidget(parent);
  std::vector<Page>& pages = pages_[c.name];
  int modelIndex = 0;
  for (const Control* sheet : model_.Children(c.name)) {
    if (sheet->kind != K::TabSheet) continue;
    const int index = modelIndex++;
    // A page without a tab is never shown: its controls get no widgets at all.
    if (!sheet->tabVisible) continue;
    auto* page = new QWidget(tabs);
    page->setObjectName(Q(sheet->name));
    if (!sheet->hint.empty()) page->setToolTip(Q(sheet->hint));
    bound_[sheet->name].widget = page;
    bound_[sheet->name].tabs = tabs;
    order_.push_back(sheet->name);
    BuildChildren(page, sheet->name);
    const int tab = tabs->addTab(page, look::LiteralText(Q(sheet->caption)));
    tabs->setTabVisible(tab, sheet->visible);
    pages.push_back(Page{index, page});
  }
  const std::string name = c.name;
  connect(tabs, &QTabWidget::currentChanged, this, [this, tabs, name](int tab) {
    if (syncing_ > 0 || tab < 0) return;
    QWidget* shown = tabs->widget(tab);
    for (const Page& page : pages_[name]) {
      if (page.widget == shown) model_.SetItemIndex(name, page.modelIndex);
    }
  });
  // Created inside the constructor's sync scope: show the page the model names.
  bound_[c.name].widget = tabs;
  ApplyItemIndex(c, bound_[c.name]);
  return tabs;
}

QWidget* FormRenderer::CreateList(const Control& c, QWidget* parent) {
  auto* list = new ItemListModel(model_, c.name, c.kind == K::CheckListBox, this);
  auto* view = new ItemListView(list, parent);
  list->setParent(view);
  view->setRowHeight(look::kListRowPixels);
  bound_[c.name].list = list;

  const std::string name = c.name;
  connect(view, &ItemListView::currentRowChanged, this, [this, name](int row) {
    if (syncing_ == 0) model_.SetItemIndex(name, row);
  });
  if (!c.onClick.empty()) {
    const std::string handler = c.onClick;
    connect(view, &ItemListView::clicked, this, [this, handler] { Route(handler); });
  }
  return view;
}

QWidget* FormRenderer::CreateCombo(const Control& c, QWidget* parent) {
  auto* combo = new QComboBox(parent);
  combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  combo->setMinimumContentsLength(16);
  FillCombo(c, combo, false);
  const std::string name = c.name;
  const std::string handler = c.onChange;
  // Only a choice of the user arrives here: the model learns the selection first, then
  // the change handler runs.
  connect(combo, &QComboBox::activated, this, [this, name, handler](int index) {
    if (syncing_ > 0) return;
    const Control& control = model_.Get(name);
    if (index < 0 || static_cast<std::size_t>(index) >= control.items.size()) return;
    const std::string text = control.items[static_cast<std::size_t>(index)];
    model_.SetItemIndex(name, index);
    model_.SetCaption(name, text);
    Route(handler);
  });
  return combo;
}

QWidget* FormRenderer::CreateTree(const Control& c, QWidget* parent) {
  auto* tree = new QTreeWidget(parent);
  tree->setHeaderHidden(true);
  tree->setColumnCount(1);
  tree->setUniformRowHeights(true);
  if (c.look == ControlLook::DarkList) tree->setItemDelegate(new FixedRowDelegate(look::kListRowPixels, tree));
  FillTree(c, tree);
  const std::string name = c.name;
  const std::string handler = c.onClick;
  connect(tree, &QTreeWidget::itemClicked, this, [this, name, handler](QTreeWidgetItem* item) {
    if (item == nullptr) return;
    // The clicked node's text is the selection the handler reads.
    model_.SetCaption(name, item->text(0).toStdString());
    Route(handler);
  });
  return tree;
}

void FormRenderer::LayOut(QWidget* container, const DockPlan& plan) {
  // Only controls that got a widget take part (a page without a tab built none).
  const auto widgets = [this](const std::vector<const Control*>& controls) {
    std::vector<std::pair<const Control*, QWidget*>> found;
    for (const Control* c : controls) {
      if (QWidget* w = Widget(c->name)) found.emplace_back(c, w);
    }
    return found;
  };
  const auto tops = widgets(plan.tops), bottoms = widgets(plan.bottoms), lefts = widgets(plan.lefts),
             rights = widgets(plan.rights), clients = widgets(plan.clients), flow = widgets(plan.flow);
  if (tops.empty() && bottoms.empty() && lefts.empty() && rights.empty() && clients.empty() && flow.empty()) return;

  auto* outer = new QVBoxLayout(container);
  outer->setContentsMargins(plan.margin, plan.margin, plan.margin, plan.margin);
  outer->setSpacing(plan.spacing);

  // A button is as wide as its design or as its caption needs, whichever is more: a longer
  // translation widens it rather than being cut off or running into its neighbour.
  const auto setWidth = [](const Control* control, QWidget* widget) {
    if (control->width <= 0) return;
    if (IsButtonKind(control->kind)) {
      widget->setMinimumWidth(control->width);
    } else {
      widget->setFixedWidth(control->width);
    }
  };
  const auto setHeight = [](const Control* control, QWidget* widget) {
    if (control->height > 0) widget->setFixedHeight(control->height);
  };
  for (const auto& [control, widget] : tops) {
    setHeight(control, widget);
    outer->addWidget(widget);
  }
  auto* middle = new QHBoxLayout;
  middle->setSpacing(plan.spacing);
  for (const auto& [control, widget] : lefts) {
    setWidth(control, widget);
    middle->addWidget(widget);
  }
  auto* center = new QVBoxLayout;
  center->setSpacing(plan.spacing);
  if (plan.flowFillsWidth && flow.size() == 1) {
    setWidth(flow.front().first, flow.front().second);
    setHeight(flow.front().first, flow.front().second);
    center->addWidget(flow.front().second);
  } else if (!flow.empty()) {
    auto* rows = new FlowLayout(nullptr, plan.flowSpacing);
    for (const auto& [control, widget] : flow) {
      setWidth(control, widget);
      setHeight(control, widget);
      rows->addWidget(widget);
    }
    center->addLayout(rows);
  }
  for (const auto& [control, widget] : clients) center->addWidget(widget, 1);
  if (clients.empty()) center->addStretch(1);
  middle->addLayout(center, 1);
  for (auto it = rights.rbegin(); it != rights.rend(); ++it) {
    setWidth(it->first, it->second);
    middle->addWidget(it->second);
  }
  outer->addLayout(middle, 1);
  for (auto it = bottoms.rbegin(); it != bottoms.rend(); ++it) {
    setHeight(it->first, it->second);
    outer->addWidget(it->second);
  }
}

void FormRenderer::ApplyLook(const Control& c, QWidget* widget) {
  switch (c.look) {
    case ControlLook::WaitWindow:
      look::StyleWaitWindow(widget);
      return;
    case ControlLook::Headline:
      if (auto* label = qobject_cast<QLabel*>(widget)) look::StyleHeadline(label);
      return;
    case ControlLook::OperationLabel:
      if (auto* label = qobject_cast<QLabel*>(widget)) look::StyleOperationLabel(label);
      return;
    case ControlLook::DarkList:
      look::StyleDarkList(widget);
      if (c.fixedPitch) {
        QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPixelSize(look::kListFontPixels);
        widget->setFont(font);
      }
      return;
    case ControlLook::Default:
      break;
  }
  switch (c.kind) {
    case K::SpeedButton:
    case K::ArrowButton:
      look::StyleActionButton(qobject_cast<QToolButton*>(widget));
      if (c.width == 0) widget->setMinimumHeight(28);
      break;
    case K::LinkLabel:
      look::StyleLinkLabel(qobject_cast<QLabel*>(widget));
      break;
    case K::Gauge:
      look::StyleGauge(qobject_cast<QProgressBar*>(widget));
      break;
    default:
      break;
  }
}

// ---- following the model ----

void FormRenderer::OnModelChange(const FormModel::Notification& n) {
  auto it = bound_.find(n.control.name);
  if (it == bound_.end()) return;
  const Control& c = n.control;
  const Bound& bound = it->second;
  SyncScope sync(syncing_);
  switch (n.change) {
    case ChangeKind::Caption:
      ApplyCaption(c, bound);
      break;
    case ChangeKind::Hint:
      if (bound.widget != nullptr) bound.widget->setToolTip(Q(c.hint));
      if (bound.action != nullptr) {
        bound.action->setToolTip(Q(c.hint));
        bound.action->setText(MenuItemText(c));
      }
      break;
    case ChangeKind::Items:
    case ChangeKind::ItemsAppended:
    case ChangeKind::Checks:
      if (bound.list != nullptr) {
        bound.list->Follow(n.change);
      } else if (IsCombo(c.kind) && bound.widget != nullptr) {
        if (n.change != ChangeKind::Checks) FillCombo(c, bound.widget, n.change == ChangeKind::ItemsAppended);
      } else if (c.kind == K::Memo && bound.widget != nullptr) {
        QStringList lines;
        for (const std::string& line : c.items) lines << Q(line);
        static_cast<QPlainTextEdit*>(bound.widget)->setPlainText(lines.join(QLatin1Char('\n')));
      }
      break;
    case ChangeKind::ItemIndex:
      ApplyItemIndex(c, bound);
      break;
    case ChangeKind::Visible:
      ApplyVisible(c, bound);
      break;
    case ChangeKind::Enabled:
      if (bound.widget != nullptr) bound.widget->setEnabled(c.enabled);
      if (bound.action != nullptr) bound.action->setEnabled(c.enabled);
      break;
    case ChangeKind::Gauge:
      if (auto* bar = qobject_cast<QProgressBar*>(bound.widget)) {
        bar->setRange(c.minimum, c.maximum);
        bar->setValue(c.position);
      }
      break;
    case ChangeKind::Tree:
      if (bound.widget != nullptr) FillTree(c, bound.widget);
      break;
    case ChangeKind::Timer:
      if (bound.timer != nullptr) FollowTimer(c, bound.timer);
      break;
  }
}

void FormRenderer::ApplyCaption(const Control& c, const Bound& bound) {
  if (bound.action != nullptr) {
    bound.action->setText(MenuItemText(c));
    return;
  }
  QWidget* w = bound.widget;
  if (w == nullptr) return;
  const QString text = Q(c.caption);
  switch (c.kind) {
    case K::Form:
      w->setWindowTitle(text);
      break;
    case K::TabSheet:
      if (bound.tabs != nullptr) {
        const int tab = bound.tabs->indexOf(w);
        if (tab >= 0) bound.tabs->setTabText(tab, look::LiteralText(text));
      }
      break;
    case K::GroupBox:
      static_cast<QGroupBox*>(w)->setTitle(look::LiteralText(text));
      break;
    case K::Label:
    case K::LinkLabel:
      static_cast<QLabel*>(w)->setText(text);
      break;
    case K::Button:
    case K::SpeedButton:
    case K::ArrowButton:
      static_cast<QAbstractButton*>(w)->setText(look::LiteralText(text));
      break;
    case K::Edit:
      if (static_cast<QLineEdit*>(w)->text() != text) static_cast<QLineEdit*>(w)->setText(text);
      break;
    case K::ComboBox:
    case K::UnicodeComboBox: {
      auto* combo = static_cast<QComboBox*>(w);
      combo->setPlaceholderText(text);
      // The text names an item: show that item.
      if (combo->currentText() != text) {
        const int found = combo->findText(text, Qt::MatchExactly);
        if (found >= 0 && c.itemIndex == found) combo->setCurrentIndex(found);
      }
      break;
    }
    default:
      break;
  }
}

void FormRenderer::ApplyVisible(const Control& c, const Bound& bound) {
  if (bound.action != nullptr) {
    bound.action->setVisible(c.visible);
    return;
  }
  QWidget* w = bound.widget;
  if (w == nullptr) return;
  if (c.kind == K::Form) {
    if (c.visible) {
      ShowWindow();
    } else {
      w->hide();
    }
    return;
  }
  if (c.kind == K::TabSheet) {
    if (bound.tabs != nullptr) {
      const int tab = bound.tabs->indexOf(w);
      if (tab >= 0) bound.tabs->setTabVisible(tab, c.visible);
    }
    return;
  }
  w->setVisible(c.visible);
}

void FormRenderer::ApplyItemIndex(const Control& c, const Bound& bound) {
  QWidget* w = bound.widget;
  if (w == nullptr) return;
  if (c.kind == K::PageControl) {
    auto* tabs = static_cast<QTabWidget*>(w);
    for (const Page& page : pages_[c.name]) {
      if (page.modelIndex == c.itemIndex) tabs->setCurrentWidget(page.widget);
    }
  } else if (IsCombo(c.kind)) {
    static_cast<QComboBox*>(w)->setCurrentIndex(c.itemIndex);
  } else if (IsList(c.kind)) {
    if (auto* view = qobject_cast<ItemListView*>(w)) view->setCurrentRow(c.itemIndex);
  }
}

void FormRenderer::FillCombo(const Control& c, QWidget* widget, bool appendOnly) {
  auto* combo = static_cast<QComboBox*>(widget);
  const auto have = static_cast<std::size_t>(combo->count());
  if (!appendOnly || have > c.items.size()) combo->clear();
  QStringList added;
  for (std::size_t i = static_cast<std::size_t>(combo->count()); i < c.items.size(); ++i)
    added << Q(c.items[i]);
  combo->addItems(added);
  combo->setPlaceholderText(Q(c.caption));
  combo->setCurrentIndex(c.itemIndex < combo->count() ? c.itemIndex : -1);
}

void FormRenderer::FillTree(const Control& c, QWidget* widget) {
  auto* tree = static_cast<QTreeWidget*>(widget);
  tree->clear();
  AddTreeNodes(nullptr, tree, c.tree);
  tree->expandToDepth(0);  // the classes open, their devices folded
}

void FormRenderer::FollowTimer(const Control& c, QTimer* timer) {
  if (c.enabled && c.interval > 0) {
    timer->start(c.interval);
  } else {
    timer->stop();
  }
}
