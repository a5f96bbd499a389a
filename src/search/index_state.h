// What the last build of the INF index leaves for the next one (the file "DP_Content.state" in the
// working folder), so a rebuild over unchanged packs takes each pack's INF files from that build
// instead of running the archive tool again:
// - per pack: its file name, size and modification time, the archive tool command line it was
//   extracted with, the tool's exit code and the bytes of the tool's output file. A pack whose
//   name, stamp and command line are unchanged gives the same output again, so its output is
//   replayed and the index, the lists and the log come out as after its extraction;
// - per INF copy in the index folder: its path, the pack whose copy it is (the last pack in list
//   order that holds the path) and the size and a hash of its content, so a copy that was removed
//   or altered since is noticed and extracted again.
// The file carries a version, the index folder it describes and a checksum: a file that is
// damaged, of another version or of another folder is never used (ParseIndexState gives nothing).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

struct IndexedPack {
  std::string name;           // as in the pack list
  platform::FileStamp stamp;  // of the pack file when its extraction started
  std::string commandLine;    // as logged, with the index folder as output folder
  int exitCode = 0;           // the tool's exit code
  std::string output;         // the tool's output file, byte for byte
};

struct IndexedCopy {
  std::string path;  // below the index folder, as the tool printed it (blanks trimmed)
  std::string pack;  // the pack whose copy lies there
  std::int64_t size = 0;
  std::uint64_t hash = 0;  // ContentHash of the file
};

struct IndexState {
  std::string folder;  // the index folder the copies lie in
  std::string tool;    // the archive tool's banner line
  std::vector<IndexedPack> packs;
  std::vector<IndexedCopy> copies;
};

// The file's text, ending in a checksum line.
std::string FormatIndexState(const IndexState& state);
// The state the text holds; nothing for a text that is not exactly one FormatIndexState wrote
// (another version, a damaged or truncated file, a wrong checksum, anything after the end).
std::optional<IndexState> ParseIndexState(std::string_view text);

// FNV-1a (64 bits) of the bytes: a cheap check that a file still holds what it held.
std::uint64_t ContentHash(std::string_view bytes);

// True for a relative path that stays inside the folder it is taken from: not absolute, no
// drive, no ".." part. The archive tool's output is not trusted to give only such paths.
bool StaysInside(const std::string& path);

// The key by which the file system tells two paths below a folder apart: either separator, and
// on Windows letter case, name the same file.
std::string CopyKey(std::string_view path);

// The INF copies a pack's run put into the index folder, from the tool's output lines: the item
// paths it reported as extracted (blanks trimmed), those that would lead out of the folder left
// out.
std::vector<std::string> ExtractedCopies(const std::vector<std::string>& outputLines);

// Which packs of a rebuild may take their INF files from the last build, decided pack by pack in
// list order while the rebuild goes (the packs extracted before a pack may have overwritten its
// copies), and what the rebuild leaves for the next one.
class IndexReuse {
 public:
  // `previous`: the last build (none: every pack is extracted). `stored[k]`: the last build's
  // record of the pack at position k of this build when its name, stamp and command line are
  // unchanged, otherwise null; the records live in `previous`.
  IndexReuse(const IndexState* previous, std::string indexFolder, std::vector<const IndexedPack*> stored);

  // At the turn of the pack at `n` (which has a stored record): true when its stored output may
  // stand for its extraction. That needs every copy it leaves in place at the end (no later pack
  // with a stored record holds the path) to be its own in the last build and to hold now, in the
  // index folder, what it held then (a pack extracted earlier in this build may have overwritten
  // it). Reads those copies.
  bool Reuse(std::size_t n);
  // After the turn of the pack at `n`: the output lines of its run (stored or new), whether the
  // tool ran for it and, when it ran and succeeded, its record for the next build (the stored
  // record when it was reused).
  void Done(std::size_t n, const std::string& name, const std::vector<std::string>& outputLines,
            bool extracted, std::optional<IndexedPack> record);

  // After the last pack: removes from the index folder the copies the last build recorded that no
  // pack of this build holds (a pack that left, or that no longer holds the path), so the folder
  // ends as a build from nothing leaves it; and gives the state of this build. `tool` is the
  // archive tool's banner line.
  IndexState Finish(const std::string& tool);

