// The demo driver packs (data/demo, built into <build>/demo/DP): every INF file reads as an INF
// file the installer accepts, every driver folder holds one INF file and the driver file it
// names, the built archives hold exactly the files of data/demo, and the packs serve some devices
// of the recorded virtual machine and notebook trees as the hardware ID search finds them.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "devices/get_device_list.h"
#include "devices/hwid_rules.h"
#include "platform/devices.h"
#include "platform/process.h"
#include "search/file_search.h"
#include "support/scoped_env.h"

#ifdef VELMORA_DPINST_PATH

#include "inf_file.h"

namespace fs = std::filesystem;
namespace proc = platform::process;

namespace {

const fs::path kDemoSource = fs::path(VELMORA_SOURCE_DIR) / "data" / "demo";

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream data;
  data << in.rdbuf();
  return data.str();
}

std::string Upper(std::string text) { return dpinst::Upper(std::move(text)); }

bool IsInf(const fs::path& path) { return Upper(path.extension().string()) == ".INF"; }

// The packs' source folders: data/demo/<pack name without .7z>.
std::vector<fs::path> PackFolders() {
  std::vector<fs::path> packs;
  for (const fs::directory_entry& entry : fs::directory_iterator(kDemoSource)) {
    if (entry.is_directory()) packs.push_back(entry.path());
  }
  std::sort(packs.begin(), packs.end());
  return packs;
}

// Every file below a folder, relative with "/", sorted.
std::vector<std::string> FilesBelow(const fs::path& folder) {
  std::vector<std::string> files;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_directory()) files.push_back(fs::relative(entry.path(), folder).generic_string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Every folder below a folder, relative with "/".
std::set<std::string> FoldersBelow(const fs::path& folder) {
  std::set<std::string> folders;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_directory()) folders.insert(fs::relative(entry.path(), folder).generic_string());
  }
  return folders;
}

struct DemoInf {
  std::string pack;  // the pack's file name, "DP_LAN_demo.7z"
  std::string path;  // inside the pack, "D/L/Intel/1/e1000.inf"
  fs::path file;
  std::string bytes;
  std::string text;  // as UTF-8
};

std::vector<DemoInf> AllInfs() {
  std::vector<DemoInf> infs;
  for (const fs::path& pack : PackFolders()) {
    for (const std::string& rel : FilesBelow(pack)) {
      if (!IsInf(rel)) continue;
      DemoInf inf{pack.filename().string() + ".7z", rel, pack / rel, ReadBytes(pack / rel), {}};
      inf.text = dpinst::InfText(inf.bytes);
      infs.push_back(std::move(inf));
    }
  }
  return infs;
}

bool IsUtf16(const std::string& bytes) {
  return bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE';
}

// Lines of a text whose every line ends in CR LF; false when one does not.
bool SplitCrLf(const std::string& text, std::vector<std::string>& lines) {
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t lf = text.find('\n', start);
    if (lf == std::string::npos || lf == start || text[lf - 1] != '\r') return false;
    lines.push_back(text.substr(start, lf - 1 - start));
    start = lf + 1;
  }
  return true;
}

std::string Trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// ---- the INF files ----

TEST(DemoPacks, SourcesAreFivePacksOneWithABlankInItsName) {
  std::vector<std::string> names;
  for (const fs::path& pack : PackFolders()) names.push_back(pack.filename().string());
  EXPECT_EQ(names, (std::vector<std::string>{"DP_Chipset_demo", "DP_LAN_demo", "DP_MassStorage_demo",
                                             "DP_Sound_demo", "DP_Virtio demo"}));
  for (const fs::directory_entry& entry : fs::directory_iterator(kDemoSource)) {
    EXPECT_TRUE(entry.is_directory()) << "not a pack folder: " << entry.path();
  }
}

