// Message lookup on an unchanged language file: every log line of a search goes through it,
// so it must stay fast (target: at least 500,000 lookups per second).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "lang/messages.h"

namespace {

std::string LanguageFile() {
  static const std::string path = [] {
    std::string file = (std::filesystem::temp_directory_path() / "velmora-bench-english.lng").string();
    std::ofstream out(file, std::ios::binary);
    out << "[About]\r\nTranslateLangName=Bench\r\n[Msg]\r\n";
    for (int i = 1; i <= 71; ++i) out << "log" << i << "=Message number " << i << " about %s\r\n";
    for (int i = 1; i <= 9; ++i) out << "msg" << i << "=Question " << i << "\r\n";
    out << "[Mainfrm]\r\n";
    for (int i = 0; i < 300; ++i) out << "Control" << i << "=Caption " << i << "\r\nControl" << i << "Hnt=Hint\r\n";
    return file;
  }();
  return path;
}

void BM_TranslateMessage(benchmark::State& state) {
  const std::string file = LanguageFile();
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(TranslateMessage("Msg", "log" + std::to_string(1 + (i++ % 70)), file));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TranslateMessage);

void BM_MessageTextWithArgument(benchmark::State& state) {
  const std::string file = LanguageFile();
  for (auto _ : state) {
    benchmark::DoNotOptimize(MessageText(file, "log23", {std::string("7z x /packs/one.7z -o/work/dp_tavi/ -y")}));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MessageTextWithArgument);

}  // namespace
