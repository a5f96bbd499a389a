// Which models section of an INF file applies to this Windows, and which present devices a
// driver package serves. The INF file is read by the system's INF functions; these are the rules
// applied to what they return.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace installer {

enum class Architecture { X86, Amd64, Arm64 };

struct Platform {
  Architecture architecture = Architecture::X86;
  unsigned major = 5;
  unsigned minor = 1;
  unsigned productType = 1;  // 1 workstation, 2 domain controller, 3 server
  unsigned build = 0;
};

// The platform decoration, from those a [Manufacturer] line lists after its models section
// ("NTx86", "NTamd64.6.1", "NT.6.0", "NTx86.10.0...17763"), that applies to `platform`:
// "NT" + architecture (none, or this machine's) + "." major "." minor "." product type "."
// suite mask "." build, each part optional. A version applies when the system's is the same or
// newer, a product type when it is the system's, a suite mask only when it is empty or 0. Of
// several that apply, the newest version wins, then a named architecture, then a product type.
// Returns the decoration as written; "" for the undecorated section, used when none applies on
// 32-bit Windows; nothing when none applies on 64-bit Windows, which uses decorated sections only.
// An undecorated "NT" counts as 32-bit only.
std::optional<std::string> ChooseDecoration(const std::vector<std::string>& decorations, const Platform& platform);

struct Model {
  std::string description;
  std::string installSection;
  std::vector<std::string> ids;  // hardware ID first, then compatible IDs, as the INF lists them
};

struct Device {
  std::string instanceId;
  std::vector<std::string> hardwareIds;
  std::vector<std::string> compatibleIds;
};

struct Served {
  std::size_t device = 0;  // index into the devices
  std::size_t model = 0;   // index into the models
  std::string id;          // the device's ID that matched, as the device spells it
  unsigned rank = 0;       // lower is better
};

// For each device, the model that serves it best, if any: IDs compared without regard to letter
// case; a device's hardware ID beats its compatible IDs, an earlier ID of the device beats a
// later one, a model's own hardware ID beats its compatible IDs, and the first model wins a tie.
// In device order.
std::vector<Served> MatchDevices(const std::vector<Model>& models, const std::vector<Device>& devices);

}  // namespace installer
