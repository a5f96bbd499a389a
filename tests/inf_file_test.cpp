// The installer stand-in's INF reader looks sections and strings up through maps built once per
// file. These tests hold it to a plain reading that scans every section and entry for each lookup
// (kept here as the reference), on inputs where indexing could go wrong: names that differ only in
// letter case, sections that come more than once, localized strings, decorated and prefixed
// models sections, and instance identifiers with empty and repeated parts.
#include <gtest/gtest.h>

#ifdef VELMORA_DPINST_PATH

#include <algorithm>
#include <string>
#include <vector>

#include "inf_file.h"

namespace {

using dpinst::InfEntry;
using dpinst::InfFile;
using dpinst::InfSection;
using dpinst::Upper;

// ---- the reference: every lookup scans the whole file ----

std::string RefTrim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

const InfSection* RefSection(const InfFile& inf, const std::string& name) {
  for (const InfSection& s : inf.Sections()) {
    if (Upper(s.name) == Upper(name)) return &s;
  }
  return nullptr;
}

std::string RefExpand(const InfFile& inf, const std::string& text) {
  std::string out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t open = text.find('%', pos);
    if (open == std::string::npos) break;
    const std::size_t close = text.find('%', open + 1);
    if (close == std::string::npos) break;
    out += text.substr(pos, open - pos);
    const std::string token = text.substr(open + 1, close - open - 1);
    if (token.empty()) {
      out += '%';
    } else {
      std::string value;
      bool found = false;
      for (int pass = 0; pass < 2 && !found; ++pass) {
        for (const InfSection& s : inf.Sections()) {
          const std::string name = Upper(s.name);
          if (!(pass == 0 ? name == "STRINGS" : name.rfind("STRINGS.", 0) == 0)) continue;
          for (const InfEntry& entry : s.entries) {
            if (Upper(entry.key) == Upper(token) && !entry.fields.empty()) {
              value = entry.fields[0];
              found = true;
              break;
            }
          }
          if (found) break;
        }
      }
      out += found ? value : "%" + token + "%";
    }
    pos = close + 1;
  }
  return out + text.substr(std::min(pos, text.size()));
}

std::string RefValue(const InfFile& inf, const std::string& section, const std::string& key) {
  for (const InfSection& s : inf.Sections()) {
    if (Upper(s.name) != Upper(section)) continue;
    for (const InfEntry& entry : s.entries) {
      if (Upper(entry.key) != Upper(key)) continue;
      std::string value;
      for (std::size_t i = 0; i < entry.fields.size(); ++i) value += (i > 0 ? "," : "") + entry.fields[i];
      return RefExpand(inf, value);
    }
  }
  return {};
}

std::vector<std::pair<std::string, std::string>> RefModels(const InfFile& inf) {
  std::vector<std::string> names;
  auto add = [&](const std::string& name) {
    if (!name.empty() && std::find(names.begin(), names.end(), Upper(name)) == names.end()) {
      names.push_back(Upper(name));
    }
  };
  for (const InfSection& s : inf.Sections()) {
    if (Upper(s.name) != "MANUFACTURER") continue;
    for (const InfEntry& entry : s.entries) {
      if (entry.fields.empty()) continue;
      std::string base = entry.fields[0];
      if (entry.key.empty()) base.erase(std::remove(base.begin(), base.end(), '%'), base.end());
      base = RefTrim(base);
      if (base.empty()) continue;
      add(base);
      for (std::size_t i = 1; i < entry.fields.size(); ++i) add(base + "." + entry.fields[i]);
      for (const InfSection& other : inf.Sections()) {
        if (Upper(other.name).rfind(Upper(base) + ".", 0) == 0) add(other.name);
      }
    }
  }
  std::vector<std::pair<std::string, std::string>> models;
  for (const std::string& name : names) {
    for (const InfSection& s : inf.Sections()) {
      if (Upper(s.name) != name) continue;
      for (const InfEntry& entry : s.entries) {
        for (std::size_t i = 1; i < entry.fields.size(); ++i) {
          if (!entry.fields[i].empty()) {
            models.emplace_back(RefExpand(inf, entry.key), RefExpand(inf, entry.fields[i]));
          }
        }
      }
    }
  }
  return models;
}

