#include "base/form_layout.h"

#include <algorithm>

bool IsWindowedKind(ControlKind kind) {
  switch (kind) {
    case ControlKind::Form:
    case ControlKind::PopupMenu:
    case ControlKind::MenuItem:
    case ControlKind::Timer:
    case ControlKind::SaveDialog:
    case ControlKind::OpenDialog:
    case ControlKind::XmlDocument:
      return false;
    default:
      return true;
  }
}

bool IsButtonKind(ControlKind kind) {
  return kind == ControlKind::Button || kind == ControlKind::SpeedButton || kind == ControlKind::ArrowButton;
}

bool IsContainerKind(ControlKind kind) {
  return kind == ControlKind::Form || kind == ControlKind::Panel || kind == ControlKind::GroupBox ||
         kind == ControlKind::TabSheet;
}

DockPlan PlanDocking(const FormModel& form, std::string_view parent) {
  DockPlan plan;
  const Control* container = form.Has(parent) ? &form.Get(parent) : nullptr;
  const bool isForm = container != nullptr && container->kind == ControlKind::Form;
  const bool isMainForm = isForm && container->look != ControlLook::WaitWindow;
  if (isMainForm) {
    plan.margin = 0;
  } else if (container != nullptr && container->kind == ControlKind::Panel) {
    plan.margin = 1;
  }
  plan.spacing = isForm ? 4 : 2;
  for (const Control* child : form.Children(parent)) {
    if (!IsWindowedKind(child->kind) || child->kind == ControlKind::TabSheet) continue;
    const std::string& align = child->align;
    if (align == "top") {
      plan.tops.push_back(child);
    } else if (align == "bottom") {
      plan.bottoms.push_back(child);
    } else if (align == "left") {
      plan.lefts.push_back(child);
    } else if (align == "right") {
      plan.rights.push_back(child);
    } else if (align == "client") {
      plan.clients.push_back(child);
    } else {
      plan.flow.push_back(child);
    }
  }
  plan.flowFillsWidth = plan.flow.size() == 1 && plan.clients.empty();
  return plan;
}

namespace {

std::vector<const Control*> Visible(const std::vector<const Control*>& controls) {
  std::vector<const Control*> shown;
  for (const Control* c : controls) {
    if (c->visible) shown.push_back(c);
  }
  return shown;
}

// The width a control gets: its design width (a button at least as wide as its caption), or
// what it needs.
int WidthOf(const Control& c, int preferredWidth) {
  if (c.width <= 0) return preferredWidth;
  return IsButtonKind(c.kind) ? std::max(c.width, preferredWidth) : c.width;
}

int HeightOf(const Control& c, int preferredHeight) { return c.height > 0 ? c.height : preferredHeight; }

}  // namespace

Placement PlaceDocked(const DockPlan& plan, LayoutRect area, const PreferredSize& preferred) {
  Placement out;
  const int m = plan.margin;
  int left = area.x + m;
  int right = area.x + std::max(m, area.width - m);
  int top = area.y + m;
  int bottom = area.y + std::max(m, area.height - m);
  int needed = 2 * m;
  const auto put = [&out](const Control* c, int x, int y, int w, int h) {
    out.rects.emplace_back(c, LayoutRect{x, y, std::max(0, w), std::max(0, h)});
  };

  const auto tops = Visible(plan.tops);
  const auto bottoms = Visible(plan.bottoms);
  for (const Control* c : tops) {
    const int h = HeightOf(*c, preferred(*c, right - left).height);
    put(c, left, top, right - left, h);
    top += h + plan.spacing;
    needed += h + plan.spacing;
  }
  for (const Control* c : bottoms) {
    const int h = HeightOf(*c, preferred(*c, right - left).height);
    put(c, left, bottom - h, right - left, h);
    bottom -= h + plan.spacing;
    needed += h + plan.spacing;
  }
  const int middleHeight = std::max(0, bottom - top);
  int middleNeeded = 0;
  for (const Control* c : Visible(plan.lefts)) {
    const LayoutSize size = preferred(*c, right - left);
    const int w = WidthOf(*c, size.width);
    put(c, left, top, w, middleHeight);
    left += w + plan.spacing;
    middleNeeded = std::max(middleNeeded, HeightOf(*c, size.height));
  }
  for (const Control* c : Visible(plan.rights)) {
    const LayoutSize size = preferred(*c, right - left);
    const int w = WidthOf(*c, size.width);
    put(c, right - w, top, w, middleHeight);
    right -= w + plan.spacing;
    middleNeeded = std::max(middleNeeded, HeightOf(*c, size.height));
  }

  // The centre: flowing rows first, then the client controls one below the other.
  const int centreWidth = std::max(0, right - left);
  int y = top;
  const auto flow = Visible(plan.flow);
  if (plan.flowFillsWidth && flow.size() == 1) {
    const Control* c = flow.front();
    const int h = HeightOf(*c, preferred(*c, centreWidth).height);
    put(c, left, y, centreWidth, h);
    y += h;
  } else if (!flow.empty()) {
    int x = left;
    int rowHeight = 0;
    for (const Control* c : flow) {
      const LayoutSize size = preferred(*c, centreWidth);
      const int w = WidthOf(*c, size.width);
      const int h = HeightOf(*c, size.height);
      if (x > left && x + w > left + centreWidth) {
        y += rowHeight + plan.flowSpacing;
        x = left;
        rowHeight = 0;
      }
      put(c, x, y, w, h);
      x += w + plan.flowSpacing;
      rowHeight = std::max(rowHeight, h);
    }
    y += rowHeight;
  }
  // Client controls take what is left; what they need counts only towards the needed height.
  const auto clients = Visible(plan.clients);
  int clientsNeeded = 0;
  for (const Control* c : clients) {
    clientsNeeded +=
        (y > top || clientsNeeded > 0 ? plan.spacing : 0) + HeightOf(*c, preferred(*c, centreWidth).height);
  }
  middleNeeded = std::max(middleNeeded, y - top + clientsNeeded);
  if (!clients.empty()) {
    if (y > top) y += plan.spacing;
    const int room = std::max(0, top + middleHeight - y);
    const int count = static_cast<int>(clients.size());
    const int each = (room - (count - 1) * plan.spacing) / count;
    for (int i = 0; i < count; ++i) {
      const int h = i + 1 == count ? top + middleHeight - y : each;
      put(clients[static_cast<std::size_t>(i)], left, y, centreWidth, h);
      y += h + plan.spacing;
    }
  }
  out.neededHeight = needed + middleNeeded;
  return out;
}
