#include "devices/get_device_list.h"

#include <algorithm>

#include "devices/hwid_rules.h"
#include "platform/devices.h"

namespace {

// An instance identifier has at most 199 characters; anything longer cannot be one.
bool UsableInstanceId(const std::string& id) { return !id.empty() && id.size() <= 199; }

}  // namespace

bool GetDeviceList(std::vector<std::string>& list, bool presentOnly, const std::string& className) {
  list.clear();
  list = platform::devices::EnumerateDeviceIds(presentOnly, className);
  std::erase_if(list, [](const std::string& id) { return !UsableInstanceId(id); });
  return !list.empty();
}

std::vector<std::string> SearchIdsOf(const std::vector<platform::devices::DeviceInfo>& devices) {
  std::vector<std::string> ids;
  for (const auto& device : devices) {
    if (!UsableInstanceId(device.instanceId)) continue;
    ids.push_back(device.instanceId);
    for (const std::string& hardwareId : device.hardwareIds) {
      if (IsStarHWid(hardwareId)) ids.push_back(hardwareId);
    }
  }
  return ids;
}
