#include "search/index_state.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <system_error>

#include "base/text_util.h"
#include "packs/archiver_kind.h"

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kMagic = "Velmora INF index state 1\n";
constexpr std::string_view kExtractionMagic = "Velmora driver extraction state 1\n";
constexpr std::string_view kEnd = "end ";

// Every field is "<length>:<bytes>\n", so any byte may be in it.
void PutField(std::string& out, std::string_view value) {
  out += std::to_string(value.size());
  out += ':';
  out += value;
  out += '\n';
}

template <typename Number>
void PutNumber(std::string& out, Number value) {
  PutField(out, std::to_string(value));
}

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}
  bool Field(std::string& value) {
    std::size_t length = 0;
    const char* begin = text_.data() + at_;
    const char* end = text_.data() + text_.size();
    const auto [next, ec] = std::from_chars(begin, end, length);
    if (ec != std::errc() || next == begin || next - begin > 12 || next == end || *next != ':') return false;
    at_ += static_cast<std::size_t>(next - begin) + 1;
    if (length > text_.size() - at_ || text_.size() - at_ - length < 1) return false;
    value.assign(text_.substr(at_, length));
    at_ += length;
    if (text_[at_] != '\n') return false;
    ++at_;
    return true;
  }
  template <typename Number>
  bool Num(Number& value) {
    std::string text;
    if (!Field(text) || text.empty()) return false;
    const auto [next, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && next == text.data() + text.size();
  }
  // A count of records that each take at least `least` bytes: never more than the text can hold.
  bool Count(std::size_t& value, std::size_t least) {
    return Num(value) && value <= (text_.size() - at_) / least;
  }
  bool AtEnd() const { return at_ == text_.size(); }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
};

std::string Hex(std::uint64_t value) {
  static const char* const kDigits = "0123456789abcdef";
  std::string text(16, '0');
  for (int i = 15; i >= 0; --i) {
    text[static_cast<std::size_t>(i)] = kDigits[value & 15u];
    value >>= 4;
  }
  return text;
}

// The text with its checksum line: "end " and 16 hexadecimal digits over everything before it.
std::string Sealed(std::string out) {
  const std::uint64_t sum = ContentHash(out);
  out += kEnd;
  out += Hex(sum);
  out += '\n';
  return out;
}

// The fields of a text that starts with `magic` and ends in its right checksum line.
std::optional<std::string_view> Unsealed(std::string_view text, std::string_view magic) {
  if (text.substr(0, magic.size()) != magic) return std::nullopt;
  constexpr std::size_t kTail = 4 + 16 + 1;
  if (text.size() < magic.size() + kTail || text.back() != '\n') return std::nullopt;
  const std::string_view body = text.substr(0, text.size() - kTail);
  if (text.substr(body.size(), kEnd.size()) != kEnd) return std::nullopt;
  if (text.substr(body.size() + kEnd.size(), 16) != Hex(ContentHash(body))) return std::nullopt;
  return body.substr(magic.size());
}

// The folder part of a path below a folder, with its trailing separator ("" for a name alone).
std::string Parent(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool RealFolder(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(fs::symlink_status(fs::path(path), ec)) && !ec;
}

// The size and hash of a regular file below the folder that is no link; nothing when there is none.
std::optional<std::pair<std::int64_t, std::uint64_t>> CopyOnDisk(const std::string& folder,
                                                                 const std::string& path) {
  const std::string full = folder + path;
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(fs::path(full), ec);
  if (ec || !fs::is_regular_file(status)) return std::nullopt;
  try {
    const std::string content = platform::ReadWholeFile(full);
    return std::make_pair(static_cast<std::int64_t>(content.size()), ContentHash(content));
  } catch (const platform::FileError&) {
    return std::nullopt;
  }
}

// Removes a copy below the folder, and the folders it leaves empty; never through a link: each
// folder on the way must be a real folder.
void RemoveCopy(const std::string& folder, const std::string& path) {
  std::error_code ec;
  fs::path at(folder);
  std::vector<fs::path> folders;
  std::string part;
  std::vector<std::string> parts;
  for (const char c : path) {
    if (c == '/' || c == '\\') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (part.empty()) return;
  for (const std::string& name : parts) {
    at /= name;
    if (!fs::is_directory(fs::symlink_status(at, ec)) || ec) return;
    folders.push_back(at);
  }
  at /= part;
  const fs::file_status status = fs::symlink_status(at, ec);
  if (ec || fs::is_directory(status)) return;
  fs::remove(at, ec);
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
    if (!fs::is_empty(*it, ec) || ec) break;
    fs::remove(*it, ec);
  }
}

}  // namespace

std::uint64_t ContentHash(std::string_view bytes) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

