// Telling the kinds of 7-Zip tool apart by their banners, the command lines each kind is given,
// and the items read from the output lines of either kind, hostile lines included.
#include "packs/archiver_kind.h"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;

TEST(ArchiverKindTest, BannersGiveTheKindAndVersion) {
  struct Case {
    Lines output;
    ArchiverKind kind;
    const char* version;
    const char* line;  // the banner line kept
  };
  const char* v920 = "7-Zip [32] 9.20  Copyright (c) 1999-2010 Igor Pavlov  2010-11-18";
  const char* v1602 = "7-Zip [32] 16.02 : Copyright (c) 1999-2016 Igor Pavlov : 2016-05-21";
  const char* debian = "7-Zip (z) 22.01 (x64) : Copyright (c) 1999-2022 Igor Pavlov : 2022-07-15";
  const Case cases[] = {
      // The forms of the versions met in the field, as the tool prints them without arguments.
      {{"", v920, "", "Usage: 7z <command> [<switches>...] <archive_name>"},
       ArchiverKind::Classic,
       "9.20",
       v920},
      {{"7-Zip 9.20  Copyright (c) 1999-2010 Igor Pavlov  2010-11-18"},
       ArchiverKind::Classic,
       "9.20",
       nullptr},
      {{"7-Zip (A) 9.20  Copyright (c) 1999-2010 Igor Pavlov  2010-11-18"},
       ArchiverKind::Classic,
       "9.20",
       nullptr},
      {{"7-Zip 4.57  Copyright (c) 1999-2007 Igor Pavlov  2007-12-06"},
       ArchiverKind::Classic,
       "4.57",
       nullptr},
      {{"7-Zip [64] 9.38 beta  Copyright (c) 1999-2014 Igor Pavlov  2015-01-03"},
       ArchiverKind::Classic,
       "9.38",
       nullptr},
      {{"", v1602, "p7zip Version 16.02 (locale=C,Utf16=off,HugeFiles=on,64 bits)"},
       ArchiverKind::Current,
       "16.02",
       v1602},
      {{"7-Zip [64] 15.05 beta : Copyright (c) 1999-2015 Igor Pavlov : 2015-06-14"},
       ArchiverKind::Current,
       "15.05",
       nullptr},
      {{"7-Zip (a) 23.01 (x86) : Copyright (c) 1999-2023 Igor Pavlov : 2023-06-20"},
       ArchiverKind::Current,
       "23.01",
       nullptr},
      {{"7-Zip 22.01 (x64) : Copyright (c) 1999-2022 Igor Pavlov : 2022-07-15"},
       ArchiverKind::Current,
       "22.01",
       nullptr},
      {{"", debian, " 64-bit locale=C.UTF-8 Threads:2 OPEN_MAX:1024"},
       ArchiverKind::Current,
       "22.01",
       debian},
      {{"7-Zip (z) 26.02 (x64) : Copyright (c) 1999-2026 Igor Pavlov : 2026-06-25"},
       ArchiverKind::Current,
       "26.02",
       nullptr},
      // The first banner counts.
      {{v920, v1602}, ArchiverKind::Classic, "9.20", v920},
      // Unknown: no banner, or a first "7-Zip " line of another shape; the line is kept all the same.
      {{}, ArchiverKind::Unknown, "", ""},
      {{"", "Usage: 7z <command>", "Extracting  a.inf"}, ArchiverKind::Unknown, "", ""},
      {{"7-Zip"}, ArchiverKind::Unknown, "", ""},
      {{"7-Zip [32]"}, ArchiverKind::Unknown, "", "7-Zip [32]"},
      {{"7-Zip is not here 16.02"}, ArchiverKind::Unknown, "", "7-Zip is not here 16.02"},
      {{"7-Zip 16"}, ArchiverKind::Unknown, "", "7-Zip 16"},
      {{"7-Zip .02"}, ArchiverKind::Unknown, "", "7-Zip .02"},
      {{"7-Zip 16."}, ArchiverKind::Unknown, "", "7-Zip 16."},
      {{"7-Zip 16.0x"}, ArchiverKind::Unknown, "", "7-Zip 16.0x"},
      {{"7-Zip 1x.02"}, ArchiverKind::Unknown, "", "7-Zip 1x.02"},
      {{"7-Zip 99999999999999999999.1"}, ArchiverKind::Unknown, "", "7-Zip 99999999999999999999.1"},
      {{"7-Zip [32 16.02"}, ArchiverKind::Unknown, "", "7-Zip [32 16.02"},
      {{"7-Zip (z 22.01"}, ArchiverKind::Unknown, "", "7-Zip (z 22.01"},
      {{"7-Zip 16.02.1"}, ArchiverKind::Unknown, "", "7-Zip 16.02.1"},
      // Not the banner word: another program, or the word later in a line.
      {{"7-Zipper 16.02"}, ArchiverKind::Unknown, "", ""},
      {{"p7zip Version 16.02", " 7-Zip 16.02"}, ArchiverKind::Unknown, "", ""},
      {{"7-zip 16.02"}, ArchiverKind::Unknown, "", ""},
      // Version 15 is the first of the newer kind; 14 and 9.99 the older one.
      {{"7-Zip 15.00"}, ArchiverKind::Current, "15.00", nullptr},
      {{"7-Zip 14.99"}, ArchiverKind::Classic, "14.99", nullptr},
      {{"7-Zip 9.99"}, ArchiverKind::Classic, "9.99", nullptr},
      {{"7-Zip 150.0"}, ArchiverKind::Current, "150.0", nullptr},
  };
  for (const Case& c : cases) {
    const std::string shown = c.output.empty()      ? "(nothing)"
                              : c.output.size() > 1 ? c.output[1]
                                                    : c.output[0];
    SCOPED_TRACE(shown);
    const ArchiverBanner banner = ParseArchiverBanner(c.output);
    EXPECT_EQ(banner.kind, c.kind);
    EXPECT_EQ(banner.version, c.version);
    const std::string line = c.line != nullptr ? c.line : c.output.front();
    EXPECT_EQ(banner.line, line);
  }
}

