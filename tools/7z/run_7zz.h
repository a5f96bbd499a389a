// Running Debian's 7-Zip (7zz) and catching its output.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace seven_zip {

struct RunResult {
  std::string output;
  int exitCode = -1;
};

// Runs 7zz with its standard error joined to its output. `onOutput`, when given, is handed the
// output as it comes (in blocks cut anywhere), so reading it can go on while 7zz still writes.
RunResult Run7zz(const std::string& program, const std::vector<std::string>& args,
                 const std::function<void(std::string_view)>& onOutput = {});

std::vector<std::string> Lines(const std::string& text);

}  // namespace seven_zip
