#include "extraction.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "item_patterns.h"
#include "listing.h"
#include "names.h"
#include "placement.h"
#include "platform/process.h"
#include "run_7zz.h"
#include "tool_basics.h"

namespace seven_zip {

namespace fs = std::filesystem;
namespace proc = platform::process;

namespace {

using item_patterns::Selected;

// The folders above a place in the output folder ("a/b/c" -> "a/b", "a").
template <typename Visit>
void ForEachFolderAbove(const std::string& key, Visit visit) {
  for (std::size_t at = key.rfind('/'); at != std::string::npos && at > 0; at = key.rfind('/', at - 1)) {
    visit(key.substr(0, at));
  }
}

// 7-Zip lists a line break in a name as "_", and no list of names can carry a line break. So a
// file listed with "_" that 7zz did not extract, or that the listing named twice, may be an item
// whose name holds one: a listing of exactly those names counts how many items of the archive
// really bear each, and the rest are skipped with a WARNING line. A folder listed with "_" that
// 7zz did not make and that held only such files is looked up the same way. Returns an ERROR
// line when the count cannot be made (those files then stay planned and end as not extracted).
std::string SkipNamesWithLineBreaks(const std::string& sevenZip, const std::string& archive,
                                    const std::string& listPath, int stagingFd, std::vector<Planned>& plan,
                                    std::vector<std::string>& warnings) {
  auto staged = [&](const Planned& p) {
    struct stat st {};
    return stagingFd >= 0 && ::fstatat(stagingFd, Joined(p.staged).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  };
  auto underscored = [](const Planned& p) { return p.name.find('_') != std::string::npos; };
  std::vector<bool> skip(plan.size(), false);
  // Looks the suspects up and marks those no item bears; false when the listing failed.
  std::string error;
  auto judge = [&](const std::vector<std::size_t>& suspects, bool folders) {
    std::vector<std::string> names;
    for (std::size_t i : suspects) names.push_back(plan[i].name);
    const auto real = CountItemsNamed(sevenZip, archive, names, folders, listPath, error);
    if (!real) return false;
    for (std::size_t i : suspects) {
      const Planned& p = plan[i];
      const auto found = real->find(Joined(p.target));
      const int bearing = found == real->end() ? 0 : found->second;
      for (int n = bearing; n < p.listed; ++n) {
        warnings.push_back("WARNING: skipped " + p.name + " : line break in the name");
      }
      skip[i] = bearing == 0;
    }
    return true;
  };

  std::vector<std::size_t> files;
  for (std::size_t i = 0; i < plan.size(); ++i) {
    const Planned& p = plan[i];
    if (!p.folder && underscored(p) && (p.listed > 1 || !staged(p))) files.push_back(i);
  }
  if (files.empty()) return {};
  if (!judge(files, false)) return "ERROR: cannot look up names in the archive: " + error;

  std::unordered_set<std::string> emptied;  // folders above a skipped file
  std::unordered_set<std::string> kept;     // folders above a file that stays
  for (std::size_t i = 0; i < plan.size(); ++i) {
    if (plan[i].folder) continue;
    ForEachFolderAbove(Joined(plan[i].target), [&](std::string folder) {
      (skip[i] ? emptied : kept).insert(std::move(folder));
    });
  }
  std::vector<std::size_t> folders;
  for (std::size_t i = 0; i < plan.size() && !emptied.empty(); ++i) {
    const Planned& p = plan[i];
    const std::string key = Joined(p.target);
    if (p.folder && underscored(p) && emptied.count(key) != 0 && kept.count(key) == 0 && !staged(p)) {
      folders.push_back(i);
    }
  }
  std::string failure;
  if (!folders.empty() && !judge(folders, true)) failure = "ERROR: cannot look up names in the archive: " + error;

  std::vector<Planned> rest;
  rest.reserve(plan.size());
  for (std::size_t i = 0; i < plan.size(); ++i) {
    if (!skip[i]) rest.push_back(std::move(plan[i]));
  }
  plan = std::move(rest);
  return failure;
}

}  // namespace

int Run(const Options& options) {
  // 7-Zip reads and writes UTF-8 names whatever the caller's locale is.
  ::setenv("LC_ALL", "C.UTF-8", 1);
  // The listing gives every item's times in local time. With TZ unset the C library looks at
  // /etc/localtime again for every one of them, which makes the listing of a pack with thousands
  // of files several times slower; naming the same zone once gives the same times.
  ::setenv("TZ", ":/etc/localtime", 0);

  const std::string sevenZip = proc::FindProgram("7zz");
  if (sevenZip.empty()) {
    Print("ERROR: the archiver 7zz was not found on PATH (Debian package 7zip)");
    return kFatal;
  }

  std::error_code ec;
  const std::string archive = fs::absolute(Native(options.archive), ec).string();
  if (ec || !fs::is_regular_file(archive, ec)) {
    Print("ERROR: cannot find archive " + options.archive);
    return kFatal;
  }

  // Which names the command asks for.
  std::vector<std::vector<std::string>> patterns;
  for (const std::string& wildcard : options.wildcards) patterns.push_back(SplitPath(wildcard));
  for (const std::string& listFile : options.listFiles) {
    std::string content;
    {
      std::FILE* file = std::fopen(Native(listFile).c_str(), "rb");
      if (file == nullptr) {
        Print("ERROR: cannot open list file " + listFile + ": " + ErrnoText(errno));
        return kFatal;
      }
      char buffer[65536];
      std::size_t n;
      while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, n);
      std::fclose(file);
    }
    if (content.compare(0, 3, "\xEF\xBB\xBF") == 0) content.erase(0, 3);
    for (std::string line : Lines(content)) {
      line.erase(0, line.find_first_not_of(" \t"));
      line.erase(line.find_last_not_of(" \t") + 1);
      if (!line.empty()) patterns.push_back(SplitPath(line));
    }
  }
  const bool namesGiven = !options.wildcards.empty() || !options.listFiles.empty();

