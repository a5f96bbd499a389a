#include "installer/models.h"

#include <cctype>
#include <charconv>
#include <tuple>

#include "base/text_util.h"

namespace installer {
namespace {

bool ReadNumber(const std::string& text, unsigned& value, int base = 10) {
  std::string digits = text;
  if (base == 16 && LowerCase(digits).rfind("0x", 0) == 0) digits = digits.substr(2);
  if (digits.empty()) return false;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  return error == std::errc() && end == digits.data() + digits.size();
}

struct Decoration {
  bool valid = false;
  std::string architecture;  // lower case, "" when not named
  bool hasVersion = false;
  unsigned major = 0, minor = 0;
  bool hasProductType = false;
  unsigned productType = 0;
  unsigned suiteMask = 0;
  unsigned build = 0;
};

Decoration Parse(const std::string& text) {
  Decoration d;
  const std::string lower = LowerCase(text);
  if (lower.rfind("nt", 0) != 0) return d;
  std::vector<std::string> parts;
  std::size_t start = 2;
  while (true) {
    const std::size_t dot = lower.find('.', start);
    parts.push_back(lower.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  if (parts.size() > 6) return d;
  d.architecture = parts[0];
  if (!d.architecture.empty() && d.architecture != "x86" && d.architecture != "amd64" &&
      d.architecture != "arm64" && d.architecture != "ia64" && d.architecture != "arm")
    return d;
  auto number = [&](std::size_t i, unsigned& value, int base = 10) {
    return i >= parts.size() || parts[i].empty() || ReadNumber(parts[i], value, base);
  };
  if (!number(1, d.major) || !number(2, d.minor) || !number(3, d.productType) ||
      !number(4, d.suiteMask, 16) || !number(5, d.build))
    return d;
  d.hasVersion = parts.size() > 1 && !parts[1].empty();
  d.hasProductType = parts.size() > 3 && !parts[3].empty();
  d.valid = true;
  return d;
}

const char* ArchitectureName(Architecture a) {
  switch (a) {
    case Architecture::X86: return "x86";
    case Architecture::Amd64: return "amd64";
    case Architecture::Arm64: return "arm64";
  }
  return "";
}

bool Applies(const Decoration& d, const Platform& p) {
  if (!d.valid) return false;
  if (d.architecture.empty() ? p.architecture != Architecture::X86 : d.architecture != ArchitectureName(p.architecture))
    return false;
  if (d.hasVersion && std::make_tuple(p.major, p.minor) < std::make_tuple(d.major, d.minor)) return false;
  if (d.hasProductType && d.productType != p.productType) return false;
  if (d.suiteMask != 0) return false;
  if (d.build != 0 && p.build < d.build) return false;
  return true;
}

bool Equal(const std::string& a, const std::string& b) { return LowerCase(a) == LowerCase(b); }

}  // namespace

std::optional<std::string> ChooseDecoration(const std::vector<std::string>& decorations, const Platform& platform) {
  std::optional<std::string> best;
  std::tuple<unsigned, unsigned, unsigned, bool, bool> bestKey{};
  for (const std::string& text : decorations) {
    const Decoration d = Parse(text);
    if (!Applies(d, platform)) continue;
    const auto key = std::make_tuple(d.major, d.minor, d.build, !d.architecture.empty(), d.hasProductType);
    if (!best || bestKey < key) {
      best = text;
      bestKey = key;
    }
  }
  if (!best && platform.architecture == Architecture::X86) return std::string();
  return best;
}

std::vector<Served> MatchDevices(const std::vector<Model>& models, const std::vector<Device>& devices) {
  std::vector<Served> served;
  for (std::size_t d = 0; d < devices.size(); ++d) {
    const Device& device = devices[d];
    std::optional<Served> best;
    auto consider = [&](const std::vector<std::string>& ids, unsigned kindRank) {
      for (std::size_t i = 0; i < ids.size(); ++i) {
        for (std::size_t m = 0; m < models.size(); ++m) {
          const std::vector<std::string>& modelIds = models[m].ids;
          for (std::size_t k = 0; k < modelIds.size(); ++k) {
            if (!Equal(ids[i], modelIds[k])) continue;
            const unsigned rank = kindRank + (k == 0 ? 0u : 0x1000u) + static_cast<unsigned>(i);
            if (!best || rank < best->rank) best = Served{d, m, ids[i], rank};
          }
        }
      }
    };
    consider(device.hardwareIds, 0);
    consider(device.compatibleIds, 0x2000);
    if (best) served.push_back(*best);
  }
  return served;
}

}  // namespace installer
