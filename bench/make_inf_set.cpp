// Writes a set of driver INF files like the ones unpacked from driver packs, and the device
// identifiers of one machine, for the driver search benchmark (bench/inf_search_compare.cpp).
//
//   make_inf_set <folder> <ids file> [files=10000] [seed=1]
//
// File sizes follow real packs: most files 2-50 KB, about 2 % of them 0.3-3 MB (the large
// audio and chipset INFs), 450 MB in all for 10,000 files. The content is INF-shaped:
// [Version], [Manufacturer], model sections whose lines name hardware identifiers
// ("%Dev.Desc% = Install, PCI\VEN_8086&DEV_1C3A&SUBSYS_..."), install and registry sections
// with their backslash paths, [Strings]. About 3 % of the files are UTF-16 LE with a
// byte-order mark, and a few identifiers in the files are written in lower case.
//
// The ids file gets 150 device instance identifiers (PCI, USB, HDAUDIO, ACPI) as the device
// manager lists them, each ACPI one followed by its compatible ID ("*PNP0A08", which half of
// the files' ACPI model lines name instead of "ACPI\PNP0A08"); about two thirds of them name
// devices that some files list.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

enum class Bus { kPci, kUsb, kHdAudio, kAcpi };

struct Device {
  Bus bus;
  std::string id;        // as INF files list it, at the level of the machine's reduced identifier
  std::string instance;  // as the device manager lists it, with the instance part
  int vendor;            // index into the vendor table of its bus
};

const char* const kPciVendors[] = {"8086", "10DE", "1002", "10EC", "14E4",
                                   "168C", "1B21", "1022", "1106", "197B"};
const char* const kUsbVendors[] = {"046D", "045E", "8087", "0BDA", "13D3",
                                   "04F2", "0CF3", "05AC", "0489", "2109"};
const char* const kAudioVendors[] = {"10EC", "8086", "1002", "10DE", "14F1", "111D", "11D4", "1057"};
const char* const kAcpiIds[] = {"PNP0A08",  "PNP0A03",  "PNP0C0A", "PNP0C0C", "PNP0C0E",
                                "PNP0103",  "PNP0B00",  "INT33A0", "INT3400", "INT33D5",
                                "ATK0110",  "ACPI0003", "INT340E", "SYN1B7F", "ELAN0501",
                                "MSFT0101", "INT3F0D",  "PNP0303", "PNP0F13", "INT0800"};
const char* const kWords[] = {
    "Intel(R)",   "Realtek", "Gigabit",   "Network",  "Connection", "Controller", "Audio",  "High",
    "Definition", "USB",     "Hub",       "Root",     "Express",    "Chipset",    "Family", "Series",
    "Wireless",   "Adapter", "Bluetooth", "Device",   "SMBus",      "Host",       "Bridge", "PCI",
    "Port",       "Serial",  "Camera",    "Keyboard", "Mouse",      "Receiver",   "Storage"};

class Generator {
 public:
  explicit Generator(unsigned seed) : random_(seed) {}

  std::uint32_t Below(std::uint32_t n) {
    return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(random_);
  }
  double Uniform(double a, double b) { return std::uniform_real_distribution<double>(a, b)(random_); }
  bool Chance(double p) { return Uniform(0, 1) < p; }

  std::string Hex(int digits) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string s;
    for (int k = 0; k < digits; ++k) s += kDigits[Below(16)];
    return s;
  }

  Device MakeDevice(Bus bus) {
    Device d{bus, "", "", 0};
    switch (bus) {
      case Bus::kPci: {
        d.vendor = static_cast<int>(Below(std::size(kPciVendors)));
        d.id = std::string("PCI\\VEN_") + kPciVendors[d.vendor] + "&DEV_" + Hex(4);
        d.instance = d.id + "&SUBSYS_" + Hex(8) + "&REV_" + Hex(2) + "\\3&11583659&0&" + Hex(2);
        break;
      }
      case Bus::kUsb: {
        d.vendor = static_cast<int>(Below(std::size(kUsbVendors)));
        d.id = std::string("USB\\VID_") + kUsbVendors[d.vendor] + "&PID_" + Hex(4);
        d.instance = d.id + (Chance(0.5) ? "&MI_0" + std::to_string(Below(3)) : std::string()) + "\\6&" +
                     Hex(8) + "&0&000" + std::to_string(1 + Below(8));
        break;
      }
      case Bus::kHdAudio: {
        d.vendor = static_cast<int>(Below(std::size(kAudioVendors)));
        d.id = std::string("HDAUDIO\\FUNC_01&VEN_") + kAudioVendors[d.vendor] + "&DEV_" + Hex(4);
        d.instance = d.id + "&SUBSYS_" + Hex(8) + "&REV_1000\\4&" + Hex(8) + "&0&0001";
        break;
      }
      case Bus::kAcpi: {
        d.vendor = static_cast<int>(Below(std::size(kAcpiIds)));
        d.id = std::string("ACPI\\") + kAcpiIds[d.vendor];
        d.instance = d.id + "\\" + std::to_string(Below(4));
        break;
      }
    }
    return d;
  }

  std::string Words(int count) {
    std::string s;
    for (int k = 0; k < count; ++k) {
      if (k > 0) s += ' ';
      s += kWords[Below(std::size(kWords))];
    }
    return s;
  }

  std::mt19937& random() { return random_; }

 private:
  std::mt19937 random_;
};

