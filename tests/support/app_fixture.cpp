#include "support/app_fixture.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/devices.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "shared/shared_functions.h"
#include "support/scoped_env.h"

bool FakeUi::AskYesNo(const std::string& text, const std::string&) {
  shown.push_back("ask:" + text);
  if (answers.empty()) return false;
  bool a = answers.front();
  answers.pop_front();
  return a;
}

std::optional<std::string> FakeUi::OpenFile(const std::string&, const std::string&, const std::string&) {
  if (files.empty()) return std::nullopt;
  auto f = files.front();
  files.pop_front();
  return f;
}

std::optional<std::string> FakeUi::SaveFile(const std::string&, const std::string&, const std::string&) {
  return OpenFile({}, {}, {});
}

void WriteTestLanguage(const std::string& path, const std::string& name) {
  std::string text = "[About]\r\nTranslateLangName=" + name + "\r\n[Msg]\r\n";
  for (int i = 1; i <= 108; ++i) {
    if (i == 21) continue;
    text += "log" + std::to_string(i) + "=log" + std::to_string(i) + "|%s|%s\r\n";
  }
  for (int i = 112; i <= 115; ++i) text += "log" + std::to_string(i) + "=log" + std::to_string(i) + "|%s|%s\r\n";
  for (int i = 120; i <= 131; ++i) {
    text += "log" + std::to_string(i) + "=log" + std::to_string(i) + "|%s|%s|%s\r\n";
  }
  text += "log132=log132|%s\r\n";
  text += "log133=log133|%s\r\n";
  text += "log134=log134|%s\r\n";
  for (int i = 1; i <= 9; ++i) text += "msg" + std::to_string(i) + "=msg" + std::to_string(i) + "|%s\r\n";
  text += "[Mainfrm]\r\nEnumBtn=" + name + " enumerate\r\nEnumBtnHnt=" + name + " hint\r\n";
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

SplitLog SplitAtSummary(const std::vector<std::string>& keys) {
  const auto counts = std::find(keys.rbegin(), keys.rend(), "log124");
  if (counts == keys.rend()) return {keys, {}};
  auto start = counts.base() - 1;
  if (start != keys.begin() && *(start - 1) == "log131") --start;
  if (start != keys.begin() && (*(start - 1) == "log120" || *(start - 1) == "log121")) --start;
  return {std::vector<std::string>(keys.begin(), start), std::vector<std::string>(start, keys.end())};
}

std::size_t SummaryCount(const std::vector<std::string>& keys) {
  return static_cast<std::size_t>(std::count(keys.begin(), keys.end(), "log124"));
}

void AppFixture::SetUp() {
  // One pack's archive tool run at a time unless a test asks for more: the scripted tools record
  // their calls in the order they are made.
  SetEnvVar("VELMORA_PACK_RUNS", "1");
  programDir = tmp.MakeDir("prog");
  programFile = programDir + "Velmora_TAVI";
  tmp.Write("prog/Velmora_TAVI", "");
  tmp.MakeDir("prog/Markers");
  tmp.MakeDir("prog/DP");
  tmp.Write("prog/Data/PackInfo.txt", "About line 1\nAbout line 2\n");
  WriteTestLanguage(programDir + "lng/english.lng", "English");
#ifdef _WIN32
  // Windows has no override for its folder: the tests use the system's (under Wine the private
  // prefix's), and its working folder is made afresh for every test and removed after it.
  winDir = platform::WindowsDirectory();
  workDir = winDir + "\\dp_tavi\\";
  std::error_code ignored;
  std::filesystem::remove_all(workDir, ignored);
#else
  winDir = tmp.MakeDir("win");
  winDir.pop_back();
  workDir = winDir + "/dp_tavi/";
  setenv("VELMORA_WINDIR", winDir.c_str(), 1);
  setenv("VELMORA_DRIVE_TYPE", "3", 1);
#endif
}

void AppFixture::TearDown() {
  main.reset();
#ifdef _WIN32
  std::error_code ignored;
  std::filesystem::remove_all(workDir, ignored);
#endif
}

TMainfrm& AppFixture::Make(std::vector<std::string> args) {
  main = std::make_unique<TMainfrm>(ui, AppEnvironment{programFile, std::move(args)}, tools);
  // A window the program runs has been through FormCreate, which binds the device functions.
  platform::devices::InitPnpApi();
  return *main;
}

TMainfrm& AppFixture::Start(std::vector<std::string> args) {
  Make(std::move(args));
  main->FormCreate();
  return *main;
}

std::vector<std::string> AppFixture::LogTexts() const {
  std::vector<std::string> texts;
  for (const std::string& line : main->Form().Lines("LogLbx").ToVector()) {
    // "[dd.mm.yyyy hh.nn.ss] " is 22 characters.
    if (line.size() >= 22 && line[0] == '[' && line[20] == ']') texts.push_back(line.substr(22));
    else texts.push_back(line);
  }
  return texts;
}

std::vector<std::string> AppFixture::LogKeys() const {
  std::vector<std::string> keys;
  for (const std::string& text : LogTexts()) {
    auto bar = text.find('|');
    if (bar != std::string::npos && (text.rfind("log", 0) == 0 || text.rfind("msg", 0) == 0)) {
      keys.push_back(text.substr(0, bar));
    }
  }
  return keys;
}

bool AppFixture::LogHas(const std::string& text) const {
  for (const std::string& t : LogTexts()) {
    if (t == text) return true;
  }
  return false;
}

std::string AppFixture::Ini(const std::string& section, const std::string& key) const {
  return platform::profile::ReadString(programDir + "dp_tavi.ini", section, key, "<missing>");
}

std::string AppFixture::Joined(std::string relative) {
#ifdef _WIN32
  std::replace(relative.begin(), relative.end(), '/', '\\');
#endif
  return relative;
}

std::string AppFixture::ArchiveWord(const std::string& path) {
  const std::vector<std::string> words = platform::process::SplitCommandLine("7z " + ShortFileName(path));
  return words.size() == 2 ? words[1] : std::string();
}
