// One scan of a text for many patterns.
//
// Every pattern is anchored at its first anchor byte: its first backslash, or, when it has none,
// its first "*". Hardware identifiers all hold one or the other ("PCI\VEN_8086&DEV_1234",
// "*PNP0501"), and in an INF file both bytes are rare enough that finding them is cheap
// (memchr): one sweep per anchor byte in use. At every anchor byte of the text the patterns
// whose part before the anchor ends in the byte before it are looked at, grouped by that part;
// a group is passed over when no pattern of it can go on with the byte after the anchor; within
// a group a hash of the first bytes after the anchor picks the few patterns to compare in full.
// This meets every occurrence of every pattern once, at the position of its anchor, so in
// increasing position, and keeping the end of the last counted occurrence per pattern gives the
// greedy leftmost non-overlapping count the Boyer-Moore-Horspool walk of TBaseSearch gives.
//
// A byte serves as an anchor only when the fold table leaves it as it is and makes it of no
// other byte (else a folded anchor need not be that byte in the text); patterns with no byte
// that serves are counted by TSearch itself.
#include "search/multi_search.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <tuple>
#include <unordered_map>

#include "platform/mapped_file.h"
#include "search/file_search.h"

namespace {

constexpr std::uint32_t kNoPattern = 0xFFFFFFFFu;
// Bytes after the anchor that go into the lookup key (two 64-bit words).
constexpr std::size_t kMaxProbe = 16;
// The bytes a pattern is anchored at, the first preferred: the first of them the pattern holds.
constexpr unsigned char kAnchorBytes[] = {'\\', '*'};

struct ProbeKey {
  std::uint64_t lo = 0;
  std::uint64_t hi = 0;
  bool operator==(const ProbeKey&) const = default;
};

// A multiplicative hash: its top bits depend on every bit of the key, so a table index is
// taken from the top (keys of one group share their first bytes, "ven_" or "vid_").
std::uint64_t HashKey(const ProbeKey& key) {
  return (key.lo ^ (key.hi * 0xC2B2AE3D27D4EB4Full)) * 0x9E3779B97F4A7C15ull;
}

// The first `length` bytes of `bytes`, folded, as a key (unused bytes stay 0).
ProbeKey MakeKey(const unsigned char* bytes, std::size_t length, const platform::FoldTable& fold) {
  unsigned char buffer[kMaxProbe] = {};
  for (std::size_t k = 0; k < length; ++k) buffer[k] = fold[bytes[k]];
  ProbeKey key;
  std::memcpy(&key.lo, buffer, 8);
  std::memcpy(&key.hi, buffer + 8, 8);
  return key;
}

// Eight bytes folded at once when the fold table changes ASCII capitals only: every byte
// from 'A' to 'Z' gets the 0x20 bit, bytes with the top bit set stay as they are.
std::uint64_t FoldAscii8(std::uint64_t x) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  const std::uint64_t low7 = x & (kOnes * 0x7F);
  const std::uint64_t atLeastA = low7 + kOnes * (0x80 - 'A');    // top bit set where >= 'A'
  const std::uint64_t aboveZ = low7 + kOnes * (0x80 - 'Z' - 1);  // top bit set where > 'Z'
  const std::uint64_t capital = atLeastA & ~aboveZ & ~x & (kOnes * 0x80);
  return x | (capital >> 2);
}

// The table that leaves every byte as it is.
const platform::FoldTable& Identity() {
  static const platform::FoldTable table = [] {
    platform::FoldTable t{};
    for (int c = 0; c < 256; ++c) t.map[c] = static_cast<unsigned char>(c);
    return t;
  }();
  return table;
}

bool IsAsciiFold(const platform::FoldTable& fold) {
  for (int c = 0; c < 256; ++c) {
    const int lower = c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
    if (fold[static_cast<unsigned char>(c)] != lower) return false;
  }
  return true;
}

}  // namespace