TEST(DemoPacks, EveryDriverFolderHoldsOneInfFileAndTheDriverFileItNames) {
  std::size_t driverFolders = 0;
  for (const fs::path& pack : PackFolders()) {
    std::map<std::string, std::vector<std::string>> byFolder;  // folder -> its file names
    for (const std::string& rel : FilesBelow(pack)) {
      const fs::path path(rel);
      byFolder[path.parent_path().generic_string()].push_back(path.filename().string());
    }
    for (const auto& [folder, names] : byFolder) {
      SCOPED_TRACE(pack.filename().string() + ": " + folder);
      ++driverFolders;
      std::vector<std::string> infs, others;
      for (const std::string& name : names) (IsInf(name) ? infs : others).push_back(name);
      ASSERT_EQ(infs.size(), 1u) << "a driver folder holds exactly one INF file";
      EXPECT_FALSE(others.empty()) << "a driver folder holds a driver file beside its INF file";
      // Driver folders are nested as packs nest them: D\<kind>\<vendor>\<number>.
      EXPECT_EQ(std::count(folder.begin(), folder.end(), '/'), 3) << "D/<kind>/<vendor>/<number>";
      // [SourceDisksFiles] names exactly the other files of the folder.
      const dpinst::InfFile inf = dpinst::InfFile::Parse(ReadBytes(pack / folder / infs[0]));
      const dpinst::InfSection* sourceFiles = inf.Section("SourceDisksFiles");
      ASSERT_NE(sourceFiles, nullptr);
      std::vector<std::string> named;
      for (const dpinst::InfEntry& entry : sourceFiles->entries) named.push_back(entry.key);
      std::sort(named.begin(), named.end());
      EXPECT_EQ(named, others);
      for (const std::string& payload : others) {
        EXPECT_GT(fs::file_size(pack / folder / payload), 0u) << payload;
      }
    }
  }
  EXPECT_GE(driverFolders, 25u);
}

TEST(DemoPacks, InfFilesAreAnsiOrUtf16WithByteOrderMarkWithCrLfLines) {
  std::size_t utf16 = 0;
  for (const DemoInf& inf : AllInfs()) {
    SCOPED_TRACE(inf.pack + ": " + inf.path);
    if (IsUtf16(inf.bytes)) {
      ++utf16;
      EXPECT_EQ(inf.bytes.size() % 2, 0u);
      EXPECT_EQ(inf.text.find('\0'), std::string::npos);
      EXPECT_EQ(inf.text.find("\xEF\xBF\xBD"), std::string::npos) << "a broken UTF-16 sequence";
    } else {
      // Without a byte-order mark an INF file is read in the system's code page: plain ASCII reads
      // the same in every one.
      EXPECT_TRUE(std::all_of(inf.bytes.begin(), inf.bytes.end(), [](char c) {
        return c != '\0' && static_cast<unsigned char>(c) < 0x80;
      })) << "an 8-bit INF file holds only ASCII";
    }
    std::vector<std::string> lines;
    EXPECT_TRUE(SplitCrLf(inf.text, lines)) << "every line ends in CR LF";
  }
  // Real packs mix both; the demo keeps a few of each.
  EXPECT_GE(utf16, 3u);
}

// Every non-blank line outside comments is a section header, "key = value" or a bare value,
// and no entry comes before the first section.
TEST(DemoPacks, InfFilesAreSectionsOfEntries) {
  const std::regex header(R"(\[[^\[\]]+\])");
  const std::regex entry(R"([^=\[\]]*[^=\[\]\s](\s*=\s*\S.*)?)");
  for (const DemoInf& inf : AllInfs()) {
    SCOPED_TRACE(inf.pack + ": " + inf.path);
    std::vector<std::string> lines;
    ASSERT_TRUE(SplitCrLf(inf.text, lines));
    bool inSection = false;
    for (const std::string& raw : lines) {
      const std::string line = Trim(raw.substr(0, raw.find(';')));
      if (line.empty()) continue;
      if (line.front() == '[') {
        EXPECT_TRUE(std::regex_match(line, header)) << raw;
        inSection = true;
      } else {
        EXPECT_TRUE(inSection) << "entry before the first section: " << raw;
        EXPECT_TRUE(std::regex_match(line, entry)) << raw;
      }
    }
  }
}

