// Hardware lists brought from another computer: the text a device tool printed there, read as
// that tool writes it, turned into the identifiers the search works from.
//
// Three forms are read:
// - what "devcon hwids *" prints: per device an unindented instance identifier line, then
//   indented lines: "Name: <name>", a "Hardware IDs:" (older devcon: "Hardware ID's:") heading
//   with one identifier per deeper-indented line, and the same for the compatible IDs; at the end
//   "<n> matching device(s) found.";
// - what "pnputil /enum-devices /ids" prints: a title line, then per device a block of
//   "<label>:  <value>" lines separated by an empty line, whose first field is the instance
//   identifier; a field with several values ("Hardware IDs:", "Compatible IDs:") continues on
//   lines indented to its value column;
// - a plain list: one identifier per line; empty lines and lines beginning with ";" are skipped.
// Pure functions on text; a file written as UTF-16 (as a redirection in PowerShell writes it) or
// with a UTF-8 byte-order mark is read too.
#pragma once

#include <string>
#include <vector>

enum class HwidListKind { DevconHwids, PnputilIds, PlainList };

// One device of a list: its instance identifier (a plain list's identifier) and the hardware
// identifiers listed for it. Compatible identifiers are not kept: they name whole device classes
// ("PCI\CC_0300", "USB\Class_03"), and a search for them would find drivers of other devices.
struct ListedDevice {
  std::string instanceId;
  std::vector<std::string> hardwareIds;
};

struct HwidList {
  HwidListKind kind = HwidListKind::PlainList;
  std::vector<ListedDevice> devices;
};

// The text of a list file as 8-bit text: UTF-16 (little- or big-endian, by its byte-order mark)
// narrowed, a UTF-8 byte-order mark dropped; other bytes unchanged.
std::string HwidListText(const std::string& bytes);

// Which tool wrote the text: a pnputil block (an unindented "<label>:  <value>" line whose value
// holds a backslash), a devcon listing (an indented heading ending in "ID's:" or "IDs:", or the
// closing "matching device(s) found." line), otherwise a plain list.
HwidListKind DetectHwidListKind(const std::string& text);

std::vector<ListedDevice> ParseDevconHwids(const std::string& text);
std::vector<ListedDevice> ParsePnputilIds(const std::string& text);
std::vector<ListedDevice> ParsePlainIdList(const std::string& text);

// HwidListText, then the parser of the detected kind.
HwidList ParseHwidList(const std::string& bytes);

// The identifiers to search for, device by device: the instance identifier, then each hardware
// identifier whose searchable form (reduction level 2) differs from those already taken for the
// device, so a device's longer and shorter IDs are not searched for twice.
std::vector<std::string> SearchIdsOfList(const std::vector<ListedDevice>& devices);