struct MultiPatternCounter::Impl {
  // Patterns whose first anchor byte comes after the same (folded) text and which put the same
  // number of bytes after it into their key.
  struct Slot {
    ProbeKey key;
    std::uint32_t first = 0;  // into `members`
    std::uint32_t count = 0;  // 0: free slot
  };
  struct ProbeClass {
    std::size_t probe = 0;  // key bytes after the anchor
    ProbeKey kept;          // those bytes of a 16-byte key
    std::vector<Slot> slots;
    std::size_t mask = 0;                // slots - 1
    int shift = 0;                       // 64 - log2(slots)
    std::vector<std::uint32_t> members;  // distinct pattern numbers, slot by slot
  };
  struct Group {
    std::string prefix;  // folded text before the anchor
    std::vector<ProbeClass> classes;
    // By the folded byte after the anchor (kNoByte: the text ends there), whether some pattern
    // of the group can go on with it; a pattern that ends at the anchor goes on with any.
    std::array<bool, 257> follows{};
  };
  static constexpr std::size_t kNoByte = 256;
  // The patterns anchored at one byte, scanned for in one sweep.
  struct Anchor {
    unsigned char byte = 0;
    std::vector<Group> groups;
    std::vector<std::uint32_t> groupsEndingIn[256];  // by the folded byte before the anchor
    int emptyPrefixGroup = -1;                       // patterns that start with the anchor
  };

  Impl(std::vector<std::string> patterns, const platform::FoldTable& foldTable);
  void CountAnchored(const Anchor& anchor, const unsigned char* text, std::size_t size, std::uint32_t* counts,
                     std::uint64_t* lastEnd) const;

  const platform::FoldTable& fold;
  const bool asciiFold = IsAsciiFold(fold);
  std::vector<std::string> originals;
  std::vector<std::uint32_t> distinctOf;  // per original pattern, kNoPattern for an empty one
  std::vector<std::string> distinct;      // folded, non-empty, each once
  std::vector<std::uint32_t> firstOf;     // per distinct pattern, an original of that folded form
  std::vector<std::uint32_t> bySearcher;  // distinct patterns counted by TSearch
  std::vector<Anchor> anchors;            // those in use, at most one per anchor byte
};