std::string FormatIndexState(const IndexState& state) {
  std::string out(kMagic);
  PutField(out, state.folder);
  PutField(out, state.tool);
  PutNumber(out, state.packs.size());
  for (const IndexedPack& pack : state.packs) {
    PutField(out, pack.name);
    PutNumber(out, pack.stamp.mtime);
    PutNumber(out, pack.stamp.size);
    PutField(out, pack.commandLine);
    PutNumber(out, pack.exitCode);
    PutField(out, pack.output);
  }
  PutNumber(out, state.copies.size());
  for (const IndexedCopy& copy : state.copies) {
    PutField(out, copy.path);
    PutField(out, copy.pack);
    PutNumber(out, copy.size);
    PutNumber(out, copy.hash);
  }
  return Sealed(std::move(out));
}

std::optional<IndexState> ParseIndexState(std::string_view text) {
  const std::optional<std::string_view> fields = Unsealed(text, kMagic);
  if (!fields) return std::nullopt;
  Reader in(*fields);
  IndexState state;
  std::size_t packs = 0;
  if (!in.Field(state.folder) || !in.Field(state.tool) || !in.Count(packs, 6 * 3)) return std::nullopt;
  state.packs.resize(packs);
  for (IndexedPack& pack : state.packs) {
    if (!in.Field(pack.name) || !in.Num(pack.stamp.mtime) || !in.Num(pack.stamp.size) ||
        !in.Field(pack.commandLine) || !in.Num(pack.exitCode) || !in.Field(pack.output)) {
      return std::nullopt;
    }
  }
  std::size_t copies = 0;
  if (!in.Count(copies, 4 * 3)) return std::nullopt;
  state.copies.resize(copies);
  for (IndexedCopy& copy : state.copies) {
    if (!in.Field(copy.path) || !in.Field(copy.pack) || !in.Num(copy.size) || !in.Num(copy.hash)) {
      return std::nullopt;
    }
    if (!StaysInside(copy.path)) return std::nullopt;
  }
  if (!in.AtEnd()) return std::nullopt;
  return state;
}

bool StaysInside(const std::string& path) {
  if (path.empty() || path[0] == '/' || path[0] == '\\') return false;
  if (path.size() >= 2 && path[1] == ':') return false;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find_first_of("/\\", start);
    if (end == std::string::npos) end = path.size();
    if (path.compare(start, end - start, "..") == 0 && end - start == 2) return false;
    start = end + 1;
  }
  return true;
}

std::string CopyKey(std::string_view path) {
  std::string key(path);
  std::replace(key.begin(), key.end(), '\\', '/');
  return platform::PathsIgnoreCase() ? UpperCase(std::move(key)) : key;
}

std::vector<std::string> ExtractedCopies(const std::vector<std::string>& outputLines) {
  std::vector<std::string> copies;
  for (const std::string& path : GoodItemPaths(outputLines)) {
    std::string trimmed = TrimBlanks(path);
    if (StaysInside(trimmed)) copies.push_back(std::move(trimmed));
  }
  return copies;
}

IndexReuse::IndexReuse(const IndexState* previous, std::string indexFolder,
                       std::vector<const IndexedPack*> stored)
    : previous_(previous),
      folder_(std::move(indexFolder)),
      stored_(std::move(stored)),
      turns_(stored_.size()) {
  if (previous_ != nullptr) {
    for (const IndexedCopy& copy : previous_->copies) oldCopies_[CopyKey(copy.path)] = &copy;
  }
  for (std::size_t n = 0; n < stored_.size(); ++n) {
    if (stored_[n] == nullptr) continue;
    const std::vector<std::string> lines = [&] {
      std::vector<std::string> out;
      for (const std::string_view line : SplitLines(stored_[n]->output)) out.emplace_back(line);
      return out;
    }();
    for (const std::string& path : ExtractedCopies(lines)) lastStored_[CopyKey(path)] = n;
  }
}

bool IndexReuse::Reuse(std::size_t n) {
  if (n >= stored_.size() || stored_[n] == nullptr) return false;
  std::vector<std::string> lines;
  for (const std::string_view line : SplitLines(stored_[n]->output)) lines.emplace_back(line);
  std::vector<std::pair<std::string, std::pair<std::int64_t, std::uint64_t>>> checked;
  for (const std::string& path : ExtractedCopies(lines)) {
    const std::string key = CopyKey(path);
    // A later pack leaves its own copy there. A pack extracted earlier in this build may have
    // overwritten this one: the check of the content on disk notices it.
    if (lastStored_[key] != n) continue;
    const auto old = oldCopies_.find(key);
    if (old == oldCopies_.end() || old->second->pack != stored_[n]->name) return false;
    const auto disk = CopyOnDisk(folder_, old->second->path);
    if (!disk || disk->first != old->second->size || disk->second != old->second->hash) return false;
    checked.emplace_back(key, *disk);
  }
  for (auto& [key, disk] : checked) verified_[key] = disk;
  return true;
}

