#include "devices/get_device_list.h"

#include <algorithm>

#include "platform/devices.h"

bool GetDeviceList(std::vector<std::string>& list, bool presentOnly, const std::string& className) {
  list.clear();
  list = platform::devices::EnumerateDeviceIds(presentOnly, className);
  // An instance identifier has at most 199 characters; anything longer cannot be one.
  std::erase_if(list, [](const std::string& id) { return id.empty() || id.size() > 199; });
  return !list.empty();
}