TEST(ArchiverKindTest, OnlyTheNewerKindGetsTheListSwitch) {
  const std::string line = "7z x C:\\PACKS\\GRAPHI~1.7Z -oC:\\Windows\\work\\ *.inf -r -y";
  EXPECT_EQ(ArchiverCommandLine(line, ArchiverKind::Current), line + " -bb1");
  EXPECT_EQ(ArchiverCommandLine(line, ArchiverKind::Classic), line);
  EXPECT_EQ(ArchiverCommandLine(line, ArchiverKind::Unknown), line);
}

TEST(ArchiverKindTest, ItemsAreReadFromTheLinesOfBothKinds) {
  struct Case {
    const char* line;
    std::optional<std::string> path;
  };
  const Case cases[] = {
      // Older tools: the text after the first eleven characters, its leading blank kept.
      {"Extracting  D\\G\\N\\1\\display.inf", " D\\G\\N\\1\\display.inf"},
      {"Extracting  D/L/Realtek Lan/rt lan.Inf", " D/L/Realtek Lan/rt lan.Inf"},
      {"Extracting  archive: a.inf", " archive: a.inf"},  // an item named "archive: a.inf"
      {"Extracting", ""},
      {"Extracting ", ""},
      {"Extracting  ", " "},
      {"ExtractingXYa.inf", "Ya.inf"},
      // Newer tools: the archive's own line is never an item, however it goes on.
      {"Extracting archive: C:\\PACKS\\GRAPHI~1.7Z", std::nullopt},
      {"Extracting archive: x.inf", std::nullopt},
      {"Extracting archive:", std::nullopt},
      {"Extracting archive:../../evil.inf", std::nullopt},
      // Newer tools with -bb1: "- <path>"; folders end with a separator and are no items.
      {"- D\\G\\N\\1\\display.inf", "D\\G\\N\\1\\display.inf"},
      {"- D/L/Realtek Lan/rt lan.Inf", "D/L/Realtek Lan/rt lan.Inf"},
      {"-  lead.inf", " lead.inf"},
      {"- - dash.inf", "- dash.inf"},
      {"- D/G/", std::nullopt},
      {"- D\\G\\", std::nullopt},
      {"- ", std::nullopt},
      {"-", std::nullopt},
      {"-D/a.inf", std::nullopt},
      {"--", std::nullopt},
      // Everything else either kind prints.
      {"", std::nullopt},
      {"7-Zip [32] 16.02 : Copyright (c) 1999-2016 Igor Pavlov : 2016-05-21", std::nullopt},
      {"Processing archive: pack.7z", std::nullopt},
      {"Path = pack.7z", std::nullopt},
      {"Everything is Ok", std::nullopt},
      {"ERROR: CRC Failed : D/a.inf", std::nullopt},
      {" Extracting  a.inf", std::nullopt},
      {"extracting  a.inf", std::nullopt},
      {"Skipping    a.inf", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(ExtractedItemPath(c.line), c.path);
  }

  // A whole output of each kind gives its items in order.
  const Lines older = {"",
                       "7-Zip [32] 9.20  Copyright (c) 1999-2010 Igor Pavlov  2010-11-18",
                       "",
                       "Processing archive: C:\\PACKS\\NET.7Z",
                       "",
                       "Extracting  L\\1\\a.inf",
                       "Extracting  top.inf",
                       "",
                       "Everything is Ok"};
  EXPECT_EQ(ExtractedItemPaths(older), (Lines{" L\\1\\a.inf", " top.inf"}));
  const Lines newer = {"",
                       "7-Zip [32] 16.02 : Copyright (c) 1999-2016 Igor Pavlov : 2016-05-21",
                       "",
                       "Scanning the drive for archives:",
                       "1 file, 1200 bytes (2 KiB)",
                       "",
                       "Extracting archive: C:\\PACKS\\NET.7Z",
                       "--",
                       "Path = C:\\PACKS\\NET.7Z",
                       "Type = 7z",
                       "",
                       "- L\\1\\a.inf",
                       "- L\\1\\",
                       "- top.inf",
                       "",
                       "Everything is Ok"};
  EXPECT_EQ(ExtractedItemPaths(newer), (Lines{"L\\1\\a.inf", "top.inf"}));
  EXPECT_TRUE(ExtractedItemPaths({}).empty());
}

// A tool that fails on some items still extracted the others: only what its error lines name is
// left out, in either tool's form.
TEST(ArchiverKind, ItemsNamedByErrorLinesAreLeftOutAndTheRestKept) {
  struct Case {
    const char* what;
    Lines output;
    Lines good;
    Lines errors;
  };
  const std::vector<Case> cases = {
      {"7-Zip's own error line",
       {"Extracting  D/good/good.inf", "Extracting  D/bad/bad.inf", "ERROR: CRC Failed : D/bad/bad.inf",
        "Sub items Errors: 1"},
       {" D/good/good.inf"},
       {"ERROR: CRC Failed : D/bad/bad.inf"}},
      {"the Linux tool's error line, the item never reported",
       {"Extracting  D/good/good.inf", "ERROR: D/bad/bad.inf : damaged in the archive, not extracted"},
       {" D/good/good.inf"},
       {"ERROR: D/bad/bad.inf : damaged in the archive, not extracted"}},
      {"7-Zip 9.20's error words after the item",
       {"Extracting  D/good/good.inf", "Extracting  D/bad/bad.inf     CRC Failed",
        "Extracting  D/u/u.inf     Unsupported Method", "Extracting  D/d/d.inf     Data Error"},
       {" D/good/good.inf"},
       {"Extracting  D/bad/bad.inf     CRC Failed", "Extracting  D/u/u.inf     Unsupported Method",
        "Extracting  D/d/d.inf     Data Error"}},
      {"newer form, the path named with blanks around it",
       {"- D/good/good.inf", "- D/bad/bad.inf", "ERROR: Data Error :  D/bad/bad.inf "},
       {"D/good/good.inf"},
       {"ERROR: Data Error :  D/bad/bad.inf "}},
      {"a name only like the error words, and an error naming no item",
       {"Extracting  D/CRC Failed", "Extracting  D/x  Data Error.inf", "ERROR: cannot read archive P.7z"},
       {" D/CRC Failed", " D/x  Data Error.inf"},
       {"ERROR: cannot read archive P.7z"}},
      {"a part of a path is no item", {"Extracting  D/a/a.inf", "ERROR: CRC Failed : D/a"}, {" D/a/a.inf"},
       {"ERROR: CRC Failed : D/a"}},
      {"the Linux tool's refused item, never reported as extracted",
       {"WARNING: skipped D/new_line/x.inf : line break in the name", "Extracting  D/a.inf",
        "WARNING: something else"},
       {" D/a.inf"},
       {"WARNING: skipped D/new_line/x.inf : line break in the name"}},
      {"nothing failed", {"Extracting  a.inf", "Everything is Ok"}, {" a.inf"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(GoodItemPaths(c.output), c.good);
    EXPECT_EQ(ItemErrorLines(c.output), c.errors);
  }
}

}  // namespace
