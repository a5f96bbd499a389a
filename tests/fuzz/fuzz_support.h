// Small helpers shared by the fuzz targets: cutting one input into several values, and a
// check that stops the run with a message when a property does not hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace fuzz {

// Stops the run (libFuzzer then keeps the input as a crash) when `ok` is false.
inline void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
  }
}

// Reads an input from the front: single bytes, and texts that end at a separator byte.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : text_(reinterpret_cast<const char*>(data), size) {}

  bool Empty() const { return text_.empty(); }
  // The next byte, 0 when none is left.
  std::uint8_t Byte() {
    if (text_.empty()) return 0;
    const auto byte = static_cast<std::uint8_t>(text_.front());
    text_.remove_prefix(1);
    return byte;
  }
  // The text up to the next `separator` (dropped), or all that is left.
  std::string Part(char separator = '\x01') {
    const std::size_t end = text_.find(separator);
    std::string part(text_.substr(0, end));
    text_.remove_prefix(end == std::string_view::npos ? text_.size() : end + 1);
    return part;
  }
  std::string Rest() {
    std::string rest(text_);
    text_ = {};
    return rest;
  }

 private:
  std::string_view text_;
};

}  // namespace fuzz