Bus PickBus(Generator& g) {
  const std::uint32_t r = g.Below(100);
  return r < 55 ? Bus::kPci : r < 75 ? Bus::kUsb : r < 90 ? Bus::kHdAudio : Bus::kAcpi;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return s;
}

// The identifier as a model line names it: the device's own, often with more qualifiers.
std::string Listed(Generator& g, const Device& d) {
  std::string id = d.id;
  switch (d.bus) {
    case Bus::kPci:
    case Bus::kHdAudio:
      if (g.Chance(0.4)) id += "&SUBSYS_" + g.Hex(8);
      if (d.bus == Bus::kPci && g.Chance(0.2)) id += "&REV_" + g.Hex(2);
      break;
    case Bus::kUsb:
      if (g.Chance(0.3)) id += "&MI_0" + std::to_string(g.Below(3));
      if (g.Chance(0.1)) id += "&REV_" + g.Hex(4);
      break;
    case Bus::kAcpi:
      // Half of them by the compatible ID a device of that kind also has: "*PNP0A08".
      if (g.Chance(0.5)) id = "*" + id.substr(5);
      break;
  }
  return g.Chance(0.03) ? Lower(id) : id;
}

class InfWriter {
 public:
  InfWriter(Generator& g, const std::vector<std::vector<Device>>& devices) : g_(g), devices_(devices) {}

  std::string Make(std::size_t target) {
    text_.clear();
    const Bus bus = PickBus(g_);
    const auto& pool = devices_[static_cast<int>(bus)];
    const int vendor = pool[g_.Below(static_cast<std::uint32_t>(pool.size()))].vendor;
    std::vector<const Device*> family;
    for (const Device& d : pool) {
      if (d.vendor == vendor) family.push_back(&d);
    }
    const std::string stem = "drv" + g_.Hex(3);
    text_ += ";\r\n; " + g_.Words(4) + " driver\r\n; Copyright (c) " + g_.Words(2) +
             ". All rights reserved.\r\n;\r\n\r\n";
    text_ +=
        "[Version]\r\nSignature=\"$WINDOWS NT$\"\r\nClass=" + g_.Words(1) +
        "\r\nClassGuid={4d36e972-e325-11ce-bfc1-08002be10318}\r\nProvider=%Vendor%\r\nCatalogFile=" + stem +
        ".cat\r\nDriverVer=06/21/2019,10.0." + std::to_string(g_.Below(30000)) +
        ".1\r\nPnpLockdown=1\r\n\r\n";
    text_ += "[Manufacturer]\r\n%Vendor% = Models, NTx86, NTamd64, NTamd64.10.0...16299\r\n\r\n";
    text_ += "[DestinationDirs]\r\nDefaultDestDir = 12\r\n" + stem + ".CopyFiles = 13\r\n\r\n";
    text_ += "[SourceDisksNames]\r\n1 = %DiskName%,,,\"\"\r\n\r\n[SourceDisksFiles]\r\n" + stem +
             ".sys = 1,,\r\n\r\n";
    int install = 0;
    std::string strings;
    // Model sections, install sections and registry sections until the file has its size.
    while (text_.size() + strings.size() < target) {
      const std::size_t lines = 4 + g_.Below(target > 200000 ? 60 : 16);
      text_ += "[Models.NTamd64." + std::to_string(install) + "]\r\n";
      for (std::size_t k = 0; k < lines; ++k) {
        const Device& d = g_.Chance(0.85) ? *family[g_.Below(static_cast<std::uint32_t>(family.size()))]
                                          : pool[g_.Below(static_cast<std::uint32_t>(pool.size()))];
        const std::string id = Listed(g_, d);
        const std::string desc = "Dev" + g_.Hex(4) + ".DeviceDesc";
        if (d.bus == Bus::kPci && g_.Chance(0.3)) {
          text_ += "%" + id + ".DeviceDesc%=Needs_NO_DRV," + id + "\r\n";  // chipset style
        } else {
          text_ += "%" + desc + "% = Install_" + std::to_string(install) + ", " + id + "\r\n";
        }
        strings += desc + " = \"" + g_.Words(3 + static_cast<int>(g_.Below(5))) + "\"\r\n";
      }
      text_ += "\r\n[Install_" + std::to_string(install) + ".NT]\r\nCopyFiles=" + stem +
               ".CopyFiles\r\nAddReg=Install_" + std::to_string(install) + ".AddReg\r\n\r\n";
      text_ += "[Install_" + std::to_string(install) + ".AddReg]\r\n";
      const std::size_t regLines = 6 + g_.Below(target > 200000 ? 80 : 20);
      for (std::size_t k = 0; k < regLines; ++k) {
        switch (g_.Below(5)) {
          case 0:
            text_ += "HKR,Ndi\\params\\*" + g_.Words(1) + ",ParamDesc,,%" + g_.Words(1) + "%\r\n";
            break;
          case 1:
            text_ += "HKR,PowerSettings\\" + g_.Words(1) + ",IdleTime,3,0x" + g_.Hex(2) + ",0,0,0\r\n";
            break;
          case 2:
            text_ += "HKLM,SYSTEM\\CurrentControlSet\\Services\\" + stem + "\\Parameters,\"" + g_.Words(1) +
                     "\",0x00010001," + std::to_string(g_.Below(1000)) + "\r\n";
            break;
          case 3:
            text_ += "HKR,,EnumPropPages32,,\"" + stem + "prop.dll,PropPageProvider\"\r\n";
            break;
          default:
            text_ += "HKR,,\"" + g_.Words(2) + "\",0x00010001,0x" + g_.Hex(8) + "\r\n";
            break;
        }
      }
      text_ += "\r\n[Install_" + std::to_string(install) + ".NT.Services]\r\nAddService = " + stem +
               ", 0x00000002, Service_Inst\r\n\r\n";
      ++install;
    }
    text_ += "[" + stem + ".CopyFiles]\r\n" + stem + ".sys,,,0x100\r\n\r\n";
    text_ +=
        "[Service_Inst]\r\nServiceType = 1\r\nStartType = 3\r\nErrorControl = 1\r\nServiceBinary = %13%\\" +
        stem + ".sys\r\n\r\n";
    text_ += "[Strings]\r\nVendor = \"" + g_.Words(1) + "\"\r\nDiskName = \"" + g_.Words(2) + " Disk\"\r\n";
    text_ += strings;
    return text_;
  }

