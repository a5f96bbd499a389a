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
