// Where the controls of a container go, decided once for every front end: which children are
// docked to which side, which flow in rows, the margins and gaps, and, for front ends that
// place windows themselves, the rectangles.
//
// Docking follows the order of the original toolkit: controls aligned to the top and the
// bottom take the full width (the first one outermost), those aligned left and right share
// the height that remains (the first one outermost), and the client controls fill the rest,
// below the controls without an alignment, which flow in rows left to right. A lone control
// without an alignment beside no client control takes the whole width (a gauge in its group
// box, a label in its panel). Hidden controls take no room.
#pragma once

#include <functional>
#include <string_view>
#include <vector>

#include "base/form_model.h"

// Whether a control of this kind is drawn in the window (menus, timers, dialogs and the XML
// document are not).
bool IsWindowedKind(ControlKind kind);
// Whether a control is a push button of some kind (its caption may widen it beyond its design).
bool IsButtonKind(ControlKind kind);
// Whether a control of this kind holds other drawn controls that are docked inside it.
bool IsContainerKind(ControlKind kind);

struct DockPlan {
  std::vector<const Control*> tops;     // outermost first
  std::vector<const Control*> bottoms;  // outermost (lowest) first
  std::vector<const Control*> lefts;    // outermost first
  std::vector<const Control*> rights;   // outermost (rightmost) first
  std::vector<const Control*> clients;  // share the room that remains, one below the other
  std::vector<const Control*> flow;     // no alignment: rows, left to right
  bool flowFillsWidth = false;          // the one flowing control takes the whole width
  int margin = 4;                       // around the docked controls, inside the container
  int spacing = 2;                      // between docked controls
  int flowSpacing = 4;                  // between flowing controls and between their rows
};

// The plan for the drawn children of `parent` (tab sheets are the page control's business and
// never appear here). The main window's own children sit at its edges; panels keep a margin
// of 1, every other container one of 4.
DockPlan PlanDocking(const FormModel& form, std::string_view parent);

struct LayoutRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const LayoutRect&) const = default;
};

struct LayoutSize {
  int width = 0;
  int height = 0;
};

// The size a control would like at most `availableWidth` wide, as the front end measures it
// (caption, font, its own children). Design sizes are applied on top by PlaceDocked: a design
// height is kept, a design width is kept, except that a button may grow to fit its caption.
using PreferredSize = std::function<LayoutSize(const Control&, int availableWidth)>;

struct Placement {
  std::vector<std::pair<const Control*, LayoutRect>> rects;  // visible controls only
  // The height the controls need at this width: docked and flowing ones as placed, client
  // controls at their preferred height (a window grows to it rather than cut a control off).
  int neededHeight = 0;
};

// Places the visible controls of a plan inside `area` (the container's client area).
Placement PlaceDocked(const DockPlan& plan, LayoutRect area, const PreferredSize& preferred);
