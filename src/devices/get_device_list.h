// The device question the rest of the program asks: which devices does this machine have,
// by device instance identifier.
#pragma once

#include <string>
#include <vector>

#include "platform/devices.h"

// Clears `list` and fills it with the instance identifiers of the devices, in the order the
// system enumerates them (duplicates kept). `presentOnly` limits it to devices present now;
// `className` names a device setup class, "*" or "" meaning every class. True when the list
// is not empty afterwards.
bool GetDeviceList(std::vector<std::string>& list, bool presentOnly, const std::string& className);

// The identifiers the search works from, device by device in the given order: the instance
// identifier, then those of the device's hardware identifiers that are in the star form
// ("*PNP0303"). The instance cut and the reductions reach the searchable form of every other
// hardware identifier from the instance identifier; the star form, which INF files name ACPI
// devices by, they never reach. Instance identifiers that are empty or longer than 199
// characters are left out with their device.
std::vector<std::string> SearchIdsOf(const std::vector<platform::devices::DeviceInfo>& devices);