MultiPatternCounter::Impl::Impl(std::vector<std::string> patterns, const platform::FoldTable& foldTable)
    : fold(foldTable), originals(std::move(patterns)) {
  std::unordered_map<std::string, std::uint32_t> seen;
  distinctOf.assign(originals.size(), kNoPattern);
  for (std::size_t i = 0; i < originals.size(); ++i) {
    if (originals[i].empty()) continue;
    std::string folded = originals[i];
    for (char& c : folded) c = static_cast<char>(fold[static_cast<unsigned char>(c)]);
    const auto [it, added] = seen.emplace(folded, static_cast<std::uint32_t>(distinct.size()));
    if (added) {
      distinct.push_back(std::move(folded));
      firstOf.push_back(static_cast<std::uint32_t>(i));
    }
    distinctOf[i] = it->second;
  }

  // The anchor bytes that serve under this fold table, in the order they are preferred.
  std::vector<unsigned char> usable;
  for (const unsigned char byte : kAnchorBytes) {
    bool serves = fold[byte] == byte;
    for (int c = 0; c < 256; ++c) {
      if (c != byte && fold[static_cast<unsigned char>(c)] == byte) serves = false;
    }
    if (serves) usable.push_back(byte);
  }

  // Per anchor byte, group and probe length, the distinct patterns with their keys.
  std::vector<std::unordered_map<std::string, std::size_t>> groupOf(usable.size());
  std::vector<int> anchorOf(usable.size(), -1);
  std::vector<std::vector<std::vector<std::vector<std::pair<ProbeKey, std::uint32_t>>>>> pending(usable.size());
  for (std::uint32_t d = 0; d < distinct.size(); ++d) {
    const std::string& p = distinct[d];
    std::size_t u = 0;
    std::size_t at = std::string::npos;
    for (; u < usable.size(); ++u) {
      at = p.find(static_cast<char>(usable[u]));
      if (at != std::string::npos) break;
    }
    if (u == usable.size()) {
      bySearcher.push_back(d);
      continue;
    }
    if (anchorOf[u] < 0) {
      anchorOf[u] = static_cast<int>(anchors.size());
      anchors.emplace_back();
      anchors.back().byte = usable[u];
    }
    Anchor& anchor = anchors[static_cast<std::size_t>(anchorOf[u])];
    const std::string prefix = p.substr(0, at);
    auto [it, added] = groupOf[u].emplace(prefix, anchor.groups.size());
    if (added) {
      anchor.groups.push_back(Group{prefix, {}, {}});
      pending[u].emplace_back(kMaxProbe + 1);
      if (prefix.empty()) {
        anchor.emptyPrefixGroup = static_cast<int>(it->second);
      } else {
        anchor.groupsEndingIn[static_cast<unsigned char>(prefix.back())].push_back(
            static_cast<std::uint32_t>(it->second));
      }
    }
    Group& group = anchor.groups[it->second];
    const std::size_t rest = p.size() - at - 1;  // bytes after the anchor
    if (rest == 0) {
      group.follows.fill(true);
    } else {
      group.follows[static_cast<unsigned char>(p[at + 1])] = true;
    }
    const std::size_t probe = std::min(kMaxProbe, rest);
    const auto* after = reinterpret_cast<const unsigned char*>(p.data()) + at + 1;
    // The pattern is folded already: its key takes its bytes as they are.
    pending[u][it->second][probe].emplace_back(MakeKey(after, probe, Identity()), d);
  }

  for (std::size_t u = 0; u < usable.size(); ++u) {
    if (anchorOf[u] < 0) continue;
    Anchor& anchor = anchors[static_cast<std::size_t>(anchorOf[u])];
    for (std::size_t g = 0; g < anchor.groups.size(); ++g) {
      for (std::size_t probe = 0; probe <= kMaxProbe; ++probe) {
        auto& entries = pending[u][g][probe];
        if (entries.empty()) continue;
        std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
          return std::tie(a.first.lo, a.first.hi, a.second) < std::tie(b.first.lo, b.first.hi, b.second);
        });
        ProbeClass cls;
        cls.probe = probe;
        unsigned char kept[kMaxProbe] = {};
        std::memset(kept, 0xFF, probe);
        std::memcpy(&cls.kept.lo, kept, 8);
        std::memcpy(&cls.kept.hi, kept + 8, 8);
        std::size_t capacity = 4;
        cls.shift = 62;
        while (capacity < entries.size() * 2) {
          capacity *= 2;
          --cls.shift;
        }
        cls.slots.resize(capacity);
        cls.mask = capacity - 1;
        for (std::size_t k = 0; k < entries.size();) {
          std::size_t end = k;
          while (end < entries.size() && entries[end].first == entries[k].first) ++end;
          auto slot = static_cast<std::size_t>(HashKey(entries[k].first) >> cls.shift);
          while (cls.slots[slot].count != 0) slot = (slot + 1) & cls.mask;
          cls.slots[slot] = Slot{entries[k].first, static_cast<std::uint32_t>(cls.members.size()),
                                 static_cast<std::uint32_t>(end - k)};
          for (std::size_t e = k; e < end; ++e) cls.members.push_back(entries[e].second);
          k = end;
        }
        anchor.groups[g].classes.push_back(std::move(cls));
      }
    }
  }
}