 private:
  Generator& g_;
  const std::vector<std::vector<Device>>& devices_;
  std::string text_;
};

std::string Utf16Le(const std::string& text) {
  std::string bytes = "\xFF\xFE";
  bytes.reserve(2 + 2 * text.size());
  for (const char c : text) {
    bytes += c;
    bytes += '\0';
  }
  return bytes;
}

bool WriteFile(const std::string& path, const std::string& content) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(content.data(), 1, content.size(), f) == content.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <folder> <ids file> [files=10000] [seed=1]\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  const std::string idsFile = argv[2];
  const long files = argc > 3 ? std::atol(argv[3]) : 10000;
  const unsigned seed = argc > 4 ? static_cast<unsigned>(std::atol(argv[4])) : 1;
  std::filesystem::create_directories(folder);

  Generator g(seed);
  // The devices the packs know: about 6,000, by bus.
  std::vector<std::vector<Device>> devices(4);
  const int perBus[4] = {3000, 1500, 1000, 60};
  for (int bus = 0; bus < 4; ++bus) {
    for (int k = 0; k < perBus[bus]; ++k) devices[bus].push_back(g.MakeDevice(static_cast<Bus>(bus)));
  }

  InfWriter writer(g, devices);
  std::uint64_t total = 0;
  long big = 0;
  long wide = 0;
  for (long k = 0; k < files; ++k) {
    std::size_t size;
    if (g.Chance(0.016)) {
      size = static_cast<std::size_t>(300000.0 * std::exp(g.Uniform(0, std::log(10.0))));  // 0.3-3 MB
      ++big;
    } else {
      size = static_cast<std::size_t>(g.Uniform(2000, 46000));
    }
    std::string text = writer.Make(size);
    if (g.Chance(0.03)) {
      text = Utf16Le(text);
      ++wide;
    }
    char name[32];
    std::snprintf(name, sizeof name, "/%05ld.inf", k);
    if (!WriteFile(folder + name, text)) {
      std::fprintf(stderr, "cannot write %s%s\n", folder.c_str(), name);
      return 1;
    }
    total += text.size();
  }

  // The machine: 100 devices the packs know, 50 they do not.
  std::string ids;
  for (int k = 0; k < 150; ++k) {
    Device d;
    if (k % 3 != 2) {
      const int bus = static_cast<int>(PickBus(g));
      d = devices[bus][g.Below(static_cast<std::uint32_t>(devices[bus].size()))];
    } else {
      d = g.MakeDevice(PickBus(g));
    }
    ids += d.instance + "\n";
    // An ACPI device is searched for by its compatible ID too, as the search's list holds it.
    if (d.bus == Bus::kAcpi) ids += "*" + d.id.substr(5) + "\n";
  }
  if (!WriteFile(idsFile, ids)) {
    std::fprintf(stderr, "cannot write %s\n", idsFile.c_str());
    return 1;
  }
  std::printf("%ld files (%ld of 0.3-3 MB, %ld UTF-16), %.1f MB; 150 devices' identifiers in %s\n", files, big, wide,
              static_cast<double>(total) / 1e6, idsFile.c_str());
  return 0;
}
