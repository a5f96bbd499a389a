// Driver search by hardware ID: the INF index of the ticked packs, the search of every INF file
// for the machine's hardware IDs, and the extraction and installation of only the driver folders
// whose INF files matched.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <unordered_set>

#include "app/main_form.h"
#include "base/text_util.h"
#include "base/window_layout.h"
#include "devices/hwid_rules.h"
#include "packs/archiver_run.h"
#include "packs/pack_run_handlers.h"
#include "packs/runners.h"
#include "platform/files.h"
#include "platform/ini_text.h"
#include "search/file_search.h"
#include "search/index_file.h"
#include "search/index_state.h"
#include "search/multi_search.h"
#include "shared/shared_functions.h"

namespace {

// Adds to the run's record the driver folders a pack's list file named (each line one folder)
// and the devices of the ticked entries of that pack; a pack without its list file counts no
// folder.
void RecordExtraction(RunRecord& run, const std::string& listFile, const std::string& pack,
                      const std::vector<std::string>& entries,
                      const std::function<std::string(std::size_t)>& packOf,
                      const std::function<bool(std::size_t)>& ticked) {
  const std::vector<std::string> folders =
      platform::FileExists(listFile) ? platform::ReadTextLines(listFile) : std::vector<std::string>();
  for (const std::string& line : folders) {
    if (!TrimBlanks(line).empty()) ++run.foldersExtracted;
  }
  for (std::size_t k = 0; k < entries.size(); ++k) {
    if (ticked(k) && packOf(k) == pack) run.devicesServed.insert(GetWord(entries[k], ":", 1));
  }
}

constexpr const char* kContentIndex = "DP_Content.ini";
constexpr const char* kExtractList = "DP_Extract.ini";
// What the last build of the index leaves for the next (search/index_state.h).
constexpr const char* kIndexState = "DP_Content.state";
// What the last extraction of matching folders leaves for the next (search/index_state.h).
constexpr const char* kExtractState = "DP_Extract.state";

// Whether the index and the extraction keep their records for the next run.
bool KeepsRecords(const ConfigFile& config) {
  return UpperCase(TrimBlanks(config.ReadString("DP_Options", "IncrementalINFIndex", "YES"))) != "NO";
}

// The folder part of a path inside an archive, with its trailing separator ("" at the root).
std::string ArchiveFolder(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Lets the window run now and then while a long loop works, instead of at every step.
class Pacer {
 public:
  explicit Pacer(UiPort& ui) : ui_(ui) {}
  // True (after servicing the window) when the last service is long enough ago.
  bool Tick() {
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ < std::chrono::milliseconds(40)) return false;
    last_ = now;
    ui_.ProcessMessages();
    return true;
  }

 private:
  UiPort& ui_;
  std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

// Whether an entry of the check list is the one `meta` describes: the device first, the pack
// last. An entry the list got from elsewhere has no description of its own.
bool Describes(const TMainfrm::InstallEntry& meta, const std::string& entry) {
  if (meta.pack.empty() || meta.device.empty()) return false;
  const std::string tail = ":" + meta.pack;
  return entry.rfind(meta.device + ":", 0) == 0 && entry.size() >= tail.size() &&
         entry.compare(entry.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

// Turns the archive tool's output lines into INF paths: the items it reports as extracted, in
// the form of either kind of tool ("Extracting  <path>", "- <path>"; never the archive's own
// "Extracting archive:" line), less those its error lines name. A path that leads outside the
// working folder, or that the index cannot hold as a section name, is logged and left out, and
// the step counts as failed: that INF file is never searched.
std::vector<std::string> TMainfrm::GatherInfPaths(const std::vector<std::string>& lines) {
  std::vector<std::string> raw = GoodItemPaths(lines);
  std::vector<std::string> paths;
  paths.reserve(raw.size());
  for (std::string& path : raw) {
    const std::string trimmed = TrimBlanks(path);
    if (!StaysInside(trimmed)) {
      LogKey("log72", {trimmed});
      StepFailed();
    } else if (!platform::IniDocument::CanStore(trimmed, "PackName", "x")) {
      LogKey("log73", {trimmed});
      StepFailed();
    } else {
      paths.push_back(std::move(path));
    }
  }
  return paths;
}

// Logs each line in which the archive tool tells of an item of the pack it could not extract
// (log103), as a failed step.
void TMainfrm::ItemsFailed(const std::string& pack, const std::vector<std::string>& lines) {
  for (const std::string& line : ItemErrorLines(lines)) {
    LogKey("log103", {pack, line});
    StepFailed();
  }
}

// After No to the rebuild question the search runs over the kept index: its INF paths are made
// again from it when this run of the program has none, and its packs always, since unpacking
// whole packs meanwhile replaces the list of the run's packs, and each of the index's packs must
// get its list file written anew.
void TMainfrm::RestoreListsFromIndex() {
  IndexFile index(Caption("Workdir") + kContentIndex);
  const bool keepPaths = !form_.Items("INFfullPathslb").empty();
  std::vector<std::string> paths;
  std::vector<std::pair<long long, std::string>> packs;
  std::set<std::string> seenPacks;
  for (const std::string& section : index.SectionNames()) {
    if (!StaysInside(section)) {
      if (!keepPaths) LogKey("log72", {section});
      continue;
    }
    paths.push_back(section);
    const std::string pack = index.Read(section, "PackName", "NoName");
    if (pack == "NoName" || !seenPacks.insert(pack).second) continue;
    long long number = 0;
    try {
      number = std::stoll(index.Read(section, "PackNumber", "0"));
    } catch (const std::exception&) {
      number = 0;
    }
    packs.emplace_back(number, pack);
  }
  std::stable_sort(packs.begin(), packs.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  if (!keepPaths) form_.SetItems("INFfullPathslb", std::move(paths));
  std::vector<std::string> names;
  for (auto& [number, name] : packs) names.push_back(std::move(name));
  form_.SetItems("PackNamecbx", std::move(names));
}

void TMainfrm::ExtractINFsbtnClick() {
  const std::string workDir = Caption("Workdir");
  const std::string indexPath = workDir + kContentIndex;
  if (platform::FileExists(indexPath) && !AskYesNo(Msg("msg5"), true)) {
    LogKey("log20");
    RestoreListsFromIndex();
    CutDecreaseHWIDSbtnClick();
    return;
  }

  // Which packs to index is decided before anything is cleared or destroyed, so a run with no
  // pack ticked loses neither the old index nor its lists.
  std::vector<std::string> ticked;
  const auto& packs = form_.Items("PacksChlbx");
  for (std::size_t i = 0; i < packs.size(); ++i) {
    if (form_.Checked("PacksChlbx", i)) ticked.push_back(packs[i]);
  }
  if (ticked.empty()) {
    ShowMessage(Msg("msg6"));
    StepFailed(Msg("msg6"));
    return;
  }

  FormModel& wait = Waitfrm();
  form_.ClearItems("PackNamecbx");
  form_.ClearItems("INFpathslb");
  form_.ClearItems("INFfullPathslb");
  wait.ClearItems("CMDTemplb");
  wait.SetGaugePosition("UnpackGauge", 0);
  wait.SetGaugePosition("UnpackGauge2", 0);

  AfterDeletClick();

  if (platform::FileExists(indexPath)) {
    WipeFileAside(indexPath);
  } else {
    LogKey("log71");
  }
  contentIndex_ = std::make_unique<IndexFile>(indexPath);
  IndexFile& index = *contentIndex_;
  form_.SetItems("PackNamecbx", ticked);

  const std::string packDir = Caption("CMDPackDired");
  const std::string indexDir = IndexFolder();
  // The last build's record, when the option keeps one. It is read and removed before anything
  // changes the index folder: a build that does not end leaves none, and the next one starts
  // from nothing.
  const std::string statePath = workDir + kIndexState;
  const bool keepState = KeepsRecords(config_);
  std::optional<IndexState> previous;
  if (platform::FileExists(statePath)) {
    if (keepState) {
      std::optional<IndexState> read;
      try {
        read = ParseIndexState(platform::ReadWholeFile(statePath));
      } catch (const platform::FileError&) {
        read.reset();
      }
      if (read && read->folder == indexDir) {
        previous = std::move(read);
      } else {
        LogKey("log132", {statePath});
      }
    }
    platform::DeleteFile(statePath);
  }

  // The INF copies go into the index folder, away from the driver folders the installer reads.
  auto carried = [&](std::size_t k) { return EndsWith7z(ticked[k]) && CarriesPackName(ticked[k]); };
  std::vector<std::string> commandLines(ticked.size());
  std::vector<platform::FileStamp> stamps(ticked.size());
  std::vector<const IndexedPack*> stored(ticked.size(), nullptr);
  std::optional<IndexReuse> reuse;
  PackRunPlan runs;
  for (std::size_t n = 0; n < ticked.size(); ++n) {
    const std::string& name = ticked[n];
    wait.SetGaugeMax("UnpackGauge2", static_cast<int>(ticked.size()));
    // A name no command line can carry is left out, with its position kept.
    if (!EndsWith7z(name) || !PackNameCarried(name)) continue;
    // Every pack's command line is made here, where the first one is made. A pack the last build
    // extracted with the same command line from the same file (name, size, modification time),
    // with the same archive tool, may take its INF files from that build; the runs of the others
    // go side by side from here.
    if (!reuse) {
      for (std::size_t k = n; k < ticked.size(); ++k) {
        if (!carried(k)) continue;
        commandLines[k] = ArchiverCommand(ExtractInfsCommand(ShortFileName(packDir + ticked[k] + " "), indexDir));
        stamps[k] = platform::GetFileStamp(packDir + ticked[k]);
      }
      const bool sameTool = previous && archiver_ && archiver_->line == previous->tool;
      for (std::size_t k = n; sameTool && k < ticked.size(); ++k) {
        if (!carried(k)) continue;
        for (const IndexedPack& pack : previous->packs) {
          if (pack.name == ticked[k] && pack.stamp == stamps[k] && pack.commandLine == commandLines[k]) {
            stored[k] = &pack;
            break;
          }
        }
      }
      reuse.emplace(previous ? &*previous : nullptr, indexDir, stored);
      std::map<std::string, std::string> lineOf;
      for (std::size_t k = n; k < ticked.size(); ++k) lineOf.emplace(ticked[k], commandLines[k]);
      StartPackRuns(
          runs, ticked, n, indexDir, [&](std::size_t k) { return carried(k) && stored[k] == nullptr; },
          [&](const std::string& pack, const std::string&) { return lineOf.at(pack); });
    }
    const std::string& commandLine = commandLines[n];
    LogKey("log22");
    LogKey("log23", {commandLine});
    LogKey("log24", {name});
    LogKey("log25");

    wait.SetCaption("UnpackingLbl", Msg("log24", {name}));
    wait.SetGaugePosition("UnpackGauge2", static_cast<int>(n));
    wait.SetVisible(kWaitFormName, true);
    const BusyScope busy(*this);
    form_.ClearItems("CMDlogcmb");
    const std::string outputFile = Caption("CMDOutFileed");

    LogKey("log26");
    ui_.ProcessMessages();
    std::optional<int> exitCode;
    const bool reused = stored[n] != nullptr && reuse->Reuse(n);
    if (reused) {
      // The pack's output as its extraction printed it, its INF copies already in place.
      exitCode = stored[n]->exitCode;
      platform::WriteWholeFile(outputFile, stored[n]->output);
      wait.SetItems("CMDTemplb", platform::ReadTextLines(outputFile));
      CMDTemplbDrawItem();
    } else if (stored[n] != nullptr) {
      // Its copies are missing, altered or overwritten: it is extracted after all, now.
      PackRunPlan late;
      StartPackRuns(
          late, ticked, n, indexDir, [n](std::size_t k) { return k == n; },
          [&](const std::string&, const std::string&) { return commandLine; });
      exitCode = TakePackRun(late, n, name);
    } else {
      exitCode = TakePackRun(runs, n, name);
    }
    form_.SetItems("INFpathslb", platform::ReadTextLines(outputFile));

    // Every item the tool reported as extracted is indexed, also when it failed on others: only
    // the items its error lines name are left out, and those lines are logged as failures.
    if (exitCode) {
      ItemsFailed(name, form_.Items("INFpathslb"));
      const std::vector<std::string> gathered = GatherInfPaths(form_.Items("INFpathslb"));
      form_.AppendItems("INFfullPathslb", gathered);
      // A path already indexed keeps the pack it was first gathered from.
      for (const std::string& path : gathered) {
        if (index.Read(path, "PackName", "NoName") != "NoName") continue;
        index.Write(path, "PackName", name);
        index.Write(path, "PackNumber", std::to_string(n));
      }
      index.Save();
    }

    // A run that succeeded on every item is kept for the next build; the others run again then.
    std::optional<IndexedPack> record;
    if (reused) {
      record = *stored[n];
    } else if (exitCode && *exitCode < kArchiverFatal && ItemErrorLines(form_.Items("INFpathslb")).empty()) {
      record = IndexedPack{name, stamps[n], commandLine, *exitCode, platform::ReadWholeFile(outputFile)};
    }
    reuse->Done(n, name, form_.Items("INFpathslb"), !reused, std::move(record));

    LogFileLines(outputFile);
    ArchiverSucceeded(name, exitCode);
    LogKey("log27");
    LogKey("log28", {std::to_string(form_.Items("INFfullPathslb").size())});
  }

  Waitfrm().SetVisible(kWaitFormName, false);
  index.Save();
  // What this build leaves for the next; copies of packs that left go from the index folder.
  if (keepState && reuse) {
    const IndexState state = reuse->Finish(archiver_ ? archiver_->line : std::string());
    if (!state.tool.empty()) platform::WriteFileAtomically(statePath, FormatIndexState(state));
  }
  CutDecreaseHWIDSbtnClick();
}

void TMainfrm::SearchByHWIDSbtnClick() {
  if (RunAsItsOwn(&TMainfrm::SearchByHWIDSbtnClick)) return;
  OperationScope running(*this);
  NewWaitfrm();
  SetCaption("TimeStartlbl", FormatNow("%H:%M:%S"));
  form_.ClearItems("SearchINFExtraxtPathslb");
  LogKey("log61");

  ExtractINFsbtnClick();

  const std::string workDir = Caption("Workdir");
  const std::string indexDir = IndexFolder();
  contentIndex_ = std::make_unique<IndexFile>(workDir + kContentIndex);
  IndexFile& index = *contentIndex_;

  const std::vector<std::string> ids = form_.Items("HWIDSforworklb");
  const std::vector<std::string>& entries = form_.Items("INFfullPathslb");
  std::vector<std::string> sections;
  std::vector<std::string> files;
  sections.reserve(entries.size());
  files.reserve(entries.size());
  for (const std::string& entry : entries) {
    sections.push_back(TrimBlanks(entry));
    files.push_back(indexDir + sections.back());
  }
  std::vector<std::string> reduced;
  reduced.reserve(ids.size());
  for (const std::string& id : ids) reduced.push_back(DecreaseHWID(id, 2));

  // Every file is read once and searched for all identifiers in one scan; the results are
  // then written out pair by pair, identifiers outer and files inner, as a search of one pair
  // at a time would write them.
  FormModel& wait = Waitfrm();
  Pacer pacer(ui_);
  std::vector<FileMatches> matches;
  if (!ids.empty() && !files.empty()) {
    wait.SetVisible(kWaitFormName, true);
    wait.SetGaugeMax("UnpackGauge", static_cast<int>(files.size()));
    const MultiPatternCounter counter(reduced);
    matches = CountInFiles(counter, files, 0, [&](std::size_t done) {
      if (pacer.Tick()) wait.SetGaugePosition("UnpackGauge", static_cast<int>(done));
    });
  }
  // For each identifier, the files it was found in with their counts, in file order.
  std::vector<std::vector<std::pair<std::size_t, std::uint32_t>>> found(ids.size());
  for (std::size_t k = 0; k < matches.size(); ++k) {
    for (const auto& [pattern, count] : matches[k].counts) found[pattern].emplace_back(k, count);
  }

  std::vector<std::string> lines;
  std::vector<std::string> matched;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    wait.SetGaugePosition("UnpackGauge", 0);
    wait.SetGaugePosition("UnpackGauge2", 0);
    wait.SetGaugeMax("UnpackGauge2", static_cast<int>(ids.size()));
    wait.SetGaugePosition("UnpackGauge2", static_cast<int>(i));
    wait.SetGaugeMax("UnpackGauge", static_cast<int>(files.size()));
    if (files.empty()) continue;
    wait.SetVisible(kWaitFormName, true);
    const std::string pairText = Msg("log62", {reduced[i]});
    wait.SetCaption("UnpackingLbl", pairText);

    lines.clear();
    lines.reserve(files.size() + 3 * found[i].size());
    std::string stamp = LogzTimeAndDate(1);
    auto hit = found[i].begin();
    for (std::size_t k = 0; k < files.size(); ++k) {
      if ((k & 1023) == 1023) {
        stamp = LogzTimeAndDate(1);
        if (pacer.Tick()) wait.SetGaugePosition("UnpackGauge", static_cast<int>(k));
      }
      lines.push_back(stamp + pairText + files[k]);
      if (hit == found[i].end() || hit->first != k) continue;
      const std::uint32_t count = hit->second;
      ++hit;
      lines.push_back(stamp + Msg("log62", {files[k]}));
      if (UpperCase(index.Read(sections[k], "Extract", "NO")) == "NO") {
        index.Write(sections[k], "Extract", "YES");
        index.Write(sections[k], "Found Pattern", reduced[i]);
        index.Write(sections[k], "Found Pattern Full", ids[i]);
      }
      matched.push_back(sections[k]);
      lines.push_back(stamp + Msg("log63", {static_cast<std::int64_t>(count), reduced[i]}));
    }
    AddLogLines(lines);
    wait.SetGaugePosition("UnpackGauge", static_cast<int>(files.size() - 1));
  }
  lines = std::vector<std::string>();
  index.Save();

  DeleteDuples(&matched);
  form_.SetItems("SearchINFExtraxtPathslb", std::move(matched));
  LogKey("log64", {std::to_string(form_.Items("SearchINFExtraxtPathslb").size())});
  LogKey("log65");
  wait.SetVisible(kWaitFormName, false);
  SetCaption("TImeStoplbl", FormatNow("%H:%M:%S"));
  LogKey("log66");

  PrepareUnpackFilesbtnClick();
}

std::vector<std::string> TMainfrm::InstallEntryPacks() const {
  std::vector<std::string> packs;
  packs.reserve(installEntries_.size());
  for (const InstallEntry& entry : installEntries_) packs.push_back(entry.pack);
  return packs;
}

std::map<std::string, std::string> TMainfrm::KnownDeviceNames() const {
  std::map<std::string, std::string> names;
  // The simple view: the device console's "<instance ID>   : <name>" lines.
  for (const std::string& line : form_.Items("HWIDsSimpleListBox")) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::string id = TrimBlanks(line.substr(0, colon));
    const std::string name = TrimBlanks(line.substr(colon + 1));
    if (id.find('\\') == std::string::npos || name.empty()) continue;
    names.emplace(UpperCase(id), name);
  }
  // The device tree: a device's node holds its instance ID, with a "Name: <name>" node below.
  std::vector<const TreeNode*> pending;
  for (const auto& root : form_.Get("EqTreeView").tree) pending.push_back(root.get());
  while (!pending.empty()) {
    const TreeNode* node = pending.back();
    pending.pop_back();
    const std::string id = TrimBlanks(node->text);
    for (const auto& child : node->children) {
      pending.push_back(child.get());
      const std::string text = TrimBlanks(child->text);
      if (id.find('\\') == std::string::npos || id.find(':') != std::string::npos) continue;
      if (text.compare(0, 5, "Name:") != 0) continue;
      const std::string name = TrimBlanks(text.substr(5));
      if (!name.empty()) names.emplace(UpperCase(id), name);
    }
  }
  return names;
}

void TMainfrm::PrepareUnpackFilesbtnClick() {
  const std::string workDir = Caption("Workdir");
  const std::string extractPath = workDir + kExtractList;
  if (platform::FileExists(extractPath)) WipeFileAside(extractPath);
  LogKey("log54");
  const IndexFile content(workDir + kContentIndex);
  IndexFile extract(extractPath);

  // The entries offered so far, each with what it stands for. An entry the program did not
  // make itself (its list was edited) stands for its pack's list file as a whole.
  std::vector<std::string> entries = form_.Items("HWIDS2Installchb");
  std::vector<bool> checks;
  for (std::size_t i = 0; i < entries.size(); ++i) checks.push_back(form_.Checked("HWIDS2Installchb", i));
  std::vector<InstallEntry> meta = installEntries_;
  meta.resize(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (Describes(meta[i], entries[i])) continue;
    meta[i] = InstallEntry{entries[i].substr(0, entries[i].find(':')), GetWord(entries[i], ":", 3), {}, {}};
  }
  // The entries this search makes: the matches of one device in one pack form one entry.
  const std::size_t earlier = entries.size();
  std::map<std::pair<std::string, std::string>, std::size_t> made;

  const std::string foundText = Msg("log55");
  const std::vector<std::string>& paths = form_.Items("SearchINFExtraxtPathslb");
  // Each pack's list is made from the matches themselves, in the order its folders were first
  // written (a folder once, whatever its letter case, as the extraction list keys it), so a
  // name the extraction list cannot hold still reaches the archive tool.
  std::map<std::string, std::vector<std::string>> packLists;
  std::map<std::string, std::set<std::string>> packListSeen;
  std::set<std::string> packsFound;
  for (std::size_t k = 0; k < paths.size(); ++k) {
    const std::string& section = paths[k];
    const std::string pack = content.Read(section, "PackName", "NO");
    const std::string full = content.Read(section, "Found Pattern Full", "NO");
    if (pack == "NO") {
      // The index no longer holds this file (it was built anew or edited meanwhile).
      LogKey("log76", {TrimBlanks(section)});
      continue;
    }
    const std::string inf = TrimBlanks(section);
    const std::string key = ArchiveFolder(inf) + "*.*";
    auto [at, isNew] = made.emplace(std::make_pair(UpperCase(full), pack), entries.size());
    if (isNew) {
      entries.push_back(full + ":" + foundText + ":" + pack);
      checks.push_back(false);
      meta.push_back(InstallEntry{full, pack, {}, {}});
    }
    InstallEntry& entry = meta[at->second];
    entry.infs.push_back(inf);
    if (std::none_of(entry.folders.begin(), entry.folders.end(),
                     [&](const std::string& folder) { return UpperCase(folder) == UpperCase(key); })) {
      entry.folders.push_back(key);
    }
    packsFound.insert(pack);
    if (packListSeen[pack].insert(UpperCase(key)).second) packLists[pack].push_back(key);
    if (!extract.Write(pack + ".txt", key, "Line" + std::to_string(k))) {
      LogKey("log101", {key, pack});
      StepFailed();
    }
  }
  extract.Save();
  form_.ClearItems("SearchINFExtraxtPathslb");

  for (const std::string& pack : form_.Items("PackNamecbx")) {
    // A pack left out for its name has no list file; a backslash would not even name one here.
    if (!CarriesPackName(pack)) continue;
    const auto list = packLists.find(pack);
    form_.SetItems("SearchINFExtraxtPathslb", list == packLists.end() ? std::vector<std::string>() : list->second);
    platform::WriteTextLinesAtomically(workDir + pack + ".txt", form_.Items("SearchINFExtraxtPathslb"));
  }

  // One entry per device and pack, whatever language wrote its text: an entry of an earlier
  // search keeps its place and its tick, takes the text of this search and what this search
  // found for it.
  std::map<std::pair<std::string, std::string>, std::size_t> kept;
  std::vector<std::string> keptEntries;
  std::vector<InstallEntry> keptMeta;
  std::vector<bool> keptChecks;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const auto key = std::make_pair(UpperCase(meta[i].device), meta[i].pack);
    const auto [at, isNew] = kept.emplace(key, keptEntries.size());
    if (isNew) {
      keptEntries.push_back(entries[i]);
      keptMeta.push_back(meta[i]);
      keptChecks.push_back(checks[i]);
    } else if (i >= earlier) {
      keptEntries[at->second] = entries[i];
      keptMeta[at->second] = meta[i];
    }
  }
  // What the list shows: the device's name, the INF files that name it and the pack.
  const std::map<std::string, std::string> names = KnownDeviceNames();
  std::vector<std::string> shown;
  for (const InstallEntry& entry : keptMeta) {
    if (entry.infs.empty()) {
      shown.emplace_back();
      continue;
    }
    const auto name = names.find(UpperCase(entry.device));
    std::string text = name != names.end() ? name->second : entry.device;
    text += "  |  ";
    for (std::size_t i = 0; i < entry.infs.size(); ++i) text += (i == 0 ? "" : ", ") + entry.infs[i];
    text += "  |  " + entry.pack;
    shown.push_back(std::move(text));
  }
  form_.SetItems("HWIDS2Installchb", std::move(keptEntries));
  for (std::size_t i = 0; i < keptChecks.size(); ++i) {
    if (keptChecks[i]) form_.SetChecked("HWIDS2Installchb", i, true);
  }
  form_.SetItemTexts("HWIDS2Installchb", std::move(shown));
  installEntries_ = std::move(keptMeta);

  // The page says what this search found.
  std::set<std::string> devices;
  for (const auto& [key, index] : made) devices.insert(key.first);
  const std::string summary = made.empty()
                                  ? Msg("log113")
                                  : Msg("log112", {std::to_string(devices.size()), std::to_string(packsFound.size())});
  SetCaption("NodeNameLbl", summary);
  AddLogLines({LogzTimeAndDate(1) + summary});
  if (!run_.found) run_.found.emplace();
  run_.found->devices.insert(devices.begin(), devices.end());
  run_.found->packs.insert(packsFound.begin(), packsFound.end());
  LogKey("log56");
}

void TMainfrm::InstallHWIDsbtnClick() {
  if (RunAsItsOwn(&TMainfrm::InstallHWIDsbtnClick)) return;
  OperationScope running(*this);
  const std::string workDir = Caption("Workdir");
  const std::string packDir = Caption("CMDPackDired");
  const std::vector<std::string> entries = form_.Items("HWIDS2Installchb");
  FormModel& wait = Waitfrm();

  // The packs of the ticked entries, in the order of their first ticked entry, each with the
  // folders of its ticked entries. An entry whose folders are not known brings its pack's
  // whole list file (the record of all the pack's matches).
  struct Chosen {
    std::string pack;
    std::vector<std::string> folders;
    std::set<std::string> seen;
    bool wholeList = false;
  };
  std::vector<Chosen> chosen;
  const auto packOf = [&](std::size_t i) {
    return i < installEntries_.size() && Describes(installEntries_[i], entries[i]) ? installEntries_[i].pack
                                                                                  : GetWord(entries[i], ":", 3);
  };
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!form_.Checked("HWIDS2Installchb", i)) continue;
    const bool known = i < installEntries_.size() && Describes(installEntries_[i], entries[i]);
    const std::string pack = packOf(i);
    auto it = std::find_if(chosen.begin(), chosen.end(), [&](const Chosen& c) { return c.pack == pack; });
    if (it == chosen.end()) {
      chosen.push_back(Chosen{pack, {}, {}, false});
      it = chosen.end() - 1;
    }
    if (!known || installEntries_[i].folders.empty()) {
      it->wholeList = true;
      continue;
    }
    for (const std::string& folder : installEntries_[i].folders) {
      if (it->seen.insert(UpperCase(folder)).second) it->folders.push_back(folder);
    }
  }

