// The lines of a long list (the application log), held compactly: their bytes one after another
// in large blocks, with one 8-byte reference per line, instead of a heap string per line. A
// collection's search logs millions of lines; a string per line costs its 32 bytes and a heap
// block of its own on top of its text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class LineStore {
 public:
  // The size of a block; a longer line gets a block of its own length.
  static constexpr std::size_t kBlockSize = std::size_t{1} << 20;

  LineStore() = default;
  LineStore(const LineStore& other);
  LineStore& operator=(const LineStore& other);
  LineStore(LineStore&&) noexcept = default;
  LineStore& operator=(LineStore&&) noexcept = default;

  // Adds a line at the end; its bytes are taken as they are (any length, any bytes).
  void Append(std::string_view line);
  std::size_t size() const { return refs_.size(); }
  bool empty() const { return refs_.empty(); }
  // The line at `index` (< size()); valid until the store is cleared or destroyed: appending
  // never moves the bytes of lines already held.
  std::string_view operator[](std::size_t index) const;
  std::string_view back() const { return (*this)[refs_.size() - 1]; }
  // Drops every line and gives their memory back.
  void clear();
  // The bytes of all lines together (no separators).
  std::size_t TextBytes() const { return textBytes_; }
  // The lines as strings, for small lists and tests.
  std::vector<std::string> ToVector() const;

  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = std::string_view;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = std::string_view;

    const_iterator() = default;
    const_iterator(const LineStore* store, std::size_t index) : store_(store), index_(index) {}
    std::string_view operator*() const { return (*store_)[index_]; }
    const_iterator& operator++() {
      ++index_;
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator before = *this;
      ++index_;
      return before;
    }
    bool operator==(const const_iterator& other) const { return index_ == other.index_; }

   private:
    const LineStore* store_ = nullptr;
    std::size_t index_ = 0;
  };
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, refs_.size()}; }

 private:
  struct Block {
    std::unique_ptr<char[]> data;
    std::size_t used = 0;
    std::size_t capacity = 0;
  };
  // Where a line starts; it ends where the next line of the same block starts, or at the end of
  // what its block holds.
  struct Ref {
    std::uint32_t block;
    std::uint32_t offset;
  };

  std::vector<Block> blocks_;
  std::vector<Ref> refs_;
  std::size_t textBytes_ = 0;
};