TEST(DemoPacks, InfFilesHaveVersionManufacturerAndModelsOfSupportedBuses) {
  const std::regex guid(R"(\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\})");
  const std::regex driverVer(R"(\d\d/\d\d/\d{4},\d+\.\d+\.\d+\.\d+)");
  const std::regex stringToken(R"(%([^%\s]*)%)");
  std::set<std::string> classes;
  for (const DemoInf& inf : AllInfs()) {
    SCOPED_TRACE(inf.pack + ": " + inf.path);
    const dpinst::InfFile file = dpinst::InfFile::Parse(inf.bytes);

    ASSERT_NE(file.Section("Version"), nullptr);
    EXPECT_EQ(file.Value("Version", "Signature"), "$Windows NT$");
    EXPECT_FALSE(file.Value("Version", "Class").empty());
    classes.insert(file.Value("Version", "Class"));
    EXPECT_TRUE(std::regex_match(file.Value("Version", "ClassGuid"), guid))
        << file.Value("Version", "ClassGuid");
    EXPECT_TRUE(std::regex_match(file.Value("Version", "DriverVer"), driverVer))
        << file.Value("Version", "DriverVer");
    EXPECT_EQ(file.Value("Version", "Provider"), "Velmora demo drivers");

    // Every %token% outside the string sections is a string of [Strings] or a folder number.
    for (std::sregex_iterator it(inf.text.begin(), inf.text.end(), stringToken), end; it != end; ++it) {
      const std::string token = (*it)[1];
      const bool folderNumber = std::all_of(token.begin(), token.end(), [](char ch) {
        return std::isdigit(static_cast<unsigned char>(ch)) != 0;
      });
      if (token.empty() || folderNumber) continue;
      EXPECT_FALSE(file.Value("Strings", token).empty()) << "%" << token << "% is not in [Strings]";
    }

    // [Manufacturer] names models sections that exist: "<base>" alone, or "<base>.<decoration>"
    // for each decoration listed.
    const dpinst::InfSection* manufacturer = file.Section("Manufacturer");
    ASSERT_NE(manufacturer, nullptr);
    ASSERT_FALSE(manufacturer->entries.empty());
    std::size_t modelLines = 0;
    std::size_t modelIds = 0;  // hardware and compatible IDs of all model lines
    for (const dpinst::InfEntry& mfg : manufacturer->entries) {
      ASSERT_FALSE(mfg.fields.empty());
      EXPECT_EQ(file.Expand(mfg.key).find('%'), std::string::npos) << mfg.key;
      std::vector<std::string> sections;
      if (mfg.fields.size() == 1) sections.push_back(mfg.fields[0]);
      for (std::size_t i = 1; i < mfg.fields.size(); ++i)
        sections.push_back(mfg.fields[0] + "." + mfg.fields[i]);
      for (const std::string& name : sections) {
        SCOPED_TRACE("[" + name + "]");
        const dpinst::InfSection* models = file.Section(name);
        ASSERT_NE(models, nullptr) << "models section missing";
        EXPECT_FALSE(models->entries.empty());
        for (const dpinst::InfEntry& line : models->entries) {
          ++modelLines;
          // "%Desc% = install-section, hardware-id[, compatible-id...]"
          ASSERT_GE(line.fields.size(), 2u) << line.key;
          modelIds += line.fields.size() - 1;
          EXPECT_EQ(line.key.front(), '%');
          EXPECT_EQ(file.Expand(line.key).find('%'), std::string::npos) << line.key;
          EXPECT_NE(file.Section(line.fields[0] + ".NT"), nullptr) << "install section " << line.fields[0];
          const std::string& hardwareId = line.fields[1];
          EXPECT_TRUE(IsSupportedHWid(hardwareId)) << hardwareId;
          EXPECT_EQ(Upper(hardwareId), hardwareId) << "hardware IDs are written in upper case";
          for (std::size_t i = 2; i < line.fields.size(); ++i) {
            EXPECT_TRUE(IsSupportedHWid(line.fields[i]) || line.fields[i].front() == '*') << line.fields[i];
          }
        }
      }
    }
    EXPECT_GT(modelLines, 0u);
    // The installer stand-in reads every ID of these model lines, and no other.
    EXPECT_EQ(file.Models().size(), modelIds);
  }
  EXPECT_GE(classes.size(), 8u) << "the demo covers many device classes";
}

// ---- matching the recorded machines ----

// The working list of hardware IDs as the program builds it from a sysfs tree (the supported
// identifiers, repeats removed), each reduced at level 2 as the search looks for it.
std::vector<std::string> ReducedIdsOf(const std::string& tree) {
  ScopedEnv sysfs("VELMORA_SYSFS", std::string(VELMORA_TESTDATA_DIR) + "/sysfs/" + tree + "/sys");
  platform::devices::InitPnpApi();  // as the program does at start-up
  const std::vector<std::string> ids = SearchIdsOf(platform::devices::EnumerateHardwareIds());
  std::vector<std::string> work;
  for (const std::string& id : ids) {
    if (IsSupportedHWid(id)) work.push_back(id);
  }
  DeleteDuples(&work);
  std::vector<std::string> reduced;
  for (const std::string& id : work) reduced.push_back(DecreaseHWID(id, 2));
  return reduced;
}

// "<pack>: <path>" of the demo INF files in which the program's file searcher finds the reduced
// ID (anywhere in the file, letter case ignored, UTF-16 files narrowed).
std::set<std::string> InfsHolding(const std::vector<DemoInf>& infs, const std::string& reducedId) {
  std::set<std::string> found;
  TFileSearch searcher;
  searcher.SetPattern(reducedId);
  for (const DemoInf& inf : infs) {
    searcher.SetFilename(inf.file.string());
    EXPECT_EQ(searcher.Filename(), inf.file.string()) << "the searcher cannot read the file";
    if (searcher.First() >= 0) found.insert(inf.pack + ": " + inf.path);
  }
  return found;
}