void MultiPatternCounter::Impl::CountAnchored(const Anchor& anchor, const unsigned char* text, std::size_t size,
                                              std::uint32_t* counts, std::uint64_t* lastEnd) const {
  const unsigned char* const end = text + size;
  const unsigned char* at = text;
  while (at < end) {
    at = static_cast<const unsigned char*>(std::memchr(at, anchor.byte, static_cast<std::size_t>(end - at)));
    if (at == nullptr) break;
    const std::size_t slash = static_cast<std::size_t>(at - text);
    ++at;
    const std::vector<std::uint32_t>* ending =
        slash > 0 ? &anchor.groupsEndingIn[fold[text[slash - 1]]] : nullptr;
    const std::size_t listed = ending != nullptr ? ending->size() : 0;
    if (listed == 0 && anchor.emptyPrefixGroup < 0) continue;
    const std::size_t after = size - slash - 1;  // bytes after the anchor
    const std::size_t next = after > 0 ? fold[text[slash + 1]] : kNoByte;
    // The 16 bytes after the anchor, folded, for the keys of every class (when there are 16);
    // taken at the first group that needs them.
    ProbeKey window;
    const bool quick = asciiFold && after >= kMaxProbe;
    bool windowTaken = false;
    for (std::size_t n = 0; n <= listed; ++n) {
      std::size_t g;
      if (n < listed) {
        g = (*ending)[n];
      } else if (anchor.emptyPrefixGroup >= 0) {
        g = static_cast<std::size_t>(anchor.emptyPrefixGroup);
      } else {
        break;
      }
      const Group& group = anchor.groups[g];
      if (!group.follows[next]) continue;
      const std::size_t b = group.prefix.size();
      if (b > slash) continue;
      const std::size_t start = slash - b;
      bool prefixEqual = true;
      for (std::size_t k = 0; k + 1 < b; ++k) {  // the last byte chose the group
        if (fold[text[start + k]] != static_cast<unsigned char>(group.prefix[k])) {
          prefixEqual = false;
          break;
        }
      }
      if (!prefixEqual) continue;
      if (quick && !windowTaken) {
        std::memcpy(&window.lo, text + slash + 1, 8);
        std::memcpy(&window.hi, text + slash + 9, 8);
        window.lo = FoldAscii8(window.lo);
        window.hi = FoldAscii8(window.hi);
        windowTaken = true;
      }
      for (const ProbeClass& cls : group.classes) {
        if (cls.probe > after) break;  // classes go by increasing probe length
        const ProbeKey key = quick ? ProbeKey{window.lo & cls.kept.lo, window.hi & cls.kept.hi}
                                   : MakeKey(text + slash + 1, cls.probe, fold);
        auto s = static_cast<std::size_t>(HashKey(key) >> cls.shift);
        while (cls.slots[s].count != 0 && !(cls.slots[s].key == key)) s = (s + 1) & cls.mask;
        const Slot& slot = cls.slots[s];
        for (std::uint32_t m = 0; m < slot.count; ++m) {
          const std::uint32_t d = cls.members[slot.first + m];
          const std::string& p = distinct[d];
          if (start < lastEnd[d] || p.size() > size - start) continue;
          // Prefix, anchor and probe bytes are equal already.
          bool equal = true;
          for (std::size_t k = b + 1 + cls.probe; k < p.size(); ++k) {
            if (fold[text[start + k]] != static_cast<unsigned char>(p[k])) {
              equal = false;
              break;
            }
          }
          if (equal) {
            ++counts[d];
            lastEnd[d] = start + p.size();
          }
        }
      }
    }
  }
}

MultiPatternCounter::MultiPatternCounter(std::vector<std::string> patterns)
    : impl_(std::make_unique<Impl>(std::move(patterns), platform::LowerCaseTable())) {}

MultiPatternCounter::MultiPatternCounter(std::vector<std::string> patterns, const platform::FoldTable& fold)
    : impl_(std::make_unique<Impl>(std::move(patterns), fold)) {}

MultiPatternCounter::~MultiPatternCounter() = default;

std::size_t MultiPatternCounter::PatternCount() const { return impl_->originals.size(); }

std::size_t MultiPatternCounter::PatternsCountedAlone() const { return impl_->bySearcher.size(); }