  // The pack's list file serves when the ticked entries chose all its folders; a choice of
  // some goes to the tool in a list of its own beside it, so the pack's list file stays the
  // record of all the pack's matches. Every list is settled before the first run, since the
  // packs' runs may go side by side.
  std::vector<std::string> packs;
  std::map<std::string, std::string> listFiles;
  for (const Chosen& c : chosen) {
    std::string listFile = workDir + c.pack + ".txt";
    if (!c.wholeList) {
      std::set<std::string> all;
      if (platform::FileExists(listFile)) {
        for (const std::string& line : platform::ReadTextLines(listFile)) all.insert(UpperCase(line));
      }
      if (all != c.seen) {
        listFile = workDir + c.pack + ".chosen.txt";
        platform::WriteTextLinesAtomically(listFile, c.folders);
      }
    }
    packs.push_back(c.pack);
    listFiles[c.pack] = listFile;
  }

  // The last extraction's record, when the option keeps one: read and removed before anything
  // changes the drivers folder, so an extraction that does not end leaves none.
  const std::string driversDir = DriversFolder();
  const std::string statePath = workDir + kExtractState;
  const bool keepState = KeepsRecords(config_);
  std::optional<ExtractionState> previous;
  if (!packs.empty() && platform::FileExists(statePath)) {
    if (keepState) {
      std::optional<ExtractionState> read;
      try {
        read = ParseExtractionState(platform::ReadWholeFile(statePath));
      } catch (const platform::FileError&) {
        read.reset();
      }
      if (read && read->folder == driversDir) {
        previous = std::move(read);
      } else {
        LogKey("log134", {statePath});
      }
    }
    platform::DeleteFile(statePath);
  }

