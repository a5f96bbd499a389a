// Speeds the tests no longer time (they count the work instead): INI lookups in a parsed
// language file, and the removal of repeated hardware identifiers from a long list.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "devices/hwid_rules.h"
#include "platform/ini_text.h"

namespace {

// A language file: 600 messages and 400 captions; lookups of the first and the last message.
void BM_IniDocumentGet(benchmark::State& state) {
  std::string text = "[About]\r\nText=Velmora\r\n[Msg]\r\n";
  for (int i = 0; i < 600; ++i) text += "log" + std::to_string(i) + "=Message number " + std::to_string(i) + "\r\n";
  text += "[Mainfrm]\r\n";
  for (int i = 0; i < 400; ++i) text += "Control" + std::to_string(i) + ".Caption=Caption\r\n";
  const platform::IniDocument document = platform::IniDocument::Parse(text);
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(document.Get("msg", (++i & 1) != 0 ? "LOG17" : "log599"));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IniDocumentGet);

// 100,000 identifiers, each text twice.
void BM_DeleteDuples(benchmark::State& state) {
  std::vector<std::string> list;
  for (int i = 0; i < 100000; ++i) list.push_back("PCI\\VEN_" + std::to_string(i % 50000) + "&DEV_0001");
  for (auto _ : state) {
    std::vector<std::string> work = list;
    DeleteDuples(&work);
    benchmark::DoNotOptimize(work.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(list.size()));
}
BENCHMARK(BM_DeleteDuples)->Unit(benchmark::kMillisecond);

}  // namespace
