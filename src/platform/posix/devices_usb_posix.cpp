// The sysfs device enumeration: USB devices and interfaces, and the HID devices on them.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/posix/sysfs_devices.h"

namespace platform::devices::sysfs {

namespace {

struct UsbFunction {
  std::string className;
  std::string description;
};

UsbFunction UsbFunctionOf(std::uint32_t cls, std::uint32_t sub, std::uint32_t protocol) {
  switch (cls) {
    case 0x01:
      return {"Media", "USB Audio Device"};
    case 0x02:
      if (sub == 0x06 || sub == 0x0A || sub == 0x0D || sub == 0x0E) return {"Net", "USB Ethernet Adapter"};
      return {"Ports", "USB Serial Device"};
    case 0x03:
      return {"HIDClass", "USB Input Device"};
    case 0x06:
      return {"Image", "USB Imaging Device"};
    case 0x07:
      return {"USB", "USB Printing Support"};
    case 0x08:
      return {"USB", "USB Mass Storage Device"};
    case 0x09:
      return {"USB", "Generic USB Hub"};
    case 0x0A:
      return {"Ports", "USB Serial Device"};
    case 0x0B:
      return {"SmartCardReader", "USB Smart Card Reader"};
    case 0x0E:
      return {"Image", "USB Video Device"};
    case 0x10:
      return {"Media", "USB Audio/Video Device"};
    case 0xE0:
      if (sub == 0x01 && protocol == 0x01) return {"Bluetooth", "Generic Bluetooth Radio"};
      return {"Net", "USB Wireless Adapter"};
    default:
      return {"USB", "USB Device"};
  }
}

}  // namespace

std::vector<UsbInterface> Enumerator::UsbInterfacesOf(const fs::path& busDir,
                                                      const std::vector<std::string>& names,
                                                      const std::string& deviceName) {
  std::vector<UsbInterface> interfaces;
  // A root hub "usb2" has its interface as "2-0:1.0".
  const std::string prefix = StartsWith(deviceName, "usb") ? deviceName.substr(3) + "-0:" : deviceName + ":";
  for (const auto& name : names) {
    if (!StartsWith(name, prefix)) continue;
    UsbInterface entry;
    entry.dir = Resolve(busDir / name);
    if (entry.dir.empty()) continue;
    const auto number = ReadHex(entry.dir, "bInterfaceNumber", 0xFF);
    const auto cls = ReadHex(entry.dir, "bInterfaceClass", 0xFF);
    if (!number || !cls) continue;
    entry.number = *number;
    entry.cls = *cls;
    entry.sub = ReadHex(entry.dir, "bInterfaceSubClass", 0xFF).value_or(0);
    entry.protocol = ReadHex(entry.dir, "bInterfaceProtocol", 0xFF).value_or(0);
    interfaces.push_back(std::move(entry));
  }
  std::sort(interfaces.begin(), interfaces.end(),
            [](const UsbInterface& a, const UsbInterface& b) { return a.number < b.number; });
  return interfaces;
}

// The number after the last "-" or "." of "1-1.4": the port on the parent hub.
std::optional<std::uint32_t> UsbPort(const std::string& name) {
  const auto pos = name.find_last_of("-.");
  if (pos == std::string::npos) return std::nullopt;
  return ParseDec(std::string_view(name).substr(pos + 1), 255);
}

void Enumerator::EnumerateUsb() {
  const auto dir = root_ / "bus" / "usb" / "devices";
  const auto names = ListNames(dir);
  for (const auto& name : names) {
    if (name.find(':') != std::string::npos) continue;  // an interface, listed with its device
    const auto device = Resolve(dir / name);
    if (device.empty()) continue;
    const auto vendor = ReadHex(device, "idVendor", 0xFFFF);
    const auto product = ReadHex(device, "idProduct", 0xFFFF);
    if (!vendor || !product) continue;
    const auto interfaces = UsbInterfacesOf(dir, names, name);
    if (StartsWith(name, "usb")) {
      AddRootHub(device, *product, interfaces);
      continue;
    }
    const auto port = UsbPort(name);
    if (!port) continue;
    const auto deviceClass = ReadHex(device, "bDeviceClass", 0xFF).value_or(0);
    const auto interfaceCount = ReadDec(device, "bNumInterfaces", 255).value_or(0);
    // Windows puts a generic parent with one child per interface over devices that leave
    // their class to the interfaces (class 0, or "miscellaneous" with association descriptors).
    const bool composite = interfaceCount > 1 && (deviceClass == 0x00 || deviceClass == 0xEF);
    const std::string hardwareId = "USB\\VID_" + Hex(*vendor, 4) + "&PID_" + Hex(*product, 4);
    const int level = 5 + static_cast<int>(std::count(name.begin(), name.end(), '.'));

    // Microsoft, "Standard USB identifiers" (learn.microsoft.com/windows-hardware/drivers/install/
    // standard-usb-identifiers): "USB\VID_v&PID_p&REV_r", then "USB\VID_v&PID_p"; an interface
    // of a composite device adds "&MI_nn" to both.
    const auto bcdDevice = ReadHex(device, "bcdDevice", 0xFFFF);
    const std::string revisionPart = bcdDevice ? "&REV_" + Hex(*bcdDevice, 4) : "";
    DeviceInfo info;
    if (bcdDevice) info.hardwareIds.push_back(hardwareId + revisionPart);
    info.hardwareIds.push_back(hardwareId);
    const auto serial = ReadAttr(device, "serial");
    const bool serialUsable = serial && IsCleanIdPart(*serial) && serial->size() <= 126;
    info.instanceId =
        hardwareId + "\\" +
        (serialUsable ? *serial
                      : GeneratedInstance(level, Below(device.parent_path()), std::to_string(*port)));
    UsbFunction function;
    if (composite) {
      function = {"USB", "USB Composite Device"};
    } else if (deviceClass == 0x09 || interfaces.empty()) {
      function = UsbFunctionOf(deviceClass, 0, 0);
    } else {
      function = UsbFunctionOf(interfaces.front().cls, interfaces.front().sub, interfaces.front().protocol);
    }
    info.className = function.className;
    const auto manufacturer = ReadAttr(device, "manufacturer").value_or("");
    const auto productName = ReadAttr(device, "product").value_or("");
    info.description = productName.empty()    ? function.description
                       : manufacturer.empty() ? productName
                                              : manufacturer + " " + productName;
    info.idBus = DeviceInfo::IdBus::Usb;
    info.vendorId = static_cast<std::uint16_t>(*vendor);
    info.deviceId = static_cast<std::uint16_t>(*product);
    // A single-function device is driven by its (first) interface's driver.
    const fs::path driverDir = (!composite && !interfaces.empty()) ? interfaces.front().dir : device;
    Add(std::move(info), driverDir);

    if (!composite) continue;
    for (const auto& entry : interfaces) {
      const auto interfaceFunction = UsbFunctionOf(entry.cls, entry.sub, entry.protocol);
      DeviceInfo child;
      child.instanceId = hardwareId + "&MI_" + Hex(entry.number, 2) + "\\" +
                         GeneratedInstance(level + 1, Below(device), Hex(entry.number, 4));
      const std::string mi = "&MI_" + Hex(entry.number, 2);
      if (bcdDevice) child.hardwareIds.push_back(hardwareId + revisionPart + mi);
      child.hardwareIds.push_back(hardwareId + mi);
      child.className = interfaceFunction.className;
      child.description = interfaceFunction.description;
      Add(std::move(child), entry.dir);
    }
  }
}

void Enumerator::AddRootHub(const fs::path& device, std::uint32_t product,
                            const std::vector<UsbInterface>& interfaces) {
  const fs::path controller = device.parent_path();
  const auto controllerClass = ReadHex(controller, "class", 0xFFFFFF);
  const bool xhci = controllerClass && *controllerClass == 0x0C0330;
  std::string hub;
  if (product == 0x0003) {
    hub = "ROOT_HUB30";
  } else if (product == 0x0002) {
    if (xhci) return;  // Windows shows one USB 3 root hub for both halves of an xHCI controller
    hub = "ROOT_HUB20";
  } else {
    hub = "ROOT_HUB";
  }
  DeviceInfo info;
  info.instanceId = "USB\\" + hub + "\\" + GeneratedInstance(4, Below(controller), "");
  info.className = "USB";
  info.description = hub == "ROOT_HUB30" ? "USB Root Hub (USB 3.0)" : "USB Root Hub";
  Add(std::move(info), interfaces.empty() ? device : interfaces.front().dir);
}

namespace {

// "0003:046D:C077.0001"
bool ParseHidName(const std::string& name, std::uint32_t& bus, std::uint32_t& vendor,
                  std::uint32_t& product) {
  if (name.size() < 19 || name[4] != ':' || name[9] != ':' || name[14] != '.') return false;
  const auto b = ParseHex(std::string_view(name).substr(0, 4), 0xFFFF);
  const auto v = ParseHex(std::string_view(name).substr(5, 4), 0xFFFF);
  const auto p = ParseHex(std::string_view(name).substr(10, 4), 0xFFFF);
  if (!b || !v || !p || !IsHexText(std::string_view(name).substr(15))) return false;
  bus = *b;
  vendor = *v;
  product = *p;
  return true;
}

// Mouse when the input layer made a mouse device of it, keyboard when it has keyboard
// LEDs; otherwise the boot protocol of the USB interface decides.
std::string HidClass(const fs::path& hid, const fs::path& usbInterface) {
  for (const auto& input : ListNames(hid / "input")) {
    for (const auto& child : ListNames(hid / "input" / input)) {
      if (StartsWith(child, "mouse")) return "Mouse";
      if (child.size() > 10 && child.substr(child.size() - 10) == "::capslock") return "Keyboard";
    }
  }
  if (!usbInterface.empty() && ReadHex(usbInterface, "bInterfaceSubClass", 0xFF).value_or(0) == 0x01) {
    const auto protocol = ReadHex(usbInterface, "bInterfaceProtocol", 0xFF).value_or(0);
    if (protocol == 0x01) return "Keyboard";
    if (protocol == 0x02) return "Mouse";
  }
  return "HIDClass";
}

}  // namespace

void Enumerator::EnumerateHid() {
  const auto dir = root_ / "bus" / "hid" / "devices";
  for (const auto& name : ListNames(dir)) {
    std::uint32_t bus = 0;
    std::uint32_t vendor = 0;
    std::uint32_t product = 0;
    if (!ParseHidName(name, bus, vendor, product)) continue;
    const auto device = Resolve(dir / name);
    if (device.empty()) continue;
    std::string id = "HID\\VID_" + Hex(vendor, 4) + "&PID_" + Hex(product, 4);
    fs::path usbInterface;
    int level = 5;
    if (bus == 0x0003) {
      const auto parent = device.parent_path();
      const auto number = ReadHex(parent, "bInterfaceNumber", 0xFF);
      if (number) {
        usbInterface = parent;
        const auto usbDevice = parent.parent_path();
        const auto interfaceCount = ReadDec(usbDevice, "bNumInterfaces", 255).value_or(0);
        const auto usbName = usbDevice.filename().string();
        level = 6 + static_cast<int>(std::count(usbName.begin(), usbName.end(), '.'));
        if (interfaceCount > 1) {
          id += "&MI_" + Hex(*number, 2);
          ++level;
        }
      }
    }
    DeviceInfo info;
    info.instanceId = id + "\\" + GeneratedInstance(level, Below(device.parent_path()), "0000");
    info.className = HidClass(device, usbInterface);
    info.description = info.className == "Mouse"      ? "HID-compliant mouse"
                       : info.className == "Keyboard" ? "HID Keyboard Device"
                                                      : "HID-compliant device";
    Add(std::move(info), device);
  }
}

}  // namespace platform::devices::sysfs
