// The device question the rest of the program asks: which devices does this machine have,
// by device instance identifier.
#pragma once

#include <string>
#include <vector>

// Clears `list` and fills it with the instance identifiers of the devices, in the order the
// system enumerates them (duplicates kept). `presentOnly` limits it to devices present now;
// `className` names a device setup class, "*" or "" meaning every class. True when the list
// is not empty afterwards.
bool GetDeviceList(std::vector<std::string>& list, bool presentOnly, const std::string& className);
