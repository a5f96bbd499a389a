// The archive tool's command line and the form of its output (7-Zip 9.20's or 7zz's own).
#pragma once

#include <string>
#include <vector>

namespace seven_zip {

// The output form: 7-Zip 9.20's (Classic) or that of 7-Zip 15 and later (Modern).
enum class Style { Classic, Modern };

Style OutputStyle();

constexpr const char* kClassicBanner = "7-Zip [32] 9.20  Copyright (c) 1999-2010 Igor Pavlov  2010-11-18";

// The two lines of 7zz's own banner: "7-Zip (z) 22.01 (x64) : Copyright ..." and the line of its
// build details (" 64-bit locale=C.UTF-8 Threads:2"), which the Classic form replaces by its own.
bool Is7zzBannerLine(const std::string& line);

struct Options {
  Style style = Style::Classic;
  int listLevel = 0;  // -bb<n>: 1 and above list the extracted items in the Modern form
  std::string archive;
  std::string outputFolder = ".";
  std::vector<std::string> wildcards;
  std::vector<std::string> listFiles;
  bool recursive = false;
};

// Returns an empty text on success, otherwise the complaint.
std::string ParseCommandLine(int argc, char** argv, Options& options);

}  // namespace seven_zip
