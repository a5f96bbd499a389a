// A program folder, a Windows folder and a main window for tests of the operations, with a
// UI that answers from a script instead of a person.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

// A test that needs one of the Linux-only environment overrides (VELMORA_DRIVE_TYPE,
// VELMORA_WINDIR, VELMORA_SYSFS) skips on Windows, saying which.
#ifdef _WIN32
#define SKIP_WITHOUT_LINUX_OVERRIDE(name) \
  GTEST_SKIP() << name << " is a Linux-only override; Windows answers from the system"
#else
#define SKIP_WITHOUT_LINUX_OVERRIDE(name) static_cast<void>(0)
#endif

// Cases still written for the Linux fixture only skip on Windows with one of these reasons.
#ifdef _WIN32
#define SKIP_ON_WINDOWS(reason) GTEST_SKIP() << reason
#else
#define SKIP_ON_WINDOWS(reason) static_cast<void>(0)
#endif
// The expected texts join paths with '/' and find the working folder inside the test folder
// ("win/dp_tavi"); on Windows the program joins with '\' and the Windows folder is the system's.
#define VELMORA_LINUX_PATHS                                                                      \
  "written for the Linux fixture: expected paths joined with '/' and the working folder inside " \
  "the test folder"
// Shell scripts stand in for 7z, DPINST.exe and clean.cmd.
#define VELMORA_STAND_INS "needs the Linux tool stand-ins (shell scripts for 7z, DPINST.exe and clean.cmd)"

class FakeUi : public UiPort {
 public:
  std::deque<bool> answers;                        // AskYesNo answers; No when empty
  std::deque<std::optional<std::string>> files;    // OpenFile/SaveFile answers; cancel when empty
  std::vector<std::string> shown;                  // every text shown, prefixed by its kind
  int processMessagesCalls = 0;
  bool busy = false;
  bool closed = false;
  std::vector<std::string> urls;
  bool urlsOpen = true;  // what OpenUrl answers
  std::string yesText;  // the texts of the Yes and No buttons the program set last
  std::string noText;

  bool AskYesNo(const std::string& text, const std::string&) override;
  void SetAnswerTexts(const std::string& yes, const std::string& no) override {
    yesText = yes;
    noText = no;
  }
  void ShowInfo(const std::string& text, const std::string&) override { shown.push_back("info:" + text); }
  void ShowMessage(const std::string& text) override { shown.push_back("message:" + text); }
  void ShowError(const std::string& text) override { shown.push_back("error:" + text); }
  std::optional<std::string> OpenFile(const std::string&, const std::string&, const std::string&) override;
  std::optional<std::string> SaveFile(const std::string&, const std::string&, const std::string&) override;
  void ProcessMessages() override { ++processMessagesCalls; }
  void SetBusyCursor(bool b) override { busy = b; }
  bool OpenUrl(const std::string& url) override {
    urls.push_back(url);
    return urlsOpen;
  }
  void CloseMainWindow() override { closed = true; }
};

class AppFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A main window over the program folder; FormCreate is not run.
  TMainfrm& Make(std::vector<std::string> args = {});
  // Make() and FormCreate.
  TMainfrm& Start(std::vector<std::string> args = {});

  // Log lines without their time stamps.
  std::vector<std::string> LogTexts() const;
  // The message keys of the log's message lines, in order (test language: "key|args").
  std::vector<std::string> LogKeys() const;
  bool LogHas(const std::string& text) const;
  // A relative path ("DP/", "lng/english.lng") with the separators the program joins paths
  // with: '/' on Linux, '\\' on Windows.
  static std::string Joined(std::string relative);
  // An existing pack file's path as the archive tool gets it, one unquoted word: the short form
  // the program's command lines carry (ShortFileName; on Linux the path itself).
  static std::string ArchiveWord(const std::string& path);
  // A value of the program folder's dp_tavi.ini ("<missing>" when absent).
  std::string Ini(const std::string& section, const std::string& key) const;

  TempDir tmp;
  std::string programDir;  // with trailing '/'
  std::string programFile;
  std::string winDir;      // without trailing '/'
  std::string workDir;     // winDir + "/dp_tavi/"
  FakeUi ui;
  ToolRunner* tools = nullptr;  // what starts the outside tools; null: real processes
  std::unique_ptr<TMainfrm> main;
};

// A run's log ends with its summary: whose hardware IDs were searched for and what the search
// found (when a search ran), then "log124" with the counts, the installer's line and the
// failures. The message keys of a log (LogKeys) split into those before the last summary and
// the summary's own; nothing in `summary` when the log holds none.
struct SplitLog {
  std::vector<std::string> before;
  std::vector<std::string> summary;
};
SplitLog SplitAtSummary(const std::vector<std::string>& keys);
// How many summaries a log holds (its "log124" lines).
std::size_t SummaryCount(const std::vector<std::string>& keys);

// Writes a language file whose every message reads "<key>|%s|%s", so a log line shows the
// key and the arguments it was formatted with.
void WriteTestLanguage(const std::string& path, const std::string& name = "Test");
