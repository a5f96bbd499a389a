// Small registry hives for tests, made from nothing: an empty hive written from the documented
// file format (a base block and one hive bin holding the root key and its security cell), then
// keys and values added through libhivex. Header-only, so only the tests that use it need libhivex.
#pragma once

#include <hivex.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace test_hive {

inline void Put32(std::string& data, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) data[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
}
inline void Put16(std::string& data, std::size_t at, std::uint16_t value) {
  data[at] = static_cast<char>(value & 0xFF);
  data[at + 1] = static_cast<char>(value >> 8);
}
inline std::uint32_t Get32(const std::string& data, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i)
    value = value << 8 | static_cast<unsigned char>(data[at + static_cast<std::size_t>(i)]);
  return value;
}

// The base block's checksum: XOR of its first 127 double words, stored after them.
inline void SetChecksum(std::string& hive) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < 127; ++i) sum ^= Get32(hive, 4 * i);
  Put32(hive, 508, sum);
}

// An empty hive: the base block (4096 bytes) and one hive bin of 4096 bytes with the root key
// ("nk"), its security cell ("sk") and one free cell over the rest.
inline std::string EmptyHive(std::uint32_t primarySequence = 1, std::uint32_t secondarySequence = 1) {
  std::string hive(8192, '\0');
  hive.replace(0, 4, "regf");
  Put32(hive, 4, primarySequence);
  Put32(hive, 8, secondarySequence);
  Put32(hive, 20, 1);       // major version
  Put32(hive, 24, 5);       // minor version (Windows XP and later)
  Put32(hive, 28, 0);       // primary file
  Put32(hive, 32, 1);       // direct memory load
  Put32(hive, 36, 0x20);    // root cell, relative to the first hive bin
  Put32(hive, 40, 0x1000);  // size of the hive bins
  Put32(hive, 44, 1);       // clustering factor
  SetChecksum(hive);

  const std::size_t bin = 0x1000;
  hive.replace(bin, 4, "hbin");
  Put32(hive, bin + 4, 0);       // offset of this bin
  Put32(hive, bin + 8, 0x1000);  // its size

  const std::uint32_t nk = 0x20;
  const std::uint32_t nkSize = 88;  // 80 bytes and the name "ROOT", rounded up to 8
  const std::uint32_t sk = nk + nkSize;
  const std::uint32_t skSize = 48;  // 24 bytes and a 20-byte security descriptor, rounded up
  const std::size_t n = bin + nk;
  Put32(hive, n, static_cast<std::uint32_t>(-static_cast<std::int32_t>(nkSize)));  // in use
  hive.replace(n + 4, 2, "nk");
  Put16(hive, n + 6, 0x2C);  // hive entry, no delete, ASCII name
  Put32(hive, n + 20, 0xFFFFFFFF);  // parent
  Put32(hive, n + 32, 0xFFFFFFFF);  // subkey list
  Put32(hive, n + 36, 0xFFFFFFFF);  // volatile subkey list
  Put32(hive, n + 44, 0xFFFFFFFF);  // value list
  Put32(hive, n + 48, sk);          // security cell
  Put32(hive, n + 52, 0xFFFFFFFF);  // class name
  Put16(hive, n + 76, 4);           // name length
  hive.replace(n + 80, 4, "ROOT");

  const std::size_t s = bin + sk;
  Put32(hive, s, static_cast<std::uint32_t>(-static_cast<std::int32_t>(skSize)));
  hive.replace(s + 4, 2, "sk");
  Put32(hive, s + 8, sk);   // next security cell: itself, the only one
  Put32(hive, s + 12, sk);  // previous: itself
  Put32(hive, s + 16, 1);   // used by one key
  Put32(hive, s + 20, 20);  // descriptor size
  hive[s + 24] = 1;         // descriptor revision
  Put16(hive, s + 26, 0x8000);  // self-relative, no owner, group or lists

  const std::uint32_t free = sk + skSize;
  Put32(hive, bin + free, 0x1000 - free);  // positive: free
  return hive;
}

inline void WriteFile(const std::filesystem::path& path, const std::string& data) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// UTF-16LE with its terminating zero, for ASCII text.
inline std::string Utf16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out + std::string(2, '\0');
}

// A value to put into a hive: key path below the root ("Microsoft\Windows\CurrentVersion"), name,
// type and data (text for string types, stored as UTF-16LE; four bytes for a DWORD).
struct Value {
  std::string key;
  std::string name;
  hive_type type;
  std::string data;
};

inline hive_node_h Descend(hive_h* h, const std::string& path, bool create) {
  hive_node_h node = hivex_root(h);
  std::size_t start = 0;
  while (node != 0 && start < path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    const std::string name = path.substr(start, end - start);
    hive_node_h child = hivex_node_get_child(h, node, name.c_str());
    if (child == 0 && create) child = hivex_node_add_child(h, node, name.c_str());
    node = child;
    start = end + 1;
  }
  return node;
}

// Writes an empty hive with `values` (and any keys named by `keys`) to `path`; false on failure.
inline bool MakeHive(const std::filesystem::path& path, const std::vector<Value>& values,
                     const std::vector<std::string>& keys = {}) {
  WriteFile(path, EmptyHive());
  hive_h* h = hivex_open(path.c_str(), HIVEX_OPEN_WRITE);
  if (h == nullptr) return false;
  bool ok = true;
  for (const std::string& key : keys) ok = ok && Descend(h, key, true) != 0;
  for (const Value& value : values) {
    const hive_node_h node = Descend(h, value.key, true);
    std::string data = (value.type == hive_t_REG_SZ || value.type == hive_t_REG_EXPAND_SZ) ? Utf16(value.data)
                                                                                          : value.data;
    std::string name = value.name;
    hive_set_value v{name.data(), value.type, data.size(), data.data()};
    ok = ok && node != 0 && hivex_node_set_value(h, node, &v, 0) == 0;
  }
  ok = ok && hivex_commit(h, nullptr, 0) == 0;
  hivex_close(h);
  return ok;
}

// Every value of the key at `key` as name -> (type, text); text values as UTF-8, others empty.
// Holds "!missing" when the key is not there, "!unreadable" when the hive cannot be opened.
using Values = std::map<std::string, std::pair<hive_type, std::string>>;
inline Values ReadValues(const std::filesystem::path& path, const std::string& key) {
  Values values;
  hive_h* h = hivex_open(path.c_str(), 0);
  if (h == nullptr) return {{"!unreadable", {hive_t_REG_NONE, ""}}};
  const hive_node_h node = Descend(h, key, false);
  if (node == 0) {
    hivex_close(h);
    return {{"!missing", {hive_t_REG_NONE, ""}}};
  }
  hive_value_h* list = hivex_node_values(h, node);
  for (hive_value_h* v = list; v != nullptr && *v != 0; ++v) {
    char* name = hivex_value_key(h, *v);
    hive_type type = hive_t_REG_NONE;
    std::size_t length = 0;
    hivex_value_type(h, *v, &type, &length);
    std::string text;
    if (type == hive_t_REG_SZ || type == hive_t_REG_EXPAND_SZ) {
      char* s = hivex_value_string(h, *v);
      if (s != nullptr) text = s;
      std::free(s);
    }
    values[name != nullptr ? name : "?"] = {type, text};
    std::free(name);
  }
  std::free(list);
  hivex_close(h);
  return values;
}

}  // namespace test_hive