 private:
  struct Turn {
    bool done = false;
    bool extracted = false;
    std::string name;
    std::vector<std::string> copies;  // item paths of its run
    std::optional<IndexedPack> record;
  };
  const IndexState* previous_;
  std::string folder_;
  std::vector<const IndexedPack*> stored_;
  std::vector<Turn> turns_;
  std::map<std::string, std::size_t> lastStored_;  // key -> last position with a stored record holding it
  std::map<std::string, const IndexedCopy*> oldCopies_;                     // key -> the last build's copy
  std::map<std::string, std::pair<std::int64_t, std::uint64_t>> verified_;  // key -> checked size, hash
};

// What the last extraction of matching driver folders into the drivers folder leaves for the next
// one (the file "DP_Extract.state" in the working folder), so an extraction over unchanged packs
// replays each pack's run instead of running the archive tool again:
// - per pack: its file name, size and modification time, the command line (which names its list
//   file), the list file's bytes, the tool's exit code and output lines, and each item its output
//   reported: a folder, or a file with the size and hash of the content the pack's run left;
// - per folder an item lies in: the files it held when the extraction ended (size and hash), so
//   a file deleted, altered or added there since is noticed.
// A pack may be replayed when the drivers folder holds what its run would write: the drivers
// folder then comes out as after its run, and its output stands for the run's.
struct ExtractedItem {
  std::string path;  // below the drivers folder, as the tool printed it (blanks trimmed)
  bool folder = false;
  std::int64_t size = 0;
  std::uint64_t hash = 0;  // ContentHash of the file
};

struct ExtractedPack {
  std::string name;           // as in the check list's entries
  platform::FileStamp stamp;  // of the pack file when its extraction started
  std::string commandLine;    // as logged
  std::string list;           // the list file's bytes
  int exitCode = 0;
  std::vector<std::string> output;  // the tool's output lines
  std::vector<ExtractedItem> items;
};

struct DriverFile {
  std::string path;  // below the drivers folder
  std::int64_t size = 0;
  std::uint64_t hash = 0;
};

struct ExtractionState {
  std::string folder;  // the drivers folder
  std::string tool;    // the archive tool's banner line
  std::vector<ExtractedPack> packs;
  std::vector<DriverFile> files;  // of the folders the packs' items lie in, when the extraction ended
};

// The file's text, ending in a checksum line; ParseExtractionState reads only such a text, as
// ParseIndexState does.
std::string FormatExtractionState(const ExtractionState& state);
std::optional<ExtractionState> ParseExtractionState(std::string_view text);

// Which packs of an extraction may replay their last run, decided pack by pack in order while the
// extraction goes (a pack extracted before may have overwritten what another left), and what the
// extraction leaves for the next one. Files it reads are hashed once while nothing is extracted
// over them.
class ExtractionReuse {
 public:
  // `stored[k]`: the last extraction's record of the pack at position k when its name, stamp,
  // command line and list are unchanged (and so is the tool), otherwise null; the records live in
  // `previous`.
  ExtractionReuse(const ExtractionState* previous, std::string driversFolder,
                  std::vector<const ExtractedPack*> stored);

  // At the turn of the pack at `n`: true when the drivers folder holds what its run would write:
  // each item it reported is there as its run left it (unless a later pack with a record reports
  // it too: that one leaves its own copy there), and each folder an item lies in holds exactly the
  // files it held when the last extraction ended.
  bool Reuse(std::size_t n);
  // After the turn of the pack at `n`: whether the tool ran for it and, when the run succeeded
  // without failed items (or was replayed), its record, whose items are filled in here from its
  // output when it ran (no record when an item it reported is not there).
  void Done(std::size_t n, bool extracted, std::optional<ExtractedPack> record);
  // After the last pack: the state to keep, with the files of the folders the items lie in.
  ExtractionState Finish(const std::string& tool);

 private:
  using SizeHash = std::pair<std::int64_t, std::uint64_t>;
  std::optional<SizeHash> Current(const std::string& path);
  // The files directly in the folder `parent` (below the drivers folder) with their size and hash,
  // by CopyKey; nothing when it holds something else than files and real folders.
  std::optional<std::map<std::string, std::pair<std::string, SizeHash>>> FilesIn(const std::string& parent);

  std::string folder_;
  std::vector<const ExtractedPack*> stored_;
  std::vector<std::optional<ExtractedPack>> records_;
  std::map<std::string, std::size_t> lastStored_;  // item key -> last position with a record holding it
  std::map<std::string, std::map<std::string, SizeHash>> ended_;  // folder key -> file key -> as it ended
  std::map<std::string, SizeHash> hashed_;  // file key -> its content now
};