  bool anyExtracted = false;
  PackRunPlan runs;
  std::vector<std::string> commandLines(packs.size());
  std::vector<const ExtractedPack*> stored(packs.size(), nullptr);
  std::vector<platform::FileStamp> stamps(packs.size());
  std::vector<std::string> lists(packs.size());
  std::optional<ExtractionReuse> reuse;
  for (std::size_t k = 0; k < packs.size(); ++k) {
    const std::string& pack = packs[k];
    LogKey("log52");
    if (!reuse) {
      // Every command line is made here, where the first one is made. A pack extracted last time
      // with the same command line and list from the same file (name, size, modification time),
      // by the same archive tool, may replay that run; the others run side by side from here.
      for (std::size_t i = 0; i < packs.size(); ++i) {
        commandLines[i] = ArchiverCommand(
            ExtractListedCommand(ShortFileName(packDir + packs[i]), driversDir, listFiles.at(packs[i])));
        stamps[i] = platform::GetFileStamp(packDir + packs[i]);
        try {
          lists[i] = platform::ReadWholeFile(listFiles.at(packs[i]));
        } catch (const platform::FileError&) {
          continue;
        }
        const bool sameTool = previous && archiver_ && archiver_->line == previous->tool;
        for (std::size_t p = 0; sameTool && p < previous->packs.size(); ++p) {
          const ExtractedPack& record = previous->packs[p];
          if (record.name == packs[i] && record.stamp == stamps[i] && record.commandLine == commandLines[i] &&
              record.list == lists[i]) {
            stored[i] = &record;
            break;
          }
        }
      }
      reuse.emplace(previous ? &*previous : nullptr, driversDir, stored);
      std::map<std::string, std::string> lineOf;
      for (std::size_t i = 0; i < packs.size(); ++i) lineOf.emplace(packs[i], commandLines[i]);
      StartPackRuns(
          runs, packs, k, driversDir, [&](std::size_t i) { return stored[i] == nullptr; },
          [&](const std::string& name, const std::string&) { return lineOf.at(name); });
    }
    const std::string& commandLine = commandLines[k];
    SetCaption("CMD4HWIDunpacked", commandLine);
    wait.SetVisible(kWaitFormName, true);
    ui_.ProcessMessages();
    LogKey("log23", {commandLine});

    std::optional<int> exitCode;
    const bool reused = stored[k] != nullptr && reuse->Reuse(k);
    if (reused) {
      // The drivers folder holds what the run would write: its output stands for it.
      exitCode = stored[k]->exitCode;
      ShowPackOutput(stored[k]->output);
    } else if (stored[k] != nullptr) {
      // Something it would write was deleted, altered or added: it is extracted after all, now.
      PackRunPlan late;
      StartPackRuns(
          late, packs, k, driversDir, [k](std::size_t i) { return i == k; },
          [&](const std::string&, const std::string&) { return commandLine; });
      exitCode = TakePackRun(late, k, pack);
    } else {
      exitCode = TakePackRun(runs, k, pack);
    }
    LogFileLines(Caption("CMDOutFileed"));
    // What the tool extracted is installed even when it failed on other items of the pack.
    bool packExtracted = ArchiverSucceeded(pack, exitCode);
    if (exitCode) {
      const std::vector<std::string> output = platform::ReadTextLines(Caption("CMDOutFileed"));
      ItemsFailed(pack, output);
      if (!GoodItemPaths(output).empty()) packExtracted = true;
    }
    if (packExtracted) {
      anyExtracted = true;
      RecordExtraction(run_, listFiles.at(pack), pack, entries, packOf,
                       [this](std::size_t i) { return form_.Checked("HWIDS2Installchb", i); });
    }
    // A run that succeeded on every item is kept for the next extraction; the others run again.
    std::optional<ExtractedPack> record;
    const std::vector<std::string>& shown = wait.Items("CMDTemplb");
    if (reused) {
      record = *stored[k];
    } else if (exitCode && *exitCode < kArchiverFatal && ItemErrorLines(shown).empty()) {
      record = ExtractedPack{pack, stamps[k], commandLine, lists[k], *exitCode, shown, {}};
    }
    reuse->Done(k, !reused, std::move(record));
  }
  if (keepState && reuse) {
    const ExtractionState state = reuse->Finish(archiver_ ? archiver_->line : std::string());
    if (!state.tool.empty()) platform::WriteFileAtomically(statePath, FormatExtractionState(state));
  }
  wait.SetVisible(kWaitFormName, false);
  // The installer is handed only what was chosen: with no driver extracted it would only
  // report on whatever earlier runs left in its folder.
  if (anyExtracted) {
    InstallDPbtnClick();
  } else {
    LogKey("log100");
  }
  LogKey("log53");
}
