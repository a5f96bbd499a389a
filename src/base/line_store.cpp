#include "base/line_store.h"

#include <cstring>

LineStore::LineStore(const LineStore& other) {
  refs_.reserve(other.size());
  for (const std::string_view line : other) Append(line);
}

LineStore& LineStore::operator=(const LineStore& other) {
  if (this != &other) {
    LineStore copy(other);
    *this = std::move(copy);
  }
  return *this;
}

void LineStore::Append(std::string_view line) {
  // A line goes into the last block when it fits there; a block made for one long line takes
  // no other line, so the offsets within a block stay below kBlockSize.
  const bool fits = !blocks_.empty() && blocks_.back().capacity == kBlockSize &&
                    line.size() <= kBlockSize - blocks_.back().used;
  if (!fits) {
    Block block;
    block.capacity = line.size() > kBlockSize ? line.size() : kBlockSize;
    // Not zeroed: a block's pages are touched only as lines fill them.
    block.data = std::make_unique_for_overwrite<char[]>(block.capacity);
    blocks_.push_back(std::move(block));
  }
  Block& last = blocks_.back();
  if (!line.empty()) std::memcpy(last.data.get() + last.used, line.data(), line.size());
  refs_.push_back(Ref{static_cast<std::uint32_t>(blocks_.size() - 1), static_cast<std::uint32_t>(last.used)});
  last.used += line.size();
  textBytes_ += line.size();
}

std::string_view LineStore::operator[](std::size_t index) const {
  const Ref ref = refs_[index];
  const Block& block = blocks_[ref.block];
  const bool nextInBlock = index + 1 < refs_.size() && refs_[index + 1].block == ref.block;
  const std::size_t end = nextInBlock ? refs_[index + 1].offset : block.used;
  return {block.data.get() + ref.offset, end - ref.offset};
}

void LineStore::clear() {
  blocks_ = std::vector<Block>();
  refs_ = std::vector<Ref>();
  textBytes_ = 0;
}

std::vector<std::string> LineStore::ToVector() const {
  std::vector<std::string> lines;
  lines.reserve(size());
  for (const std::string_view line : *this) lines.emplace_back(line);
  return lines;
}
