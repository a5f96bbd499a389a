// Reading INF files in the installer stand-in: a large display-driver-sized INF and three inputs
// that used to take time growing faster than their size. Each case is timed once per round;
// the best of the rounds is printed.
//
// Usage: inf_read_time [rounds]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "inf_file.h"

namespace {

double Seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string Hex(unsigned value, int width) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*X", width, value);
  return buffer;
}

// About 3 MB: a [Manufacturer] with decorations, 20,000 model lines over four models sections,
// 10,000 strings, and install sections with long file lists in between.
std::string LargeInf() {
  std::string inf =
      "[Version]\r\nSignature=\"$WINDOWS NT$\"\r\nClass=Display\r\nProvider=%Maker%\r\n"
      "DriverVer=05/06/2024,31.0.101.5445\r\n\r\n[Manufacturer]\r\n"
      "%Maker% = Maker, NTx86, NTamd64, NTamd64.10.0...17763\r\n\r\n";
  const char* decorations[] = {"Maker.NTx86", "Maker.NTamd64", "Maker.NTamd64.10.0...17763", "Maker"};
  for (int s = 0; s < 4; ++s) {
    inf += std::string("[") + decorations[s] + "]\r\n";
    for (unsigned i = 0; i < 5000; ++i) {
      const unsigned n = static_cast<unsigned>(s) * 5000 + i;
      inf += "%Dev" + std::to_string(n % 10000) + "% = Install_" + std::to_string(n % 97) +
             ", PCI\\VEN_8086&DEV_" + Hex(n, 4) + "&SUBSYS_" + Hex(n * 7919u, 8) + "&REV_" + Hex(n % 256, 2) +
             " ; model " + std::to_string(n) + "\r\n";
    }
    inf += "\r\n";
  }
  for (unsigned i = 0; i < 97; ++i) {
    inf += "[Install_" + std::to_string(i) + "]\r\nCopyFiles = Files_" + std::to_string(i) + "\r\n[Files_" +
           std::to_string(i) + "]\r\n";
    for (unsigned f = 0; f < 120; ++f)
      inf += "igd" + std::to_string(i) + "_" + std::to_string(f) + ".dll,,,0x4000\r\n";
  }
  inf += "[Strings]\r\nMaker = \"Velmora Display\"\r\n";
  for (unsigned i = 0; i < 10000; ++i) {
    inf += "Dev" + std::to_string(i) + " = \"Velmora Graphics Adapter model " + std::to_string(i) +
           " with a long marketing name, rev " + Hex(i, 4) + "\"\r\n";
  }
  while (inf.size() < 3u * 1024 * 1024) inf += "; padding comment line of a vendor's release notes\r\n";
  return inf;
}

// 65 KB: 4,000 model lines whose descriptions are tokens, 6,000 strings.
std::string ManyTokens() {
  std::string inf = "[Manufacturer]\r\n%M% = Models\r\n[Models]\r\n";
  for (unsigned i = 0; i < 4000; ++i)
    inf += "%D" + std::to_string(i) + "%=I,P\\" + std::to_string(i) + "\r\n";
  inf += "[Strings]\r\nM=m\r\n";
  for (unsigned i = 0; i < 6000; ++i) inf += "D" + std::to_string(i) + "=d\r\n";
  return inf;
}

// 7,500 manufacturer entries, each naming its own models section.
std::string ManyManufacturers() {
  std::string inf = "[Manufacturer]\r\n";
  for (unsigned i = 0; i < 7500; ++i)
    inf += "M" + std::to_string(i) + " = Mod" + std::to_string(i) + ",NTx86\r\n";
  for (unsigned i = 0; i < 7500; ++i) {
    inf += "[Mod" + std::to_string(i) + ".NTx86]\r\nD = I, PCI\\VEN_" + Hex(i, 4) + "&DEV_0001\r\n";
  }
  return inf;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const std::string large = LargeInf();
  const std::string tokens = ManyTokens();
  const std::string manufacturers = ManyManufacturers();
  std::string ampersands = "USB\\";
  while (ampersands.size() < 64 * 1024) ampersands += "&a";

  struct Case {
    const char* name;
    std::size_t bytes;
    std::function<std::size_t()> run;
  };
  const Case cases[] = {
      {"large INF: parse, models, a value", large.size(),
       [&] {
         const dpinst::InfFile inf = dpinst::InfFile::Parse(large);
         return inf.Models().size() + inf.Value("Version", "Provider").size();
       }},
      {"4,000 token models, 6,000 strings", tokens.size(),
       [&] { return dpinst::InfFile::Parse(tokens).Models().size(); }},
      {"7,500 manufacturer entries", manufacturers.size(),
       [&] { return dpinst::InfFile::Parse(manufacturers).Models().size(); }},
      {"hardware IDs of a 64 KB \"&a\" instance ID", ampersands.size(),
       [&] { return dpinst::HardwareIdsOf(ampersands).size(); }},
  };
  for (const Case& c : cases) {
    double best = 1e9;
    std::size_t result = 0;
    for (int r = 0; r < rounds; ++r) best = std::min(best, Seconds([&] { result = c.run(); }));
    std::printf("%-45s %8zu bytes  %8.3f s  (%zu results)\n", c.name, c.bytes, best, result);
  }
  return 0;
}