void IndexReuse::Done(std::size_t n, const std::string& name, const std::vector<std::string>& outputLines,
                      bool extracted, std::optional<IndexedPack> record) {
  if (n >= turns_.size()) return;
  Turn& turn = turns_[n];
  turn.done = true;
  turn.name = name;
  turn.extracted = extracted;
  turn.copies = ExtractedCopies(outputLines);
  turn.record = std::move(record);
}

IndexState IndexReuse::Finish(const std::string& tool) {
  IndexState state;
  state.folder = folder_;
  state.tool = tool;
  // Each path's holder: the last pack in list order whose run reported it.
  std::map<std::string, std::pair<std::size_t, std::string>> holder;
  for (std::size_t n = 0; n < turns_.size(); ++n) {
    if (!turns_[n].done) continue;
    if (turns_[n].record) state.packs.push_back(*turns_[n].record);
    for (const std::string& path : turns_[n].copies) holder[CopyKey(path)] = {n, path};
  }
  // What the last build left that no pack holds now goes.
  for (const auto& [key, copy] : oldCopies_) {
    if (holder.count(key) == 0) RemoveCopy(folder_, copy->path);
  }
  for (const auto& [key, at] : holder) {
    const Turn& turn = turns_[at.first];
    std::optional<std::pair<std::int64_t, std::uint64_t>> disk;
    if (turn.extracted) {
      disk = CopyOnDisk(folder_, at.second);
    } else if (const auto seen = verified_.find(key); seen != verified_.end()) {
      disk = seen->second;
    }
    if (!disk) continue;
    state.copies.push_back(IndexedCopy{at.second, turn.name, disk->first, disk->second});
  }
  return state;
}

std::string FormatExtractionState(const ExtractionState& state) {
  std::string out(kExtractionMagic);
  PutField(out, state.folder);
  PutField(out, state.tool);
  PutNumber(out, state.packs.size());
  for (const ExtractedPack& pack : state.packs) {
    PutField(out, pack.name);
    PutNumber(out, pack.stamp.mtime);
    PutNumber(out, pack.stamp.size);
    PutField(out, pack.commandLine);
    PutField(out, pack.list);
    PutNumber(out, pack.exitCode);
    PutNumber(out, pack.output.size());
    for (const std::string& line : pack.output) PutField(out, line);
    PutNumber(out, pack.items.size());
    for (const ExtractedItem& item : pack.items) {
      PutField(out, item.path);
      PutNumber(out, item.folder ? 1 : 0);
      PutNumber(out, item.size);
      PutNumber(out, item.hash);
    }
  }
  PutNumber(out, state.files.size());
  for (const DriverFile& file : state.files) {
    PutField(out, file.path);
    PutNumber(out, file.size);
    PutNumber(out, file.hash);
  }
  return Sealed(std::move(out));
}

std::optional<ExtractionState> ParseExtractionState(std::string_view text) {
  const std::optional<std::string_view> fields = Unsealed(text, kExtractionMagic);
  if (!fields) return std::nullopt;
  Reader in(*fields);
  ExtractionState state;
  std::size_t packs = 0;
  if (!in.Field(state.folder) || !in.Field(state.tool) || !in.Count(packs, 8 * 3)) return std::nullopt;
  state.packs.resize(packs);
  for (ExtractedPack& pack : state.packs) {
    std::size_t lines = 0;
    if (!in.Field(pack.name) || !in.Num(pack.stamp.mtime) || !in.Num(pack.stamp.size) ||
        !in.Field(pack.commandLine) || !in.Field(pack.list) || !in.Num(pack.exitCode) || !in.Count(lines, 3)) {
      return std::nullopt;
    }
    pack.output.resize(lines);
    for (std::string& line : pack.output) {
      if (!in.Field(line)) return std::nullopt;
    }
    std::size_t items = 0;
    if (!in.Count(items, 4 * 3)) return std::nullopt;
    pack.items.resize(items);
    for (ExtractedItem& item : pack.items) {
      int folder = 0;
      if (!in.Field(item.path) || !in.Num(folder) || !in.Num(item.size) || !in.Num(item.hash)) return std::nullopt;
      if ((folder != 0 && folder != 1) || !StaysInside(item.path)) return std::nullopt;
      item.folder = folder == 1;
    }
  }
  std::size_t files = 0;
  if (!in.Count(files, 3 * 3)) return std::nullopt;
  state.files.resize(files);
  for (DriverFile& file : state.files) {
    if (!in.Field(file.path) || !in.Num(file.size) || !in.Num(file.hash)) return std::nullopt;
    if (!StaysInside(file.path)) return std::nullopt;
  }
  if (!in.AtEnd()) return std::nullopt;
  return state;
}