struct MatchCase {
  const char* tree;
  const char* reducedId;
  std::set<std::string> infs;  // empty: the demo serves no such device
};

void PrintTo(const MatchCase& c, std::ostream* os) { *os << c.tree << " " << c.reducedId; }

class DemoPackMatch : public ::testing::TestWithParam<MatchCase> {};

TEST_P(DemoPackMatch, TheTreesDeviceIsFoundInItsInfFileOnly) {
  const MatchCase& c = GetParam();
  const std::vector<std::string> reduced = ReducedIdsOf(c.tree);
  ASSERT_NE(std::find(reduced.begin(), reduced.end(), c.reducedId), reduced.end())
      << "the " << c.tree << " tree has no device " << c.reducedId;
  EXPECT_EQ(InfsHolding(AllInfs(), c.reducedId), c.infs);
}

const std::string kVirtio = "DP_Virtio demo.7z: D/V/RedHat/";
const std::string kChipset = "DP_Chipset_demo.7z: D/C/";
const std::string kAcpi = kChipset + "ACPI/1/acpisys.inf";

INSTANTIATE_TEST_SUITE_P(
    Trees, DemoPackMatch,
    ::testing::Values(
        // The virtual machine (KVM with virtio devices).
        MatchCase{"virtio", "PCI\\VEN_1AF4&DEV_1041", {kVirtio + "1/virtio_net.inf"}},
        MatchCase{"virtio", "PCI\\VEN_1AF4&DEV_1042", {kVirtio + "2/virtio_blk.inf"}},
        MatchCase{"virtio", "PCI\\VEN_1AF4&DEV_1044", {kVirtio + "6/virtio_rng.inf"}},
        MatchCase{"virtio", "PCI\\VEN_1AF4&DEV_1045", {kVirtio + "4/virtio_balloon.inf"}},
        MatchCase{"virtio", "PCI\\VEN_1AF4&DEV_1053", {kVirtio + "7/virtio_vsock.inf"}},
        MatchCase{"virtio", "PCI\\VEN_8086&DEV_0D57", {kChipset + "Intel/1/q35chip.inf"}},
        MatchCase{"virtio", "ACPI\\PNP0A08", {kAcpi}}, MatchCase{"virtio", "ACPI\\ACPI0013", {kAcpi}},
        MatchCase{"virtio", "ACPI\\PNP0501", {kChipset + "ACPI/2/serial.inf"}},
        // The keyboard INF names the device by the star form only, as Windows' own does.
        MatchCase{"virtio", "*PNP0303", {kChipset + "ACPI/3/ps2kbd.inf"}},
        MatchCase{"virtio", "ACPI\\PNP0303", {}},
        // The notebook (Intel 7th generation).
        MatchCase{"laptop", "PCI\\VEN_8086&DEV_5914", {kChipset + "Intel/3/sptlp.inf"}},
        MatchCase{"laptop", "PCI\\VEN_8086&DEV_9D10", {kChipset + "Intel/3/sptlp.inf"}},
        MatchCase{"laptop", "PCI\\VEN_8086&DEV_9D2F", {kChipset + "Intel/4/usbhost.inf"}},
        MatchCase{"laptop", "PCI\\VEN_8086&DEV_9D03", {"DP_MassStorage_demo.7z: D/M/Intel/1/ahcistor.inf"}},
        MatchCase{"laptop", "PCI\\VEN_8086&DEV_9D71", {"DP_Sound_demo.7z: D/S/Intel/1/hdabus.inf"}},
        MatchCase{"laptop", "PCI\\VEN_8086&DEV_15D7", {"DP_LAN_demo.7z: D/L/Intel/2/e1000e.inf"}},
        MatchCase{"laptop", "PCI\\VEN_8086&DEV_24FD", {"DP_LAN_demo.7z: D/L/Intel/3/wlan8265.inf"}},
        MatchCase{"laptop", "USB\\VID_8087&PID_0A2B", {"DP_LAN_demo.7z: D/L/Intel/4/bt8265.inf"}},
        MatchCase{
            "laptop", "HDAUDIO\\FUNC_01&VEN_10EC&DEV_0257", {"DP_Sound_demo.7z: D/S/Realtek/1/rtkalc.inf"}},
        MatchCase{
            "laptop", "HDAUDIO\\FUNC_01&VEN_8086&DEV_280B", {"DP_Sound_demo.7z: D/S/Intel/2/hdmiaud.inf"}},
        MatchCase{"laptop", "*PNP0303", {kChipset + "ACPI/3/ps2kbd.inf"}},
        MatchCase{"laptop", "ACPI\\PNP0C09", {kAcpi}}, MatchCase{"laptop", "ACPI\\INT3400", {kAcpi}},
        // Devices the demo packs have no driver for.
        MatchCase{"laptop", "PCI\\VEN_8086&DEV_5917", {}},
        MatchCase{"laptop", "USB\\VID_046D&PID_C52B", {}}));

