// Lays out a made-up offline Windows volume for bench/offline_registry_kill.sh:
//   <volume>/Windows/System32/config/SOFTWARE   a Windows 10 SOFTWARE hive (DevicePath
//                                               "%SystemRoot%\inf") padded with filler keys
//   <volume>/Windows/System32/config/SYSTEM     an empty hive
//   <volume>/Windows/dp_tavi/Drivers/...        two small driver packages
// Usage: make_offline_windows <volume> [filler keys=20000]
// The filler makes the hive a few megabytes, so reading, writing and flushing it take long enough
// for kills to land inside the registry step.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/test_hive.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_offline_windows <volume> [filler keys]\n");
    return 2;
  }
  const std::filesystem::path volume = argv[1];
  const long filler = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 20000;
  const std::filesystem::path config = volume / "Windows/System32/config";
  const std::string nt = "Microsoft\\Windows NT\\CurrentVersion";
  if (!test_hive::MakeHive(config / "SOFTWARE",
                           {{nt, "CurrentVersion", hive_t_REG_SZ, "6.3"},
                            {nt, "CurrentBuildNumber", hive_t_REG_SZ, "19045"},
                            {"Microsoft\\Windows\\CurrentVersion", "DevicePath", hive_t_REG_EXPAND_SZ,
                             "%SystemRoot%\\inf"}}) ||
      !test_hive::MakeHive(config / "SYSTEM", {})) {
    std::fprintf(stderr, "cannot write the hives in %s\n", config.c_str());
    return 1;
  }
  hive_h* h = hivex_open((config / "SOFTWARE").c_str(), HIVEX_OPEN_WRITE);
  if (h == nullptr) return 1;
  const hive_node_h top = hivex_node_add_child(h, hivex_root(h), "Filler");
  std::string data = test_hive::Utf16(std::string(200, 'x'));
  hive_node_h group = 0;
  for (long i = 0; i < filler; ++i) {
    if (i % 200 == 0) group = hivex_node_add_child(h, top, ("G" + std::to_string(i / 200)).c_str());
    const hive_node_h key = hivex_node_add_child(h, group, ("K" + std::to_string(i)).c_str());
    char name[] = "Data";
    hive_set_value value{name, hive_t_REG_SZ, data.size(), data.data()};
    if (key == 0 || hivex_node_set_value(h, key, &value, 0) != 0) return 1;
  }
  const bool ok = hivex_commit(h, nullptr, 0) == 0;
  hivex_close(h);
  if (!ok) return 1;
  const std::filesystem::path drivers = volume / "Windows/dp_tavi/Drivers";
  test_hive::WriteFile(drivers / "LAN/net/netkvm.inf", "[Version]\r\nClass=Net\r\n");
  test_hive::WriteFile(drivers / "LAN/net/netkvm.sys", std::string(100000, 'N'));
  test_hive::WriteFile(drivers / "Audio/snd.inf", "[Version]\r\nClass=MEDIA\r\n");
  return 0;
}