std::vector<std::string> RefHardwareIds(const std::string& instanceId) {
  std::vector<std::string> ids;
  auto add = [&](const std::string& id) {
    if (!id.empty() && std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
  };
  std::string id = Upper(instanceId);
  const std::size_t firstSlash = id.find('\\');
  if (firstSlash == std::string::npos) return ids;
  const std::size_t lastSlash = id.rfind('\\');
  if (lastSlash != firstSlash) id = id.substr(0, lastSlash);
  add(id);
  const std::string bus = id.substr(0, firstSlash);
  const std::string device = id.substr(firstSlash + 1);
  std::vector<std::string> parts;
  for (std::size_t start = 0; start <= device.size();) {
    std::size_t amp = device.find('&', start);
    if (amp == std::string::npos) amp = device.size();
    parts.push_back(device.substr(start, amp - start));
    start = amp + 1;
  }
  auto part = [&](const char* prefix) {
    for (const std::string& p : parts) {
      if (p.rfind(prefix, 0) == 0) return p;
    }
    return std::string();
  };
  if (bus == "PCI") {
    const std::string ven = part("VEN_"), dev = part("DEV_"), subsys = part("SUBSYS_"), rev = part("REV_");
    if (!ven.empty() && !dev.empty()) {
      const std::string base = bus + "\\" + ven + "&" + dev;
      if (!subsys.empty()) add(base + "&" + subsys);
      if (!rev.empty()) add(base + "&" + rev);
      add(base);
    }
  } else {
    for (std::size_t count = parts.size(); count >= 2; --count) {
      std::string form = bus + "\\" + parts[0];
      for (std::size_t i = 1; i < count; ++i) form += "&" + parts[i];
      add(form);
    }
  }
  if (bus == "ACPI") add("*" + device);
  return ids;
}

// ---- the inputs ----

struct InfCase {
  const char* name;
  std::string text;
};

void PrintTo(const InfCase& c, std::ostream* os) { *os << c.name; }

// Lookups asked of every file: section and key names in several letter cases, missing ones too.
const std::vector<std::string> kSectionNames = {"Version", "VERSION",      "strings",      "Strings.0407",
                                                "Models",  "models.ntx86", "Manufacturer", "Missing",
                                                "",        "Dup"};
const std::vector<std::string> kKeys = {"Provider", "PROVIDER", "Class", "a", "A", "Dup", "", "Missing", "x"};
const std::vector<std::string> kTexts = {"%Maker%",   "%maker% and %MAKER%",
                                         "%%",        "100%%",
                                         "%",         "%unterminated",
                                         "%missing%", "%%%a%%%",
                                         "%Local%",   "%OnlyLocal%",
                                         "%Dup%",     "%Empty%",
                                         "plain",     "",
                                         "%a%%b%",    "%%Maker%%"};

std::string Generated() {
  // Many manufacturers whose sections come in mixed case, twice, and with prefixes.
  std::string inf = "[Strings.0407]\nShared=German\nOnlyHere=de\n[Manufacturer]\n";
  for (int i = 0; i < 40; ++i) {
    const std::string n = std::to_string(i % 13);
    inf += (i % 3 == 0 ? "%M" + n + "%" : "Maker" + n) + " = Mod" + n + (i % 4 == 0 ? ", NTx86" : "") + "\n";
  }
  for (int i = 0; i < 13; ++i) {
    const std::string n = std::to_string(i);
    inf += "[" + std::string(i % 2 == 0 ? "MOD" : "mod") + n + "]\n%D" + n + "% = I, PCI\\VEN_" + n + "\n";
    inf += "[Mod" + n + ".NTx86]\nx = I, USB\\VID_" + n + ", %Shared%\n";
    inf += "[mod" + n + ".other.deeper]\ny = I, *P" + n + "\n";
    inf += "[Mod" + n + "X]\nnot = I, NOT_A_MODEL\n";
  }
  inf += "[Manufacturer]\nLate = Mod1, NTamd64\n[MOD1.NTAMD64]\nz = I, LATE\\ONE\n[Strings]\n";
  for (int i = 0; i < 13; ++i) inf += "D" + std::to_string(i) + " = \"Device " + std::to_string(i) + "\"\n";
  return inf + "Shared = English\n";
}

const std::vector<InfCase> kInfs = {
    {"Basic",
     "[Version]\nProvider=%Maker%\nClass=Net\n[Manufacturer]\n%Maker% = Models, NTx86, NTamd64.10.0\n"
     "[Models.NTx86]\n%Desc% = Install, PCI\\VEN_1&DEV_2, "
     "PCI\\VEN_1\n[Strings]\nMaker=\"Velmora\"\nDesc=Card\n"},
    {"SectionsTwiceInMixedCase",
     "[version]\nClass=First\n[VERSION]\nClass=Second\nProvider=Later\n[Dup]\nDup=1\n[dUP]\ndup=2\nx\n"
     "[Manufacturer]\nM=Dup\n[manufacturer]\nN=dup\n"},
    {"StringsPlainBeforeLocalized",
     "[Strings.0407]\nMaker=Deutsch\nLocal=de\nOnlyLocal=only\n[strings]\nmaker=English\nDup=first\n"
     "[STRINGS]\nDUP=second\nEmpty=\n[Strings.0409]\nLocal=en\n[StringsNot]\nOnlyLocal=no\n[Version]\n"
     "Provider=%MAKER% %local% %onlylocal% %dup% [%empty%]\n"},
    {"ManufacturerForms",
     "[Manufacturer]\n%Mfg%\n\"Quoted\" = Q\nBlank =   \nDecor = Base, , NT..1\n=Base\n% %\n"
     "[Mfg]\na = I, MFG\\1\n[Q]\nb = I, Q\\1\n[Base.]\nc = I, EMPTY\\DECOR\n[Base.NT..1]\nd = I, B\\1\n"
     "[BASE]\ne = I, B\\0\n[base.zzz]\nf = I, B\\Z\n[Base.NT..1]\ng = I, B\\2\n[Strings]\nMfg=ignored\n"},
    {"ModelLineForms",
     "[Manufacturer]\nM = Models\n[Models]\n%Desc% = Install\n= Install, NOKEY\\1\n"
     "D = I, , EMPTY\\SKIPPED, \"Q, 1\" , %Id%\nJust, a, line\n[Strings]\nDesc=Device\nId=FROM\\STRING\n"},
    {"NoSections", "Key = Value\n%Maker%\n"},
    {"Empty", ""},
    {"Generated", Generated()},
};

class InfReferenceTest : public ::testing::TestWithParam<InfCase> {};

TEST_P(InfReferenceTest, IndexedLookupsGiveWhatTheFullScanGives) {
  const InfFile inf = InfFile::Parse(GetParam().text);
  for (const std::string& section : kSectionNames) {
    EXPECT_EQ(inf.Section(section), RefSection(inf, section)) << section;
    for (const std::string& key : kKeys) {
      EXPECT_EQ(inf.Value(section, key), RefValue(inf, section, key)) << section << " / " << key;
    }
  }
  for (const std::string& text : kTexts) EXPECT_EQ(inf.Expand(text), RefExpand(inf, text)) << text;
  std::vector<std::pair<std::string, std::string>> models;
  for (const dpinst::InfModel& model : inf.Models()) models.emplace_back(model.description, model.hardwareId);
  EXPECT_EQ(models, RefModels(inf));
}

INSTANTIATE_TEST_SUITE_P(Table, InfReferenceTest, ::testing::ValuesIn(kInfs),
                         [](const ::testing::TestParamInfo<InfCase>& param) { return param.param.name; });

// The reference must itself see what the tricky files hold, or the comparison proves little.
TEST(InfReferenceTest, TrickyFilesGiveTheExpectedResults) {
  const InfFile strings = InfFile::Parse(kInfs[2].text);
  EXPECT_EQ(strings.Value("Version", "Provider"), "English de only first []");
  const InfFile twice = InfFile::Parse(kInfs[1].text);
  EXPECT_EQ(twice.Value("VERSION", "class"), "First");
  EXPECT_EQ(twice.Value("version", "provider"), "Later");
  EXPECT_EQ(twice.Section("DUP"), &twice.Sections()[2]);
  std::vector<std::string> ids;
  for (const dpinst::InfModel& model : InfFile::Parse(kInfs[3].text).Models())
    ids.push_back(model.hardwareId);
  EXPECT_EQ(ids,
            (std::vector<std::string>{"MFG\\1", "Q\\1", "B\\0", "EMPTY\\DECOR", "B\\1", "B\\2", "B\\Z"}));
  std::vector<std::pair<std::string, std::string>> lines;
  for (const dpinst::InfModel& model : InfFile::Parse(kInfs[4].text).Models()) {
    lines.emplace_back(model.description, model.hardwareId);
  }
  EXPECT_EQ(lines, (std::vector<std::pair<std::string, std::string>>{{"", "NOKEY\\1"},
                                                                     {"D", "EMPTY\\SKIPPED"},
                                                                     {"D", "Q, 1"},
                                                                     {"D", "FROM\\STRING"},
                                                                     {"", "a"},
                                                                     {"", "line"}}));
}

TEST(HardwareIdsReferenceTest, ShortFormsGiveWhatTheFullScanGives) {
  std::string many = "USB\\";
  for (int i = 0; i < 300; ++i) many += "&a";
  for (const std::string& instanceId :
       {std::string(R"(PCI\VEN_1&DEV_2&SUBSYS_3&REV_4\5&6)"), std::string(R"(PCI\DEV_2&VEN_1&REV_4&REV_5)"),
        std::string(R"(PCI\VEN_1&&DEV_2)"), std::string(R"(PCI\VEN_1)"), std::string(R"(USB\A&B&C&D\INST)"),
        std::string(R"(usb\a&&b&)"), std::string(R"(USB\&&&)"), std::string(R"(HID\ONE)"), std::string("\\"),
        std::string("\\&\\"), std::string(R"(ACPI\PNP0A08&X\0)"), std::string(R"(ACPI\)"),
        std::string(R"(X\a&A&a)"), std::string(R"(*A\B&C)"), many, std::string("none")}) {
    EXPECT_EQ(dpinst::HardwareIdsOf(instanceId), RefHardwareIds(instanceId)) << instanceId;
  }
  EXPECT_EQ(dpinst::HardwareIdsOf(R"(usb\a&&b&)"),
            (std::vector<std::string>{R"(USB\A&&B&)", R"(USB\A&&B)", R"(USB\A&)"}));
  EXPECT_EQ(dpinst::HardwareIdsOf(many).size(), 300u);
}

}  // namespace

#endif  // VELMORA_DPINST_PATH
