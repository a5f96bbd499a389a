// The two kinds of 7-Zip command-line tool the program meets, told apart by the banner the tool
// prints first, and what each kind prints for the files it extracts:
// - 7-Zip before version 15 (4.57, 9.20): one "Extracting  <path>" line per extracted item;
// - 7-Zip 15 and later: "Extracting archive: <pack>" for the archive, and one "- <path>" line per
//   extracted item only when the command line holds "-bb1".
// Everything here is pure text work; running the tool is the caller's business.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class ArchiverKind {
  Unknown,  // no 7-Zip banner was recognised: the command lines are used as written
  Classic,  // 7-Zip before version 15: lists every extracted item by itself
  Current,  // 7-Zip 15 and later: lists extracted items only when asked with -bb1
};

struct ArchiverBanner {
  ArchiverKind kind = ArchiverKind::Unknown;
  std::string line;     // the banner line as the tool printed it (empty when none was found)
  std::string version;  // "9.20", "16.02", "23.01"
};

// The kind of tool from the lines it printed when run without arguments. The banner is the first
// line that starts with "7-Zip ": after that word come any number of marks in brackets or
// parentheses ("[32]", "(a)", "(z)", "(x64)"), then the version, digits, a dot and digits ("9.20",
// "16.02"). Major version 15 and above is Current, below is Classic. A first "7-Zip " line of any
// other shape, or no such line, gives Unknown (with the line kept when there was one).
ArchiverBanner ParseArchiverBanner(const std::vector<std::string>& lines);

// The switch that makes a Current tool list the items it extracts.
inline constexpr std::string_view kListItemsSwitch = "-bb1";

// The command line as it is run for the kind: with " -bb1" appended for a Current tool; the
// command line unchanged for the other kinds, which do not know that switch.
std::string ArchiverCommandLine(const std::string& commandLine, ArchiverKind kind);

// The archive path an output line names as extracted, or nothing when the line names none:
// - a line starting with "Extracting archive:" names the archive, never an item: nothing;
// - any other line starting with "Extracting" gives the text after its first eleven characters
//   (empty when the line is not longer), the blank before the path included, as before;
// - a line starting with "- " gives the text after those two characters, unless that text is
//   empty or ends with a path separator (a folder, as newer tools print them);
// - any other line: nothing.
// Both forms are read whatever the tool's kind, so a tool whose banner was not recognised still
// has its items gathered in either form.
std::optional<std::string> ExtractedItemPath(std::string_view line);

// ExtractedItemPath of every line, in order, the lines that name no item left out.
std::vector<std::string> ExtractedItemPaths(const std::vector<std::string>& lines);

// The lines in which the tool tells of an item it could not extract, in order: every line that
// starts with "ERROR:" (7-Zip's "ERROR: CRC Failed : <path>", the Linux tool's "ERROR: <path> :
// <why>"), the Linux tool's "WARNING: skipped <path> : <why>" for an item it refuses (a link, a
// path out of the output folder, a line break in the name), and an item line of 7-Zip 9.20 whose
// path is followed by blanks and its error words ("Extracting  <path>     CRC Failed", "Data
// Error", "Unsupported Method").
std::vector<std::string> ItemErrorLines(const std::vector<std::string>& lines);

// ExtractedItemPaths less the items the error lines name: an item line of 7-Zip 9.20 that ends in
// error words, and a path equal to a " : "-separated part of an "ERROR:" line (blanks around
// both ignored). What the tool reported as extracted otherwise is kept, whatever its exit code.
std::vector<std::string> GoodItemPaths(const std::vector<std::string>& lines);
