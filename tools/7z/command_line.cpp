#include "command_line.h"

#include <cstdlib>

#include "tool_basics.h"

namespace seven_zip {

Style OutputStyle() {
  const char* style = std::getenv("VELMORA_7Z_STYLE");
  return style != nullptr && Lower(style) == "modern" ? Style::Modern : Style::Classic;
}

bool Is7zzBannerLine(const std::string& line) {
  return line.compare(0, 6, "7-Zip ") == 0 ||
         (line.compare(0, 1, " ") == 0 && line.find("locale=") != std::string::npos);
}

std::string ParseCommandLine(int argc, char** argv, Options& options) {
  if (argc < 2)
    return "Cannot find the command. Usage: 7z x <archive> -o<folder> [*.inf -r | @<listfile>] -y";
  if (Lower(argv[1]) != "x") return std::string("Unsupported command: ") + argv[1];
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.size() >= 2 && arg[0] == '-') {
      const std::string lower = Lower(arg);
      if (lower == "-y") continue;  // every question is answered yes anyway: this tool never asks
      if (options.style == Style::Modern && lower.compare(0, 3, "-bb") == 0 &&
          (lower.size() == 3 || (lower.size() == 4 && lower[3] >= '0' && lower[3] <= '3'))) {
        options.listLevel = lower.size() == 3 ? 1 : lower[3] - '0';
        continue;
      }
      if (lower == "-r") {
        options.recursive = true;
      } else if (lower.compare(0, 2, "-o") == 0) {
        if (arg.size() == 2) return "The switch -o needs a folder";
        options.outputFolder = arg.substr(2);
      } else {
        return "Unsupported switch: " + arg;
      }
    } else if (arg[0] == '@' && !options.archive.empty()) {
      if (arg.size() == 1) return "The list file name is missing after @";
      options.listFiles.push_back(arg.substr(1));
    } else if (options.archive.empty()) {
      options.archive = arg;
    } else {
      options.wildcards.push_back(arg);
    }
  }
  if (options.archive.empty()) return "Cannot find archive name";
  return {};
}

}  // namespace seven_zip
