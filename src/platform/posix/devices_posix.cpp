// Device enumeration on Linux: the present devices read from sysfs and written as the
// device instance identifiers Windows would give them, with a device setup class guessed
// from the bus's class codes, the kernel module as the driver and its files from
// modules.dep.
//
// Everything is read below one root (VELMORA_SYSFS, default "/sys"); the processor comes
// from <root>/../proc/cpuinfo and the kernel modules from <root>/../lib/modules/<release>
// (<release> from <root>/../proc/sys/kernel/osrelease), so a test tree holds a whole
// small machine. Entries that are missing, unreadable or not what they should be leave
// their device out; nothing here throws for a strange tree.
//
// This file: the enumerator's frame and the platform functions; each bus is read in its own
// file (devices_<bus>_posix.cpp), the careful reading of sysfs in sysfs_read_posix.cpp.
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/devices.h"
#include "platform/posix/sysfs_devices.h"

namespace platform::devices {
namespace sysfs {

Enumerator::Enumerator(bool withDrivers, std::string onlyClass)
    : withDrivers_(withDrivers), onlyClass_(std::move(onlyClass)) {
  if (onlyClass_ == "*") onlyClass_.clear();
  const char* env = std::getenv("VELMORA_SYSFS");
  root_ = (env != nullptr && *env != '\0') ? fs::path(env) : fs::path("/sys");
  std::error_code ec;
  canonicalRoot_ = fs::canonical(root_, ec);
  if (ec) canonicalRoot_ = root_.lexically_normal();
}

std::vector<DeviceInfo> Enumerator::Run() {
  EnumeratePci();
  EnumerateUsb();
  EnumerateHid();
  EnumerateHdAudio();
  EnumerateScsi();
  EnumerateDisplays();
  EnumerateAcpi();
  EnumerateProcessors();
  return std::move(devices_);
}

fs::path Enumerator::Resolve(const fs::path& path) const {
  std::error_code ec;
  auto resolved = fs::canonical(path, ec);
  if (ec) return {};
  return resolved;
}

std::string Enumerator::Below(const fs::path& resolved) const {
  return resolved.lexically_relative(canonicalRoot_).generic_string();
}

void Enumerator::Add(DeviceInfo info, const fs::path& deviceDir) {
  if (info.instanceId.empty() || info.instanceId.size() > kMaxInstanceIdLength) return;
  if (!onlyClass_.empty() && !EqualNoCase(info.className, onlyClass_)) return;
  if (withDrivers_ && !deviceDir.empty()) FillDriver(info, deviceDir);
  devices_.push_back(std::move(info));
}

void Enumerator::FillDriver(DeviceInfo& info, const fs::path& deviceDir) {
  std::error_code ec;
  const auto driverLink = fs::read_symlink(deviceDir / "driver", ec);
  if (ec) return;
  std::string module;
  const auto moduleLink = fs::read_symlink(deviceDir / "driver" / "module", ec);
  if (!ec) module = moduleLink.filename().string();
  if (module.empty()) module = driverLink.filename().string();
  module = ModuleKey(module);
  if (module.empty()) return;
  info.driver = module;
  if (!modules_.loaded) LoadModuleTables(root_, modules_);
  if (modules_.dir.empty()) {
    info.driverSource = "kernel";
    return;
  }
  if (const auto it = modules_.dep.find(module); it != modules_.dep.end()) {
    info.driverSource = (modules_.dir / "modules.dep").string();
    for (const auto& file : it->second) {
      info.driverFiles.push_back(StartsWith(file, "/") ? file : (modules_.dir / file).string());
    }
  } else {
    info.driverSource = (modules_.dir / "modules.builtin").string();
  }
}

}  // namespace sysfs

namespace {

bool bound = false;

}  // namespace

bool InitPnpApi() {
  bound = true;
  return true;
}

bool FreePnpApi() {
  const bool wasBound = bound;
  bound = false;
  return wasBound;
}

std::vector<BoundFunction> BoundFunctions() { return {}; }

std::vector<std::string> EnumerateDeviceIds(bool /*presentOnly: sysfs lists present devices only*/,
                                            const std::string& className) {
  if (!bound) return {};  // as on Windows, where nothing answers before the binding
  const bool allClasses = className.empty() || className == "*";
  std::vector<std::string> ids;
  for (auto& device : sysfs::Enumerator(false).Run()) {
    if (allClasses || sysfs::EqualNoCase(device.className, className))
      ids.push_back(std::move(device.instanceId));
  }
  return ids;
}

std::vector<DeviceInfo> EnumerateHardwareIds() {
  if (!bound) return {};
  auto devices = sysfs::Enumerator(false).Run();
  for (auto& device : devices) {
    device.className.clear();
    device.description.clear();
  }
  return devices;
}

std::vector<DeviceInfo> EnumerateDevices(const std::string& className) {
  if (!bound) return {};
  return sysfs::Enumerator(true, className).Run();
}

}  // namespace platform::devices
