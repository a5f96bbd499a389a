#include "names.h"

#include <cstdint>

#include "tool_basics.h"

namespace seven_zip {

namespace {

void AppendUtf16Unit(std::string& out, std::uint32_t unit) {
  out += static_cast<char>(unit & 0xFF);
  out += static_cast<char>((unit >> 8) & 0xFF);
}

}  // namespace

std::vector<std::string> SplitPath(std::string_view path, bool* parent) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(start, end - start);
    if (part == "..") {
      if (parent != nullptr) *parent = true;
    }
    if (!part.empty() && part != ".") parts.emplace_back(part);
    start = end + 1;
  }
  return parts;
}

std::string NameInUtf16(std::string_view name) {
  std::string out;
  out.reserve(name.size() * 2);
  std::size_t i = 0;
  while (i < name.size()) {
    const auto lead = static_cast<unsigned char>(name[i]);
    std::size_t length = 0;
    std::uint32_t code = 0;
    std::uint32_t least = 0;  // below it the sequence is overlong
    if (lead < 0x80) {
      length = 1;
      code = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      code = lead & 0x1Fu;
      least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      code = lead & 0x0Fu;
      least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      code = lead & 0x07u;
      least = 0x10000;
    }
    bool valid = length != 0 && i + length <= name.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(name[i + k]);
      valid = (next & 0xC0u) == 0x80u;
      code = (code << 6) | (next & 0x3Fu);
    }
    valid = valid && code >= least && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF) &&
            !(code >= 0xEF80 && code <= 0xEFFF);
    if (!valid) {
      AppendUtf16Unit(out, 0xEF00u + lead);
      ++i;
      continue;
    }
    if (code >= 0x10000) {
      AppendUtf16Unit(out, 0xD800u + ((code - 0x10000) >> 10));
      AppendUtf16Unit(out, 0xDC00u + ((code - 0x10000) & 0x3FFu));
    } else {
      AppendUtf16Unit(out, code);
    }
    i += length;
  }
  return out;
}

bool NameSwitches(const std::vector<std::string>& names, const std::string& listPath,
                  std::vector<std::string>& args, std::string& error) {
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  std::string list = "\xFF\xFE";  // the byte-order mark 7zz checks against -scsUTF-16LE
  for (const std::string& name : names) {
    if (!name.empty() && (blank(name.front()) || blank(name.back()))) {
      args.push_back("-i!" + name);
    } else {
      list += NameInUtf16(name);
      AppendUtf16Unit(list, '\n');
    }
  }
  if (!WriteWholeFile(listPath, list, error)) return false;
  args.push_back("-scsUTF-16LE");
  args.push_back("@" + listPath);
  return true;
}

std::vector<std::string> SplitAtSlash(const std::string& name) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    std::string part = name.substr(start, end - start);
    if (!part.empty() && part != ".") parts.push_back(std::move(part));
    start = end + 1;
  }
  return parts;
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) {
    if (!text.empty()) text += '/';
    text += part;
  }
  return text;
}

}  // namespace seven_zip
