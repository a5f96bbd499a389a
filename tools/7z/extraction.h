// One extraction from start to end: list and judge the items, let 7zz extract the safe ones into
// a private folder, place them, print 7-Zip's lines and one line per item.
#pragma once

#include "command_line.h"

namespace seven_zip {

// Carries out the extraction `options` ask for and prints its lines; returns 7-Zip's exit code.
int Run(const Options& options);

}  // namespace seven_zip