// ---- the built archives ----

#ifdef VELMORA_DEMO_PACK_DIR

struct ArchiveItem {
  bool folder = false;
  std::uintmax_t size = 0;
  std::string crc;
};

std::string Crc32(const std::string& bytes) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const char ch : bytes) crc = table[(crc ^ static_cast<unsigned char>(ch)) & 0xFFu] ^ (crc >> 8);
  crc ^= 0xFFFFFFFFu;
  char text[9];
  std::snprintf(text, sizeof text, "%08X", crc);
  return text;
}

// The items of an archive by path, from "7zz l -slt"; false when 7zz failed.
bool ListArchive(const std::string& sevenZip, const fs::path& archive,
                 std::map<std::string, ArchiveItem>& items, std::string& output) {
  proc::StartInfo info;
  info.commandLine =
      proc::QuoteArgument(sevenZip) + " l -slt -sccUTF-8 " + proc::QuoteArgument(archive.string());
  info.output = proc::Output::Pipe;
  info.error = proc::ErrorOutput::SameAsOutput;
  proc::ChildProcess child = proc::ChildProcess::Start(info);
  output = child.ReadToEnd();
  child.Wait(proc::ChildProcess::kInfinite);
  if (child.ExitCode() != 0) return false;
  std::istringstream in(output.substr(std::min(output.size(), output.find("\n----------\n"))));
  std::string line, path;
  while (std::getline(in, line)) {
    if (line.rfind("Path = ", 0) == 0) {
      path = line.substr(7);
      items[path] = ArchiveItem{};
    } else if (!path.empty() && line.rfind("Size = ", 0) == 0) {
      items[path].size = std::stoull(line.substr(7));
    } else if (!path.empty() && line.rfind("CRC = ", 0) == 0) {
      items[path].crc = line.substr(6);
    } else if (!path.empty() && line.rfind("Attributes = ", 0) == 0) {
      // "D drwxr-xr-x" for a folder, "A -rw-r--r--" for a file: Windows letters, then a Unix mode.
      const std::string letters = line.substr(13, line.find(' ', 13) - 13);
      items[path].folder = letters.find('D') != std::string::npos;
    }
  }
  return true;
}

TEST(DemoPacks, BuiltArchivesHoldExactlyTheFilesOfTheirSourceFolders) {
  const std::string sevenZip = proc::FindProgram("7zz");
  if (sevenZip.empty()) GTEST_SKIP() << "7zz is not installed";
  const fs::path packDir = VELMORA_DEMO_PACK_DIR;

  std::set<std::string> expectedPacks, builtPacks;
  for (const fs::path& pack : PackFolders()) expectedPacks.insert(pack.filename().string() + ".7z");
  for (const fs::directory_entry& entry : fs::directory_iterator(packDir)) {
    builtPacks.insert(entry.path().filename().string());
  }
  EXPECT_EQ(builtPacks, expectedPacks);

  for (const fs::path& source : PackFolders()) {
    const fs::path archive = packDir / (source.filename().string() + ".7z");
    SCOPED_TRACE(archive.string());
    std::map<std::string, ArchiveItem> items;
    std::string output;
    ASSERT_TRUE(ListArchive(sevenZip, archive, items, output)) << output;

    std::set<std::string> folders, files;
    for (const auto& [path, item] : items) (item.folder ? folders : files).insert(path);
    EXPECT_EQ(folders, FoldersBelow(source));
    const std::vector<std::string> sourceFiles = FilesBelow(source);
    EXPECT_EQ(files, std::set<std::string>(sourceFiles.begin(), sourceFiles.end()));
    // Each file as it is in data/demo, byte for byte (UTF-16 files keep their FF FE).
    for (const std::string& rel : sourceFiles) {
      const auto it = items.find(rel);
      if (it == items.end()) continue;
      const std::string bytes = ReadBytes(source / rel);
      EXPECT_EQ(it->second.size, bytes.size()) << rel;
      EXPECT_EQ(it->second.crc, Crc32(bytes)) << rel << ": the archive is older than the file";
    }
  }
}

#endif  // VELMORA_DEMO_PACK_DIR

}  // namespace

#endif  // VELMORA_DPINST_PATH
