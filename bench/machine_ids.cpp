// Prints this machine's hardware identifiers as the driver search looks for them: the present
// devices' instance identifiers (VELMORA_SYSFS moves the tree, as for the program), kept when
// the search supports their bus, duplicates removed, each reduced at level 2; one per line.
// The benchmark of the whole unattended run plants these in its INF files and gives them to the
// script it compares with.
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "devices/get_device_list.h"
#include "devices/hwid_rules.h"
#include "platform/devices.h"

int main() {
  platform::devices::InitPnpApi();
  std::vector<std::string> ids;
  GetDeviceList(ids, true, "");
  std::vector<std::string> work;
  for (const std::string& id : ids) {
    if (IsSupportedHWid(id)) work.push_back(id);
  }
  DeleteDuples(&work);
  std::set<std::string> printed;
  for (const std::string& id : work) {
    const std::string reduced = DecreaseHWID(id, 2);
    if (!reduced.empty() && printed.insert(reduced).second) std::cout << reduced << '\n';
  }
  return std::cout ? 0 : 1;
}