void MultiPatternCounter::Count(std::string_view text, std::vector<std::uint32_t>& counts) const {
  const Impl& impl = *impl_;
  const std::size_t distinctCount = impl.distinct.size();
  std::vector<std::uint32_t> found(distinctCount, 0);
  std::vector<std::uint64_t> lastEnd(distinctCount, 0);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  if (!text.empty()) {
    for (const Impl::Anchor& anchor : impl.anchors)
      impl.CountAnchored(anchor, bytes, text.size(), found.data(), lastEnd.data());
  }
  if (!impl.bySearcher.empty() && !text.empty()) {
    TSearch search(impl.fold);
    search.SetBuffer(bytes, static_cast<std::int64_t>(text.size()));
    for (const std::uint32_t d : impl.bySearcher) {
      search.SetPattern(impl.originals[impl.firstOf[d]]);
      for (std::int64_t at = search.First(); at >= 0; at = search.Next()) ++found[d];
    }
  }
  counts.assign(impl.originals.size(), 0);
  for (std::size_t i = 0; i < counts.size(); ++i) {
    if (impl.distinctOf[i] != kNoPattern) counts[i] = found[impl.distinctOf[i]];
  }
}

std::vector<FileMatches> CountInFiles(const MultiPatternCounter& counter,
                                      const std::vector<std::string>& paths, unsigned threads,
                                      const std::function<void(std::size_t done)>& progress) {
  std::vector<FileMatches> results(paths.size());
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  if (threads > paths.size()) threads = static_cast<unsigned>(std::max<std::size_t>(1, paths.size()));

  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> done{0};
  std::atomic<bool> failed{false};
  std::exception_ptr error;
  std::mutex errorLock;
  using Clock = std::chrono::steady_clock;
  constexpr auto kProgressEvery = std::chrono::milliseconds(20);
  auto lastProgress = Clock::now();
  auto fail = [&] {
    const std::lock_guard<std::mutex> lock(errorLock);
    if (!error) error = std::current_exception();
    failed = true;
  };

  // Workers take the next file until none is left; the calling thread works too and reports.
  auto work = [&](bool reports) {
    try {
      std::string buffer;  // read, not mapped: cheaper for small files, and no address-space lock
      std::vector<std::uint32_t> counts;
      while (!failed.load(std::memory_order_relaxed)) {
        const std::size_t k = next.fetch_add(1, std::memory_order_relaxed);
        if (k >= paths.size()) break;
        if (const std::size_t size = platform::ReadWholeFileInto(paths[k], buffer); size > 0) {
          counter.Count(SearchTextInPlace(buffer, size), counts);
          auto& out = results[k].counts;
          for (std::size_t i = 0; i < counts.size(); ++i) {
            if (counts[i] != 0) out.emplace_back(static_cast<std::uint32_t>(i), counts[i]);
          }
        }
        const std::size_t finished = done.fetch_add(1, std::memory_order_relaxed) + 1;
        if (reports && progress) {
          const auto now = Clock::now();
          if (now - lastProgress >= kProgressEvery) {
            lastProgress = now;
            progress(finished);
          }
        }
      }
    } catch (...) {
      fail();
    }
  };

  std::vector<std::thread> helpers;
  helpers.reserve(threads - 1);
  for (unsigned t = 1; t < threads; ++t) {
    try {
      helpers.emplace_back(work, false);
    } catch (const std::system_error&) {
      break;  // the system has no more threads to give: fewer do the work
    }
  }
  work(true);
  // The calling thread ran out of files; it keeps reporting while the others finish theirs.
  try {
    while (progress && done.load() < paths.size() && !failed.load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      if (Clock::now() - lastProgress >= kProgressEvery) {
        lastProgress = Clock::now();
        progress(done.load());
      }
    }
  } catch (...) {
    fail();
  }
  for (std::thread& helper : helpers) helper.join();
  if (error) std::rethrow_exception(error);
  if (progress) progress(paths.size());
  return results;
}