  // The archive is listed, and each item judged and planned while 7zz goes on listing.
  std::vector<Planned> plan;
  std::vector<std::string> warnings;
  std::unordered_map<std::string, std::size_t> planned;  // place in the output folder -> plan entry
  ListingParser parser([&](const Item& item) {
    bool parent = false;
    std::vector<std::string> target = SplitPath(item.name, &parent);
    if (namesGiven && !target.empty() && !Selected(target, patterns, options.recursive)) return;
    const std::string why = Unsafe(item, target, parent);
    if (!why.empty()) {
      warnings.push_back("WARNING: skipped " + OnOneLine(item.name) + " : " + why);
      return;
    }
    const auto [at, added] = planned.emplace(Joined(target), plan.size());
    if (!added) {  // the same path twice: the archive's last copy wins
      ++plan[at->second].listed;
      return;
    }
    Planned p;
    p.name = item.name;
    p.folder = item.folder;
    p.size = item.size;
    // 7zz separates folders at "/" only: a "\" stays part of a name in the private folder.
    p.staged = SplitAtSlash(item.name);
    p.target = std::move(target);
    plan.push_back(std::move(p));
  });
  RunResult listing;
  try {
    listing = Run7zz(sevenZip, {"l", "-slt", "-sccUTF-8", "-bsp0", archive},
                     [&](std::string_view block) { parser.Feed(block); });
  } catch (const proc::ProcessError& e) {
    Print(std::string("ERROR: ") + e.what());
    return kFatal;
  }
  if (listing.exitCode != 0) {
    for (const std::string& line : Lines(listing.output)) {
      if (options.style == Style::Classic && Is7zzBannerLine(line)) continue;
      Print(line);
    }
    Print("ERROR: cannot read archive " + options.archive);
    return listing.exitCode > 0 ? listing.exitCode : kFatal;
  }
  parser.Finish();