ExtractionReuse::ExtractionReuse(const ExtractionState* previous, std::string driversFolder,
                                 std::vector<const ExtractedPack*> stored)
    : folder_(std::move(driversFolder)), stored_(std::move(stored)), records_(stored_.size()) {
  for (std::size_t n = 0; n < stored_.size(); ++n) {
    if (stored_[n] == nullptr) continue;
    for (const ExtractedItem& item : stored_[n]->items) lastStored_[CopyKey(item.path)] = n;
  }
  if (previous != nullptr) {
    for (const DriverFile& file : previous->files) {
      ended_[CopyKey(Parent(file.path))][CopyKey(file.path)] = {file.size, file.hash};
    }
  }
}

std::optional<ExtractionReuse::SizeHash> ExtractionReuse::Current(const std::string& path) {
  const std::string key = CopyKey(path);
  if (const auto known = hashed_.find(key); known != hashed_.end()) return known->second;
  const auto disk = CopyOnDisk(folder_, path);
  if (disk) hashed_[key] = *disk;
  return disk;
}

std::optional<std::map<std::string, std::pair<std::string, ExtractionReuse::SizeHash>>> ExtractionReuse::FilesIn(
    const std::string& parent) {
  std::map<std::string, std::pair<std::string, SizeHash>> files;
  std::error_code ec;
  const std::string at = folder_ + parent;
  if (!RealFolder(at)) return files;
  for (auto it = fs::directory_iterator(fs::path(at), ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const fs::file_status status = it->symlink_status(ec);
    if (ec) return std::nullopt;
    if (fs::is_directory(status)) continue;
    if (!fs::is_regular_file(status)) return std::nullopt;
    const std::string path = parent + it->path().filename().string();
    const auto now = Current(path);
    if (!now) return std::nullopt;
    files[CopyKey(path)] = {path, *now};
  }
  if (ec) return std::nullopt;
  return files;
}

bool ExtractionReuse::Reuse(std::size_t n) {
  if (n >= stored_.size() || stored_[n] == nullptr) return false;
  std::map<std::string, std::string> parents;
  for (const ExtractedItem& item : stored_[n]->items) {
    const std::string parent = Parent(item.path);
    parents.emplace(CopyKey(parent), parent);
    // A later pack leaves its own copy there; its own turn checks it.
    if (lastStored_.at(CopyKey(item.path)) != n) continue;
    if (item.folder) {
      if (!RealFolder(folder_ + item.path)) return false;
      continue;
    }
    const auto now = Current(item.path);
    if (!now || *now != SizeHash(item.size, item.hash)) return false;
  }
  // Nothing deleted, altered or added in the folders its items lie in since the last extraction.
  static const std::map<std::string, SizeHash> kNone;
  for (const auto& [key, parent] : parents) {
    const auto files = FilesIn(parent);
    if (!files) return false;
    const auto ended = ended_.find(key);
    const std::map<std::string, SizeHash>& then = ended == ended_.end() ? kNone : ended->second;
    if (files->size() != then.size()) return false;
    for (const auto& [fileKey, file] : *files) {
      const auto was = then.find(fileKey);
      if (was == then.end() || was->second != file.second) return false;
    }
  }
  return true;
}

void ExtractionReuse::Done(std::size_t n, bool extracted, std::optional<ExtractedPack> record) {
  if (n >= records_.size()) return;
  if (extracted) {
    // What a run that failed wrote is not known: every file is read again when asked for.
    if (!record) {
      hashed_.clear();
      return;
    }
    const std::vector<std::string> paths = ExtractedCopies(record->output);
    for (const std::string& path : paths) hashed_.erase(CopyKey(path));
    record->items.clear();
    for (const std::string& path : paths) {
      if (RealFolder(folder_ + path)) {
        record->items.push_back(ExtractedItem{path, true, 0, 0});
        continue;
      }
      const auto now = Current(path);
      if (!now) return;
      record->items.push_back(ExtractedItem{path, false, now->first, now->second});
    }
  }
  records_[n] = std::move(record);
}

ExtractionState ExtractionReuse::Finish(const std::string& tool) {
  ExtractionState state;
  state.folder = folder_;
  state.tool = tool;
  std::map<std::string, std::string> parents;
  for (const std::optional<ExtractedPack>& record : records_) {
    if (!record) continue;
    state.packs.push_back(*record);
    for (const ExtractedItem& item : record->items) {
      const std::string parent = Parent(item.path);
      parents.emplace(CopyKey(parent), parent);
    }
  }
  // A folder that holds anything but files and real folders is not recorded: the packs whose
  // items lie there are extracted next time.
  for (const auto& [key, parent] : parents) {
    const auto files = FilesIn(parent);
    if (!files) continue;
    for (const auto& [fileKey, file] : *files) {
      state.files.push_back(DriverFile{file.first, file.second.first, file.second.second});
    }
  }
  return state;
}
