// Rules that turn a device instance identifier into the shorter hardware identifiers that
// driver INF files list: the bus test, the instance cut, the level reductions and the
// removal of repeated identifiers. Pure functions on 8-bit text; comparisons are byte-wise
// and case-sensitive unless a rule says otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// True when the identifier contains one of the bus markers "PCI\", "HDAUDIO\", "SCSI\",
// "HID\", "USB\", "ACPI\", "DISPLAY\" anywhere (case-sensitive), or is in the star form.
bool IsSupportedHWid(const std::string& id);

// The star form of a hardware identifier, which Windows lists for ACPI (and older ISA) devices
// beside the "ACPI\" form and which INF files name such devices by: "*" and then the device's
// identifier without a bus ("*PNP0303", "*PNP0A08"): no backslash, no blank, no control
// character. The instance cut and the reductions leave it as it is.
bool IsStarHWid(const std::string& id);

// Removes later repeats in place: the first occurrence of each text stays, the order of the
// survivors is kept. A null or empty list is left alone. Runs in linear expected time: when
// `comparisons` is given, the number of text comparisons made is added to it (about one per
// repeat, whatever the length of the list).
void DeleteDuples(std::vector<std::string>* list, std::size_t* comparisons = nullptr);

// The instance cut: the text before the second backslash, or the whole identifier when it
// has fewer than two backslashes.
std::string CutHw(const std::string& id);

// The instance cut followed by the reduction of the given level (1, 2 or 3; any other level
// reduces nothing). The bus decides the qualifier marker cut at:
//   PCI, HDAUDIO: &REV / &SUBSYS / &DEV     SCSI: &REV / &PROD / &PROD
//   USB, HID:     &COL / &MI / &PID         ACPI: _MODEL / _FAMILY / _FAMILY
//   DISPLAY:      "DISPLAY\" becomes "MONITOR\" (any letter case) at levels 1 to 3
std::string DecreaseHWID(const std::string& id, std::uint8_t level);