  // The output folder.
  const std::string outputFolder = Native(options.outputFolder);
  fs::create_directories(outputFolder, ec);
  Fd outputFd(::open(outputFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!outputFd.valid()) {
    Print("ERROR: cannot use output folder " + options.outputFolder + ": " + ErrnoText(errno));
    return kFatal;
  }

  std::vector<std::string> header;
  std::vector<std::string> trailer;
  int exitCode = kOk;
  std::unordered_set<std::string> damaged;
  Staging staging(outputFolder);
  if (staging.path().empty()) {
    Print("ERROR: cannot create a working folder in " + options.outputFolder + ": " + ErrnoText(errno));
    return kFatal;
  }
  const std::string stagedFiles = staging.path() + "/files";

  std::vector<std::string> fileNames;
  for (const Planned& p : plan) {
    if (!p.folder) fileNames.push_back(p.name);
  }
  if (!fileNames.empty()) {
    // When every item of the archive is taken, 7zz extracts them all without matching each against
    // a list of names.
    std::vector<std::string> args = {"x", archive, "-o" + stagedFiles, "-y", "-spd", "-ssc", "-sccUTF-8", "-bsp0"};
    if (namesGiven || !warnings.empty()) {
      std::string error;
      if (!NameSwitches(fileNames, staging.path() + "/names.txt", args, error)) {
        Print("ERROR: cannot write the list of names to extract into " + options.outputFolder + ": " + error);
        return kFatal;
      }
    }
    RunResult extraction;
    try {
      extraction = Run7zz(sevenZip, args);
    } catch (const proc::ProcessError& e) {
      Print(std::string("ERROR: ") + e.what());
      return kFatal;
    }
    exitCode = std::max(exitCode, extraction.exitCode < 0 ? kFatal : extraction.exitCode);

    // 7-Zip's lines, told apart into what comes before the items and what comes after them; its
    // private folder is named as the output folder.
    bool afterProperties = false;
    bool sawSeparator = false;
    std::unordered_set<std::string> fileSet;  // made at the first error line
    for (std::string line : Lines(extraction.output)) {
      ReplaceAll(line, stagedFiles, outputFolder);
      if (options.style == Style::Classic) {
        if (Is7zzBannerLine(line)) continue;
        // Only extracted items start with "Extracting" in this form.
        if (line.compare(0, 20, "Extracting archive: ") == 0) line.replace(0, 10, "Processing");
      }
      if (line.compare(0, 7, "ERROR: ") == 0) {
        // "ERROR: CRC Failed : <name>": that file is not to be used.
        if (fileSet.empty()) fileSet.insert(fileNames.begin(), fileNames.end());
        for (std::size_t at = line.find(" : "); at != std::string::npos; at = line.find(" : ", at + 1)) {
          const std::string name = line.substr(at + 3);
          if (fileSet.count(name) != 0) damaged.insert(name);
        }
      }
      if (!afterProperties) {
        header.push_back(line);
        if (line == "--") sawSeparator = true;
        if (sawSeparator && line.empty()) afterProperties = true;
      } else {
        trailer.push_back(line);
      }
    }
  } else {
    if (options.style == Style::Modern) {
      for (const std::string& line : Lines(listing.output)) {
        if (line.compare(0, 6, "7-Zip ") == 0) header.push_back(line);
      }
      header.push_back("");
    }
    header.push_back((options.style == Style::Modern ? "Extracting archive: " : "Processing archive: ") +
                     options.archive);
    trailer.push_back(plan.empty() ? "No files to process" : "Everything is Ok");
  }

  Fd stagingFd(::open(stagedFiles.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fileNames.empty()) {
    const std::string failure =
        SkipNamesWithLineBreaks(sevenZip, archive, staging.path() + "/lookup.txt", stagingFd.get(), plan, warnings);
    if (!failure.empty()) warnings.push_back(failure);
  }

  for (const std::string& line : header) Print(line);
  for (const std::string& line : warnings) Print(line);
  if (!warnings.empty()) exitCode = std::max(exitCode, kWarning);

  std::vector<Outcome> outcomes(plan.size());
  Placer placer(plan, damaged, outcomes);
  std::vector<std::size_t> oneByOne;  // names 7zz lays out differently ("\" in a name)
  for (std::size_t i = 0; i < plan.size(); ++i) {
    if (plan[i].staged == plan[i].target) {
      placer.Add(i);
    } else {
      oneByOne.push_back(i);
    }
  }
  // Those laid out differently go first: a folder moved whole into place would take their staged
  // copies with it.
  for (std::size_t i : oneByOne) {
    const Planned& p = plan[i];
    std::string error;
    bool ok = false;
    if (p.folder) {
      ok = OpenFolders(outputFd.get(), p.target, p.target.size(), true, error).valid();
    } else if (damaged.count(p.name) != 0) {
      error = "damaged in the archive, not extracted";
    } else if (!stagingFd.valid()) {
      error = "not extracted";
    } else {
      ok = MoveIntoPlace(stagingFd.get(), p.staged, outputFd.get(), p.target, p.size, error);
    }
    outcomes[i] = Outcome{ok, error};
  }
  placer.Place(stagingFd.get(), outputFd.get());
  for (std::size_t i = 0; i < plan.size(); ++i) {
    const Planned& p = plan[i];
    if (outcomes[i].ok) {
      if (options.style == Style::Classic) {
        Print("Extracting  " + Joined(p.target));
      } else if (options.listLevel >= 1) {
        Print("- " + Joined(p.target) + (p.folder ? "/" : ""));  // folders as 7zz lists them
      }
    } else {
      Print("ERROR: " + Joined(plan[i].target) + " : " + outcomes[i].error);
      exitCode = std::max(exitCode, kFatal);
    }
  }
  for (const std::string& line : trailer) Print(line);
  return exitCode;
}

}  // namespace seven_zip
