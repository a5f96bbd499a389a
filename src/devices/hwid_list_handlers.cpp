// Another computer's hardware: the IDs of a hardware list file, or of a loaded device tree,
// become the IDs the search works from instead of this computer's.
#include <exception>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "base/text_util.h"
#include "devices/hwid_list.h"
#include "devices/hwid_rules.h"
#include "platform/files.h"
#include "shared/shared_functions.h"

namespace {

// The tool a list came from, as the log names it.
std::string KindName(const TMainfrm& window, HwidListKind kind) {
  switch (kind) {
    case HwidListKind::DevconHwids:
      return "devcon hwids";
    case HwidListKind::PnputilIds:
      return "pnputil /enum-devices /ids";
    case HwidListKind::PlainList:
      break;
  }
  return window.Msg("log129");
}

// The supported IDs among a tree's device lines, in tree order. The roots are the computer and
// the classes ("*Display"), which only look like star-form IDs: the device lines lie below them.
std::vector<std::string> TreeIds(const TreeRoots& roots) {
  std::vector<std::string> ids;
  std::vector<const TreeNode*> pending;
  for (auto root = roots.rbegin(); root != roots.rend(); ++root) {
    if (*root == nullptr) continue;
    for (auto it = (*root)->children.rbegin(); it != (*root)->children.rend(); ++it) pending.push_back(it->get());
  }
  while (!pending.empty()) {
    const TreeNode* node = pending.back();
    pending.pop_back();
    if (node == nullptr) continue;
    const std::string text = TrimBlanks(node->text);
    if (IsSupportedHWid(text)) ids.push_back(text);
    for (auto it = node->children.rbegin(); it != node->children.rend(); ++it) pending.push_back(it->get());
  }
  return ids;
}

}  // namespace

bool TMainfrm::UseHardwareList(const std::string& path) {
  std::string bytes;
  try {
    bytes = platform::ReadWholeFile(path);
  } catch (const std::exception& e) {
    LogKey("log123", {path, e.what()});
    StepFailed();
    return false;
  }
  const HwidList list = ParseHwidList(bytes);
  std::vector<std::string> ids = SearchIdsOfList(list.devices);
  LogKey("log122", {path, KindName(*this, list.kind), std::to_string(list.devices.size())});
  if (ids.empty()) {
    StepFailed();
    return false;
  }
  form_.SetItems("HWIDSforWorkcbx", std::move(ids));
  hardwareIdSource_ = path;
  return true;
}

void TMainfrm::LoadHwidListBtnClick() {
  const auto path = ui_.OpenFile(Caption("LoadHwidListBtn"), "Text file|*.txt|All files|*.*|", Caption("Workdir"));
  if (!path) return;
  UseHardwareList(*path);
}

// A loaded tree of another computer (its first root names the computer) gives the search that
// computer's device IDs; this computer's own tree changes nothing.
void TMainfrm::UseTreeIds(const std::string& file) {
  const TreeRoots& roots = form_.Tree("EqTreeView");
  if (roots.empty() || roots.front() == nullptr) return;
  const std::string computer = TrimBlanks(roots.front()->text);
  if (computer == GetComputerNetName()) return;
  std::vector<std::string> ids = TreeIds(roots);
  if (ids.empty()) return;  // a tree without device lines names no hardware to search for
  LogKey("log122", {file, computer, std::to_string(ids.size())});
  form_.SetItems("HWIDSforWorkcbx", std::move(ids));
  hardwareIdSource_ = computer + " (" + file + ")";
}
