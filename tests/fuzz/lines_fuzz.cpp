// Tool output joined into lines chunk by chunk (as RunAny reads the pipe) gives the lines of
// the whole output read at once, for any split into chunks.
// Input: first byte: how many chunk borders; the next bytes their positions; the rest the output.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "packs/runners.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input input(data, size);
  const std::size_t borders = input.Byte() % 16;
  std::vector<std::uint8_t> at;
  for (std::size_t i = 0; i < borders; ++i) at.push_back(input.Byte());
  const std::string output = input.Rest();

  std::vector<std::string> whole;
  runners_detail::LineJoiner().Append(whole, output);

  // The plain reading: zero bytes dropped, lines end at CR LF, LF or CR, no empty last line.
  std::string text;
  std::copy_if(output.begin(), output.end(), std::back_inserter(text), [](char c) { return c != '\0'; });
  std::vector<std::string> plain;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t end = std::min(text.find_first_of("\r\n", pos), text.size());
    plain.push_back(text.substr(pos, end - pos));
    pos = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
  fuzz::Check(whole == plain, "one chunk gives the plain lines");

  std::vector<std::size_t> cuts;
  for (const std::uint8_t b : at) cuts.push_back(output.empty() ? 0 : b % (output.size() + 1));
  std::sort(cuts.begin(), cuts.end());
  std::vector<std::string> chunked;
  runners_detail::LineJoiner joiner;
  std::size_t from = 0;
  for (const std::size_t to : cuts) {
    joiner.Append(chunked, std::string_view(output).substr(from, to - from));
    from = to;
  }
  joiner.Append(chunked, std::string_view(output).substr(from));
  fuzz::Check(chunked == whole, "any split gives the lines of the whole output");
  return 0;
}
