// The driver installer's INF reader takes any bytes (ANSI, UTF-8, UTF-16 with or without a
// complete last character): sections, values, token expansion and the models never fail, and
// a section it lists is found again by its name in any letter case.
// Input: the INF file's bytes.
#include <cctype>
#include <cstdint>
#include <string>

#include "dpinst/inf_file.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const dpinst::InfFile inf = dpinst::InfFile::Parse(bytes);
  dpinst::InfText(bytes);
  for (const auto& model : inf.Models()) {
    inf.Expand(model.description);
    dpinst::HardwareIdsOf(model.hardwareId);
  }
  inf.Value("Version", "Class");
  inf.Value("Strings", "x");
  inf.Expand(bytes.substr(0, 256));
  if (const dpinst::InfSection* manufacturer = inf.Section("Manufacturer")) {
    std::string upper = manufacturer->name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    fuzz::Check(inf.Section(upper) != nullptr, "a section is found in any letter case");
  }
  return 0;
}
