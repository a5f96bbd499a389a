// End-to-end tests on the installed program: each test copies the installed program folder,
// builds its driver packs with 7zz, and runs Velmora_TAVI as a user would, on the offscreen
// platform, with a Windows folder of its own. The log the program copies to standard error is
// read back and compared with the texts of the shipped English language file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/main_form.h"
#include "lang/messages.h"
#include "platform/profile.h"
#include "support/temp_dir.h"
#ifdef VELMORA_HAVE_HIVEX
#include "support/test_hive.h"
#endif

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::string kInstalled = VELMORA_E2E_PROGRAM_DIR;
const std::string kLaptopSysfs = std::string(VELMORA_TESTDATA_DIR) + "/sysfs/laptop/sys";

// ---- text helpers ----

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& content) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

// UTF-16 little-endian (without its byte-order mark) to UTF-8; nothing when malformed.
std::optional<std::string> Utf16LeToUtf8(const std::string& bytes) {
  if (bytes.size() % 2 != 0) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    std::uint32_t unit =
        static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
    std::uint32_t code = unit;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 3 >= bytes.size()) return std::nullopt;
      const std::uint32_t low =
          static_cast<unsigned char>(bytes[i + 2]) | (static_cast<unsigned char>(bytes[i + 3]) << 8);
      if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
      code = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      return std::nullopt;
    }
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return out;
}

// ---- the log on standard error ----

// "[dd.mm.yyyy hh.nn.ss] " is 22 characters.
bool IsStamped(const std::string& line) {
  static const std::string shape = "[00.00.0000 00.00.00] ";
  if (line.size() < shape.size()) return false;
  for (std::size_t i = 0; i < shape.size(); ++i) {
    const bool digit = line[i] >= '0' && line[i] <= '9';
    if (shape[i] == '0' ? !digit : line[i] != shape[i]) return false;
  }
  return true;
}

// Diagnostics of Qt's offscreen platform, which shares standard error with the log.
bool IsToolkitNoise(const std::string& line) { return StartsWith(line, "This plugin does not support "); }

struct Log {
  std::vector<std::string> lines;  // every log line as written, toolkit diagnostics left out
  std::vector<std::string> texts;  // the time-stamped lines without their stamps
  std::vector<std::string> other;  // lines that are neither banner, log nor toolkit diagnostics

  bool Has(const std::string& text) const {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
  }
  std::size_t Count(const std::string& text) const {
    return static_cast<std::size_t>(std::count(texts.begin(), texts.end(), text));
  }
  std::size_t CountStartingWith(const std::string& prefix) const {
    return static_cast<std::size_t>(std::count_if(
        texts.begin(), texts.end(), [&](const std::string& t) { return StartsWith(t, prefix); }));
  }
  // Index of the first text equal to `text` at or after `from`; texts.size() when none.
  std::size_t Find(const std::string& text, std::size_t from = 0) const {
    for (std::size_t i = from; i < texts.size(); ++i) {
      if (texts[i] == text) return i;
    }
    return texts.size();
  }
};

// A run's log ends with its summary: the line saying whose hardware IDs were searched for (when
// a search ran), then the "Summary: " lines. The texts before it.
std::vector<std::string> BeforeSummary(std::vector<std::string> texts) {
  while (!texts.empty() && StartsWith(texts.back(), "Summary: ")) texts.pop_back();
  if (!texts.empty() && StartsWith(texts.back(), "Hardware IDs in use: ")) texts.pop_back();
  return texts;
}

std::vector<std::string> Unstamped(const std::vector<std::string>& lines) {
  std::vector<std::string> texts;
  for (const std::string& line : lines) texts.push_back(line.substr(std::min<std::size_t>(22, line.size())));
  return texts;
}

Log ReadLog(const fs::path& stderrFile) {
  Log log;
  const std::vector<std::string> all = SplitLines(ReadFile(stderrFile));
  for (std::size_t i = 0; i < all.size(); ++i) {
    const std::string& line = all[i];
    if (IsToolkitNoise(line)) continue;
    log.lines.push_back(line);
    if (IsStamped(line)) {
      log.texts.push_back(line.substr(22));
    } else if (log.lines.size() > 9) {
      log.other.push_back(line);
    }
  }
  return log;
}

// ---- child processes ----

// The current environment with `overrides` applied; an empty value removes the variable.
std::vector<std::string> Environment(const std::map<std::string, std::string>& overrides) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (overrides.count(name) == 0) env.push_back(entry);
  }
  for (const auto& [name, value] : overrides) {
    if (!value.empty()) env.push_back(name + "=" + value);
  }
  return env;
}

std::vector<char*> CStrings(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& t : texts) pointers.push_back(t.data());
  pointers.push_back(nullptr);
  return pointers;
}

// One started program. Destroying it kills the program if it still runs.
class Child {
 public:
  // Starts `argv` (searched on PATH when `searchPath`) in folder `cwd`, standard output and error
  // into the given files.
  Child(std::vector<std::string> argv, const std::vector<std::string>& env, const fs::path& cwd,
        const fs::path& out, const fs::path& err, bool searchPath = false) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    std::vector<std::string> envCopy = env;
    std::vector<char*> args = CStrings(argv);
    std::vector<char*> envp = CStrings(envCopy);
    started_ = Clock::now();
    const int rc = searchPath ? posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), envp.data())
                              : posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) pid_ = -1;
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    if (Running()) {
      kill(pid_, SIGKILL);
      Wait();
    }
  }

  bool Started() const { return pid_ > 0; }
  bool Running() {
    if (!Started() || ended_) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) Ended(status);
    return !ended_;
  }
  // Waits for the program to end, however long a loaded machine takes; true when it has ended.
  // A program that never ends keeps the test waiting until the test runner's hang guard stops it.
  bool Wait() {
    while (Running()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return ended_;
  }
  void Signal(int signal) {
    if (Running()) kill(pid_, signal);
  }
  bool ExitedNormally() const { return ended_ && WIFEXITED(status_); }
  int ExitCode() const { return ExitedNormally() ? WEXITSTATUS(status_) : -1; }
  bool KilledBy(int signal) const { return ended_ && WIFSIGNALED(status_) && WTERMSIG(status_) == signal; }
  double Seconds() const { return std::chrono::duration<double>(endedAt_ - started_).count(); }
  // How the program ended, for failure messages.
  std::string Describe() const {
    if (!ended_) return "still running";
    if (WIFEXITED(status_)) return "exit code " + std::to_string(WEXITSTATUS(status_));
    if (WIFSIGNALED(status_)) return "killed by signal " + std::to_string(WTERMSIG(status_));
    return "status " + std::to_string(status_);
  }

 private:
  void Ended(int status) {
    ended_ = true;
    status_ = status;
    endedAt_ = Clock::now();
  }

  pid_t pid_ = -1;
  bool ended_ = false;
  int status_ = 0;
  Clock::time_point started_;
  Clock::time_point endedAt_;
};

// Runs a tool to its end; its exit code, -1 when it could not run.
int RunTool(std::vector<std::string> argv, const fs::path& cwd, const fs::path& logFile) {
  Child child(std::move(argv), Environment({}), cwd, logFile, logFile, true);
  if (!child.Started() || !child.Wait()) return -1;
  return child.ExitCode();
}

// ---- the file tree, for "nothing was written elsewhere" ----

// Relative path -> kind ('d' folder, 'l' link, 'f' anything else) of everything under `root`,
// links not followed; folders named in `skip` (relative paths) are listed but not entered.
std::map<std::string, char> Tree(const fs::path& root, const std::set<std::string>& skip) {
  std::map<std::string, char> tree;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error); it != fs::recursive_directory_iterator();
       it.increment(error)) {
    if (error) break;
    const std::string rel = fs::relative(it->path(), root).generic_string();
    const auto status = it->symlink_status();
    const char kind = fs::is_symlink(status) ? 'l' : fs::is_directory(status) ? 'd' : 'f';
    tree[rel] = kind;
    if (kind == 'd' && skip.count(rel) != 0) it.disable_recursion_pending();
  }
  return tree;
}

std::vector<std::string> NewEntries(const std::map<std::string, char>& before,
                                    const std::map<std::string, char>& after) {
  std::vector<std::string> added;
  for (const auto& [path, kind] : after) {
    auto it = before.find(path);
    if (it == before.end() || it->second != kind) added.push_back(path);
  }
  return added;
}

// ---- a UI for the program's operations run inside this test program ----

class QuietUi : public UiPort {
 public:
  std::vector<std::string> shown;
  bool AskYesNo(const std::string& text, const std::string&) override {
    shown.push_back("ask:" + text);
    return false;
  }
  void ShowInfo(const std::string& text, const std::string&) override { shown.push_back("info:" + text); }
  void ShowMessage(const std::string& text) override { shown.push_back("message:" + text); }
  void ShowError(const std::string& text) override { shown.push_back("error:" + text); }
  std::optional<std::string> OpenFile(const std::string&, const std::string&, const std::string&) override {
    return {};
  }
  std::optional<std::string> SaveFile(const std::string&, const std::string&, const std::string&) override {
    return {};
  }
  void ProcessMessages() override {}
  void SetBusyCursor(bool) override {}
  bool OpenUrl(const std::string&) override { return false; }
};

// ---- the fixture ----

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(tmp_.path());
    ASSERT_TRUE(fs::exists(fs::path(kInstalled) / "Velmora_TAVI"))
        << "the program is not installed in " << kInstalled << " (ctest runs the installation first)";
    lang_ = kInstalled + "/lng/english.lng";
    for (const char* folder : {"win", "cwd", "home", "record", "packsrc"})
      fs::create_directories(root_ / folder);
    fs::create_directories(root_ / "runtime");
    fs::permissions(root_ / "runtime", fs::perms::owner_all, fs::perm_options::replace);
  }

  // Copies the installed program folder to `name` under the test's folder; its packs go into DP/.
  void CopyProgram(const std::string& name = "prog") {
    prog_ = root_ / name;
    fs::copy(kInstalled, prog_, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    // A fresh installation: nothing a program run may have left in the installed folder.
    for (const char* left : {"dp_tavi.ini", "Markers/cmd", "Markers/cmdout"}) fs::remove(prog_ / left);
    fs::create_directories(prog_ / "DP");
  }

  // "<kind> <path>" lines of the working folder as the run left it (kinds: f file, d folder,
  // l link). A switch run keeps the drivers it prepared here: the installer of this system does
  // not install them, so the run starts no clean-up.
  std::set<std::string> WorkingTree() const {
    std::set<std::string> lines;
    for (const auto& [path, kind] : Tree(root_ / "win" / "dp_tavi", {}))
      lines.insert(std::string(1, kind) + " " + path);
    return lines;
  }

  // Builds `pack` in DP/ from the files under packsrc/<source> (with 7zz a, plus `options`).
  void Pack(const std::string& pack, const std::string& source, const std::vector<std::string>& entries,
            const std::vector<std::string>& options = {}) {
    std::vector<std::string> argv = {"7zz", "a", "-bd"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back((prog_ / "DP" / pack).string());
    argv.insert(argv.end(), entries.begin(), entries.end());
    const fs::path cwd = root_ / "packsrc" / source;
    ASSERT_EQ(RunTool(argv, cwd, root_ / "record" / "7zz.txt"), 0) << ReadFile(root_ / "record" / "7zz.txt");
  }

  // "Driver Pack One.7z" (a name with blanks) and "second.7Z" (upper-case extension).
  void GoodPacks() {
    WriteFile(
        root_ / "packsrc/one/Drivers/Net/net.inf",
        "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Models]\r\n%Net% = Install, PCI\\VEN_8086&DEV_15D7\r\n");
    WriteFile(root_ / "packsrc/one/Drivers/Net/net.sys", std::string(3000, 'N'));
    WriteFile(root_ / "packsrc/one/Drivers/Net/read me.txt", "notes\n");
    Pack("Driver Pack One.7z", "one", {"Drivers"});
    WriteFile(root_ / "packsrc/two/Video/vid.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\n");
    WriteFile(root_ / "packsrc/two/Video/vid.dll", "video driver\n");
    Pack("second.7Z", "two", {"Video"});
  }

  // "corrupt.7z": stored (not compressed), one file's bytes changed afterwards, so 7-Zip reads
  // the archive but finds that file damaged.
  void CorruptPack() {
    WriteFile(root_ / "packsrc/bad/Broken/broken.sys", std::string(600, 'B'));
    WriteFile(root_ / "packsrc/bad/Broken/fine.inf", "[Version]\r\n");
    Pack("corrupt.7z", "bad", {"Broken"}, {"-mx0"});
    std::string bytes = ReadFile(prog_ / "DP" / "corrupt.7z");
    const auto at = bytes.find(std::string(600, 'B'));
    ASSERT_NE(at, std::string::npos);
    bytes[at + 300] = 'X';
    WriteFile(prog_ / "DP" / "corrupt.7z", bytes);
  }

  // "hostile.7z": entries that lead out of the output folder: "../" and "../../" paths, an
  // absolute path into this test's folder, a link to a file outside, a link to a folder outside
  // followed by a file inside that link, next to one harmless file.
  void HostilePack() {
    absoluteTarget_ = root_ / "abs-target" / "planted.txt";
    WriteFile(absoluteTarget_, "planted\n");
    WriteFile(root_ / "packsrc/evil/up.txt", "up one\n");
    WriteFile(root_ / "packsrc/upup.txt", "up two\n");
    fs::create_directories(root_ / "packsrc/evil/a");
    Pack("hostile.7z", "evil/a", {"../up.txt", "../../upup.txt", absoluteTarget_.string()}, {"-spf"});
    fs::remove_all(root_ / "abs-target");
    fs::create_directories(root_ / "packsrc/links");
    fs::create_symlink(root_ / "outside-file.txt", root_ / "packsrc/links/link_out");
    fs::create_symlink(root_ / "outside-dir", root_ / "packsrc/links/link_dir");
    WriteFile(root_ / "packsrc/links/harmless.txt", "harmless\n");
    Pack("hostile.7z", "links", {"link_out", "link_dir", "harmless.txt"}, {"-snl"});
    WriteFile(root_ / "packsrc/through/link_dir/payload.txt", "payload\n");
    Pack("hostile.7z", "through", {"link_dir/payload.txt"});
    // The archiver kept the hostile names as they were given.
    const fs::path listing = root_ / "record" / "hostile-listing.txt";
    ASSERT_EQ(RunTool({"7zz", "l", "-slt", (prog_ / "DP" / "hostile.7z").string()}, root_, listing), 0);
    const std::string paths = ReadFile(listing);
    for (const std::string& name :
         {std::string("../up.txt"), std::string("../../upup.txt"), absoluteTarget_.string(),
          std::string("link_out"), std::string("link_dir"), std::string("link_dir/payload.txt")}) {
      EXPECT_NE(paths.find("\nPath = " + name + "\n"), std::string::npos) << name;
    }
  }

  // Starts the copied program with `args`; standard error goes to record/<tag>.err.
  // With a `wrapper`, the program's command line is handed to it as its last arguments (found on
  // PATH: "unshare", "sh", ...).
  std::unique_ptr<Child> Start(const std::vector<std::string>& args, const std::string& tag,
                               std::map<std::string, std::string> extraEnv = {},
                               const std::vector<std::string>& wrapper = {}) {
    std::map<std::string, std::string> env = {
        {"QT_QPA_PLATFORM", "offscreen"},
        {"VELMORA_WINDIR", (root_ / "win").string()},
        {"HOME", (root_ / "home").string()},
        {"XDG_RUNTIME_DIR", (root_ / "runtime").string()},
        {"XDG_CONFIG_HOME", (root_ / "home/.config").string()},
        {"XDG_CACHE_HOME", (root_ / "home/.cache").string()},
        {"XDG_DATA_HOME", (root_ / "home/.local/share").string()},
        {"VELMORA_E2E_RECORD", (root_ / "record").string()},
        // The drive type and the devices are the machine's own unless a test says otherwise.
        {"VELMORA_DRIVE_TYPE", ""},
        {"VELMORA_SYSFS", ""},
        {"DISPLAY", ""},
        {"WAYLAND_DISPLAY", ""},
    };
    for (auto& [name, value] : extraEnv) env[name] = value;
    std::vector<std::string> argv = wrapper;
    argv.push_back((prog_ / "Velmora_TAVI").string());
    argv.insert(argv.end(), args.begin(), args.end());
    auto child =
        std::make_unique<Child>(argv, Environment(env), root_ / "cwd", root_ / "record" / (tag + ".out"),
                                root_ / "record" / (tag + ".err"), !wrapper.empty());
    EXPECT_TRUE(child->Started());
    return child;
  }

  Log LogOf(const std::string& tag) const { return ReadLog(root_ / "record" / (tag + ".err")); }

  std::string Msg(const std::string& key, const std::vector<MessageArg>& args = {}) const {
    return MessageText(lang_, key, args);
  }
  std::string Ini(const std::string& section, const std::string& key) const {
    return platform::profile::ReadString((prog_ / "dp_tavi.ini").string(), section, key, "<missing>");
  }
  std::string Win() const { return (root_ / "win").string(); }
  std::string WorkDir() const { return Win() + "/dp_tavi/"; }

  // The test's folder without the places the program may write to: the working folder, the
  // folder of the test's own records, the toolkit's home and run-time folders.
  std::map<std::string, char> TreeOutsideWorkingFolder() const {
    return Tree(root_, {"win/dp_tavi", "record", "home", "runtime"});
  }

  TempDir tmp_;
  fs::path root_;
  fs::path prog_;
  fs::path absoluteTarget_;
  std::string lang_;
};

// The nine banner lines, then the "started" line.
void ExpectBanner(const Log& log, const std::string& startedText) {
  ASSERT_GE(log.lines.size(), 10u);
  const std::string rule(129, '=');
  EXPECT_EQ(log.lines[0], rule);
  for (const char* part : {"Velmora", "Ostrel", "Edition", "15-02-2008"}) {
    EXPECT_NE(log.lines[1].find(part), std::string::npos) << log.lines[1];
  }
  EXPECT_TRUE(log.lines[3].ends_with("#ver.4.57#")) << log.lines[3];
  EXPECT_TRUE(log.lines[4].ends_with("#ver.2.01#")) << log.lines[4];
  EXPECT_TRUE(log.lines[5].ends_with("#ver.5.2.3718.0#")) << log.lines[5];
  EXPECT_TRUE(StartsWith(log.lines[6], "Velmora_TAVI.exe")) << log.lines[6];
  EXPECT_TRUE(log.lines[6].ends_with("#ver. 3.5.3.7 beta#")) << log.lines[6];
  EXPECT_EQ(log.lines[8], rule);
  for (std::size_t i = 0; i < 9; ++i) EXPECT_FALSE(IsStamped(log.lines[i])) << log.lines[i];
  EXPECT_TRUE(IsStamped(log.lines[9])) << log.lines[9];
  EXPECT_EQ(log.lines[9].substr(std::min<std::size_t>(22, log.lines[9].size())), startedText);
}

// ---- first start with /inir ----

TEST_F(EndToEnd, FirstStartWithInirWritesFreshConfigurationAndStaysOpen) {
  CopyProgram();
  auto program = Start({"/inir"}, "inir");
  const std::string configured = Msg("log44");
  while (!LogOf("inir").Has(configured) && program->Running()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  // It stays open: still running a moment after its last line, with nothing logged since.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  ASSERT_TRUE(program->Running()) << "the program ended by itself after /inir";
  const Log log = LogOf("inir");
  program->Signal(SIGTERM);
  ASSERT_TRUE(program->Wait());

  ExpectBanner(log, Msg("log45"));
  ASSERT_FALSE(log.texts.empty());
  EXPECT_EQ(log.texts.back(), configured);
  EXPECT_TRUE(log.Has(Msg("log40", {"/inir"})));
  // Defaults written once, by the start-up; "/inir" finds Initial=no and keeps them.
  EXPECT_EQ(log.Count(Msg("log8", {prog_.string() + "/"})), 1u);
  EXPECT_TRUE(log.other.empty()) << "unexpected line on standard error: " << log.other.front();

  const std::string programFile = (prog_ / "Velmora_TAVI").string();
  const std::map<std::string, std::map<std::string, std::string>> expected = {
      {"Program",
       {{"Initial", "no"},
        {"RecreateIni", "no"},
        {"AppMainPath", programFile},
        {"Workdir", WorkDir()},
        {"Windir", Win()},
        {"LanguageChange", "No"},
        {"LanguageFile", prog_.string() + "/lng/english.lng"},
        {"Start From", "Non CD"},
        {"CMDPackDir", prog_.string() + "/DP/"}}},
      {"DP_Options",
       {{"DPExternal", "no"},
        {"SelectDPDir", "no"},
        {"NonCompressedDriversFolder", "NO"},
        {"NonCompressedDriversFolderLocation", "N/A"},
        {"DPExternalDir", prog_.string() + "/DP/"}}},
      {"Automation", {{"AutoDPInstall", "No"}, {"AutoHWIDSearch", "No"}}},
  };
  const std::string ini = (prog_ / "dp_tavi.ini").string();
  std::vector<std::string> sections = platform::profile::ReadSectionNames(ini);
  std::sort(sections.begin(), sections.end());
  EXPECT_EQ(sections, (std::vector<std::string>{"Automation", "DP_Options", "Program"}));
  for (const auto& [section, keys] : expected) {
    std::vector<std::string> names = platform::profile::ReadSectionKeys(ini, section);
    std::sort(names.begin(), names.end());
    std::vector<std::string> expectedNames;
    for (const auto& [key, value] : keys) {
      expectedNames.push_back(key);
      EXPECT_EQ(Ini(section, key), value) << section << "/" << key;
    }
    std::sort(expectedNames.begin(), expectedNames.end());
    EXPECT_EQ(names, expectedNames) << section;
  }
  EXPECT_TRUE(fs::is_directory(WorkDir()));
}

// ---- /untd: unpack everything, install, close ----

TEST_F(EndToEnd, UntdUnpacksGoodPacksSafelyInstallsAndClosesThenSkipsThemNextTime) {
  CopyProgram();
  ASSERT_NO_FATAL_FAILURE(GoodPacks());
  ASSERT_NO_FATAL_FAILURE(CorruptPack());
  ASSERT_NO_FATAL_FAILURE(HostilePack());
  const std::set<std::string> packs = {"Driver Pack One.7z", "second.7Z", "corrupt.7z", "hostile.7z"};
  const auto treeBefore = TreeOutsideWorkingFolder();

  auto first = Start({"/untd"}, "untd1");
  ASSERT_TRUE(first->Wait()) << "the program did not close by itself";
  // The damaged pack is a failed step: the run says so in its exit status.
  EXPECT_EQ(first->ExitCode(), 1) << first->Describe();
  // The close comes from the ten-second timer armed at the end of the run: never sooner.
  EXPECT_GE(first->Seconds(), 9.5);

  const Log log = LogOf("untd1");
  ExpectBanner(log, Msg("log45"));
  EXPECT_TRUE(log.other.empty()) << "unexpected line on standard error: " << log.other.front();
  EXPECT_TRUE(log.Has(Msg("log40", {"/untd"})));
  EXPECT_TRUE(log.Has(Msg("log41")));
  for (const std::string& pack : packs) EXPECT_EQ(log.Count(Msg("log24", {pack})), 1u) << pack;
  EXPECT_EQ(log.Count(Msg("log26")), 4u);  // method 2 for every pack
  EXPECT_EQ(log.Count(Msg("log27")), 4u);
  EXPECT_TRUE(log.Has("Extracting  Drivers/Net/net.inf"));
  EXPECT_TRUE(log.Has("Extracting  Video/vid.inf"));

  // What the packs left in the working folder: the good packs whole, the
  // undamaged part of the corrupt one, the harmless files of the hostile one, and no link.
  const std::set<std::string> unpacked = WorkingTree();
  for (const char* entry : {"f Drivers/Drivers/Net/net.inf", "f Drivers/Drivers/Net/net.sys",
                            "f Drivers/Drivers/Net/read me.txt", "f Drivers/Video/vid.inf",
                            "f Drivers/Video/vid.dll", "f Drivers/Broken/fine.inf", "f Drivers/harmless.txt",
                            "d Drivers/link_dir", "f Drivers/link_dir/payload.txt", "f UnpackedDP.txt"}) {
    EXPECT_EQ(unpacked.count(entry), 1u) << entry;
  }
  EXPECT_EQ(unpacked.count("f Drivers/Broken/broken.sys"), 0u) << "a damaged file was written";
  for (const std::string& entry : unpacked) EXPECT_FALSE(StartsWith(entry, "l ")) << entry;

  // Nothing outside the working folder: not beside it, not where the hostile entries point.
  EXPECT_FALSE(fs::exists(fs::symlink_status(absoluteTarget_)));
  EXPECT_FALSE(fs::exists(root_ / "win" / "up.txt"));
  EXPECT_FALSE(fs::exists(root_ / "upup.txt"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(root_ / "outside-file.txt")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(root_ / "outside-dir")));
  const std::vector<std::string> added = NewEntries(treeBefore, TreeOutsideWorkingFolder());
  EXPECT_EQ(added, (std::vector<std::string>{"prog/Markers/cmd", "prog/Markers/cmdout", "prog/dp_tavi.ini",
                                             "win/dp_tavi"}));
  EXPECT_TRUE(fs::is_empty(root_ / "cwd"));

  // Installation: the installer's log copied into the program's log, then destroyed.
  const std::size_t install = log.Find(Msg("log49", {"DPINST.exe /s /path " + WorkDir() + "Drivers"}));
  const std::size_t cleaning = log.Find("Cleaning log file", install);
  ASSERT_LT(cleaning, log.texts.size());
  const auto installerLines = std::vector<std::string>(log.texts.begin() + static_cast<long>(install) + 1,
                                                       log.texts.begin() + static_cast<long>(cleaning));
  EXPECT_TRUE(std::any_of(installerLines.begin(), installerLines.end(), [&](const std::string& line) {
    return line.find(WorkDir() + "Drivers/Drivers/Net/net.inf") != std::string::npos;
  })) << "the installer's log does not name the unpacked INF file";
  EXPECT_FALSE(fs::exists(root_ / "win" / "DPINST.LOG"));
  // The run ends by saying where the prepared drivers stay, then its summary.
  EXPECT_EQ(BeforeSummary(log.texts).back(), Msg("log82", {WorkDir() + "Drivers/"}));
  EXPECT_TRUE(StartsWith(log.texts.back(), "Summary: failed: ")) << log.texts.back();
  EXPECT_LT(log.Find(Msg("log43")), log.Find(Msg("log82", {WorkDir() + "Drivers/"})));
  EXPECT_EQ(Ini("Automation", "AutoDPInstall"), "No");

  // The record of unpacked packs names the packs that unpacked, not the damaged one.
  const std::string listed = ReadFile(WorkDir() + "UnpackedDP.txt");
  const std::vector<std::string> names = SplitLines(listed);
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
            (std::set<std::string>{"Driver Pack One.7z", "second.7Z", "hostile.7z"}));
  EXPECT_EQ(names.size(), 3u);
  EXPECT_EQ(std::count(listed.begin(), listed.end(), '\n'), std::count(listed.begin(), listed.end(), '\r'));
  EXPECT_TRUE(log.Has(Msg("log79", {"corrupt.7z"})) || log.Has(Msg("log75", {"corrupt.7z", 2})));
  EXPECT_TRUE(fs::exists(WorkDir() + "Drivers/Drivers/Net/net.sys"));

  // A second run skips the packs recorded as unpacked and tries the damaged one again.
  auto second = Start({"/untd"}, "untd2");
  ASSERT_TRUE(second->Wait()) << "the second run did not close by itself";
  EXPECT_EQ(second->ExitCode(), 1) << second->Describe();
  const Log again = LogOf("untd2");
  EXPECT_EQ(again.Count(Msg("log22")), 4u);
  EXPECT_EQ(again.Count(Msg("log26")), 1u);
  EXPECT_EQ(again.Count(Msg("log27")), 1u);
  EXPECT_EQ(again.CountStartingWith("Extracting  Drivers/"), 0u);
  EXPECT_EQ(ReadFile(WorkDir() + "UnpackedDP.txt"), listed);
  EXPECT_EQ(Ini("Automation", "AutoDPInstall"), "No");
}

// ---- /unth: search-and-install, log saved, close ----

TEST_F(EndToEnd, UnthSavesTheWholeLogAsUtf16EndingWithItsLastLine) {
  CopyProgram("prog-äöü");  // a folder name that is not ASCII reaches the saved log
  ASSERT_NO_FATAL_FAILURE(GoodPacks());
  auto program = Start({"/unth"}, "unth", {{"VELMORA_SYSFS", kLaptopSysfs}});
  ASSERT_TRUE(program->Wait()) << "the program did not close by itself";
  EXPECT_EQ(program->ExitCode(), 0) << program->Describe();
  EXPECT_GE(program->Seconds(), 9.5);  // closed by the ten-second timer, never sooner

  const Log log = LogOf("unth");
  EXPECT_TRUE(log.Has(Msg("log42")));
  EXPECT_EQ(Ini("Automation", "AutoDPInstall"), "No");

  const std::string bytes = ReadFile(WorkDir() + "UnattendedLOg.txt");
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  const std::optional<std::string> text = Utf16LeToUtf8(bytes.substr(2));
  ASSERT_TRUE(text.has_value()) << "not UTF-16 LE";
  EXPECT_TRUE(text->ends_with("\r\n"));
  EXPECT_EQ(std::count(text->begin(), text->end(), '\n'), std::count(text->begin(), text->end(), '\r'));
  const std::vector<std::string> saved = SplitLines(*text);
  ASSERT_FALSE(saved.empty());
  ASSERT_TRUE(IsStamped(saved.back())) << saved.back();
  EXPECT_EQ(BeforeSummary(Unstamped(saved)).back(), Msg("log82", {WorkDir() + "Drivers/"}));
  EXPECT_EQ(saved.back().substr(22), Msg("log127"));
  EXPECT_EQ(log.texts.back(), Msg("log127"));  // the summary's last line ends standard error too
  // The saved log is the log as it stood: the same lines as on standard error up to that point.
  ASSERT_LE(saved.size(), log.lines.size());
  EXPECT_EQ(saved,
            std::vector<std::string>(log.lines.begin(), log.lines.begin() + static_cast<long>(saved.size())));
  EXPECT_NE(text->find("prog-äöü"), std::string::npos);
}

// ---- /unth finds, extracts and installs exactly the drivers of this machine ----

// A small INF file naming one hardware ID in its models section.
std::string InfText(const std::string& hardwareId) {
  return "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=System\r\n[Manufacturer]\r\n%Mfg%=Models\r\n"
         "[Models]\r\n%Dev% = Install, " +
         hardwareId + "\r\n[Strings]\r\nMfg=\"Test\"\r\nDev=\"Test device\"\r\n";
}

std::string Utf16Le(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

TEST_F(EndToEnd, UnthExtractsAndInstallsOnlyTheDriversWhoseInfFilesNameThisMachinesDevices) {
  CopyProgram();
  // The laptop tree's devices include PCI\VEN_8086&DEV_15D7 (network), PCI\VEN_8086&DEV_5917
  // (graphics), USB\VID_046D&PID_C52B&MI_01 (receiver) and HDAUDIO\FUNC_01&VEN_10EC&DEV_0257.
  struct Driver {
    const char* pack;
    const char* folder;
    std::string inf;
    bool matches;
  };
  const std::vector<Driver> drivers = {
      {"lap", "L/Net/Intel", InfText("PCI\\VEN_8086&DEV_15D7&SUBSYS_225D17AA"), true},
      {"lap", "L/Net/Other", InfText("PCI\\VEN_10EC&DEV_8168"), false},
      {"lap", "L/Audio/HDA", Utf16Le(InfText("HDAUDIO\\FUNC_01&VEN_10EC&DEV_0257&SUBSYS_17AA225D")), true},
      {"usb", "U/Logi", InfText("usb\\vid_046d&pid_c52b&mi_01"), true},
      {"usb", "U/Cam", InfText("USB\\VID_9999&PID_0001"), false},
      {"vid", "V/Gfx", InfText("PCI\\VEN_8086&DEV_5917"), true},
  };
  for (const Driver& d : drivers) {
    const std::string leaf = fs::path(d.folder).filename().string();
    WriteFile(root_ / "packsrc" / d.pack / d.folder / (leaf + ".inf"), d.inf);
    WriteFile(root_ / "packsrc" / d.pack / d.folder / (leaf + ".sys"), "payload of " + leaf + "\n");
  }
  WriteFile(root_ / "packsrc/vid/V/Gfx/sub/extra.bin", "more\n");
  ASSERT_NO_FATAL_FAILURE(Pack("Laptop Drivers.7z", "lap", {"L"}));
  ASSERT_NO_FATAL_FAILURE(Pack("usb.7z", "usb", {"U"}));
  ASSERT_NO_FATAL_FAILURE(Pack("video.7z", "vid", {"V"}));

  auto program = Start({"/unth"}, "unth-search", {{"VELMORA_SYSFS", kLaptopSysfs}});
  ASSERT_TRUE(program->Wait()) << "the program did not close by itself";
  EXPECT_EQ(program->ExitCode(), 0) << program->Describe();
  const Log log = LogOf("unth-search");
  EXPECT_TRUE(log.other.empty()) << "unexpected line on standard error: " << log.other.front();

  // The index: every INF file with its pack, Extract=YES exactly for the matching ones.
  const std::string index = WorkDir() + "DP_Content.ini";
  std::set<std::string> extractYes;
  for (const std::string& section : platform::profile::ReadSectionNames(index)) {
    if (platform::profile::ReadString(index, section, "Extract", "NO") == "YES") extractYes.insert(section);
  }
  EXPECT_EQ(extractYes, (std::set<std::string>{"L/Net/Intel/Intel.inf", "L/Audio/HDA/HDA.inf",
                                               "U/Logi/Logi.inf", "V/Gfx/Gfx.inf"}));
  EXPECT_EQ(platform::profile::ReadSectionNames(index).size(), drivers.size());
  EXPECT_EQ(platform::profile::ReadString(index, "U/Logi/Logi.inf", "Found Pattern", ""),
            "USB\\VID_046D&PID_C52B");
  EXPECT_EQ(platform::profile::ReadString(index, "L/Audio/HDA/HDA.inf", "PackName", ""), "Laptop Drivers.7z");

  // One list file per pack naming exactly its matching folders.
  auto listed = [&](const std::string& pack) {
    const std::vector<std::string> lines = SplitLines(ReadFile(WorkDir() + pack + ".txt"));
    return std::set<std::string>(lines.begin(), lines.end());
  };
  EXPECT_EQ(listed("Laptop Drivers.7z"), (std::set<std::string>{"L/Net/Intel/*.*", "L/Audio/HDA/*.*"}));
  EXPECT_EQ(listed("usb.7z"), std::set<std::string>{"U/Logi/*.*"});
  EXPECT_EQ(listed("video.7z"), std::set<std::string>{"V/Gfx/*.*"});

  // Every INF file lies in the index folder; exactly the matching folders were extracted, with
  // their payloads, into the drivers folder.
  const std::set<std::string> tree = WorkingTree();
  for (const Driver& d : drivers) {
    const std::string leaf = fs::path(d.folder).filename().string();
    const std::string inFolder = std::string(d.folder) + "/" + leaf;
    EXPECT_EQ(tree.count("f Index/" + inFolder + ".inf"), 1u) << d.folder;
    EXPECT_EQ(tree.count("f Index/" + inFolder + ".sys"), 0u) << d.folder;
    EXPECT_EQ(tree.count("f Drivers/" + inFolder + ".inf"), d.matches ? 1u : 0u) << d.folder;
    EXPECT_EQ(tree.count("f Drivers/" + inFolder + ".sys"), d.matches ? 1u : 0u) << d.folder;
  }
  EXPECT_EQ(tree.count("f Drivers/V/Gfx/sub/extra.bin"), 1u);
  // Each pack with a match was extracted once, by its list.
  EXPECT_EQ(log.CountStartingWith(Msg("log23", {"7z x "})), 3u + 3u);
  EXPECT_TRUE(log.Has(Msg("log23", {"7z x \"" + (prog_ / "DP/Laptop Drivers.7z").string() + "\" -o" +
                                    WorkDir() + "Index/ *.inf -r -y"})));
  EXPECT_TRUE(log.Has(Msg("log23", {"7z x \"" + (prog_ / "DP/Laptop Drivers.7z").string() + "\" -o" +
                                    WorkDir() + "Drivers/ \"@" + WorkDir() + "Laptop Drivers.7z.txt\" -y"})));

  // The installer ran silently on the drivers folder, and its log names exactly the chosen
  // driver packages: nothing of the index.
  const std::size_t install = log.Find(Msg("log49", {"DPINST.exe /s /path " + WorkDir() + "Drivers"}));
  ASSERT_LT(install, log.texts.size());
  std::set<std::string> packages;
  for (auto it = log.texts.begin() + static_cast<long>(install); it != log.texts.end(); ++it) {
    if (StartsWith(*it, "Driver package: ")) packages.insert(it->substr(16));
  }
  EXPECT_EQ(packages, (std::set<std::string>{WorkDir() + "Drivers/L/Audio/HDA/HDA.inf",
                                             WorkDir() + "Drivers/L/Net/Intel/Intel.inf",
                                             WorkDir() + "Drivers/U/Logi/Logi.inf",
                                             WorkDir() + "Drivers/V/Gfx/Gfx.inf"}));
  EXPECT_LT(log.Find(Msg("log53")), log.Find(Msg("log82", {WorkDir() + "Drivers/"})));
  EXPECT_EQ(Ini("Automation", "AutoDPInstall"), "No");
  const std::string saved = ReadFile(WorkDir() + "UnattendedLOg.txt");
  const std::optional<std::string> text = Utf16LeToUtf8(saved.substr(std::min<std::size_t>(2, saved.size())));
  ASSERT_TRUE(text.has_value());
  const std::vector<std::string> savedLines = SplitLines(*text);
  ASSERT_FALSE(savedLines.empty());
  EXPECT_EQ(BeforeSummary(Unstamped(savedLines)).back(), Msg("log82", {WorkDir() + "Drivers/"}));
}

// ---- /unth on names a command line, an INI file or a list of names finds hard to carry ----

// Pack names and folder names with brackets, "=", ";", a leading blank, a quote, a backslash,
// Latin-1 and UTF-8 bytes and line breaks, each folder holding a driver for this machine: every
// driver that can be carried is extracted with its files; for every pack or folder that cannot,
// the run names it and exits with 1; nothing lands outside the working folder.
TEST_F(EndToEnd, UnthOnHostileNamesExtractsEveryDriverItCanAndNamesTheRest) {
  CopyProgram();
  enum class Fate { Extracted, PackLeftOut, IndexLeftOut, FolderSkipped };
  struct Row {
    std::string pack;
    std::string folder;  // in the pack
    Fate fate;
    std::string placed;  // where an extracted folder lands below the drivers folder
  };
  const std::vector<Row> rows = {
      {"DP_Virtio [demo].7z", "D/V/RedHat", Fate::Extracted, "D/V/RedHat"},
      {"DP_Virtio [demo].7z", "D/V/[1]", Fate::IndexLeftOut, ""},  // no INI section name holds it
      {"a=b;c.7z", "D/Intel=old;new", Fate::Extracted, "D/Intel=old;new"},
      {"plain.7z", "D/ lead blank", Fate::Extracted, "D/ lead blank"},
      {"plain.7z", "D/quo\"te", Fate::Extracted, "D/quo\"te"},
      {"plain.7z", "D/back\\slash", Fate::Extracted, "D/back/slash"},  // a Windows separator
      {"plain.7z", "D/Ger\xE4te", Fate::Extracted, "D/Ger\xE4te"},      // Latin-1
      {"plain.7z", "D/\xC3\xA9t\xC3\xA9", Fate::Extracted, "D/\xC3\xA9t\xC3\xA9"},  // UTF-8
      {"plain.7z", "D/new\nline", Fate::FolderSkipped, ""},
      {"caf\xE9.7z", "L/one", Fate::Extracted, "L/one"},
      {"\xC3\xBC" "ber [2].7z", "U/two", Fate::Extracted, "U/two"},
      {" lead.7z", "B/three", Fate::PackLeftOut, ""},
      {"quo\"te.7z", "Q/four", Fate::PackLeftOut, ""},
      {"back\\slash.7z", "S/five", Fate::PackLeftOut, ""},
      {"line\nbreak.7z", "N/six", Fate::PackLeftOut, ""},
  };
  std::map<std::string, std::vector<std::string>> packFolders;
  for (const Row& row : rows) packFolders[row.pack].push_back(row.folder);
  std::size_t number = 0;
  for (const auto& [pack, folders] : packFolders) {
    const std::string source = "pack" + std::to_string(number++);
    for (const std::string& folder : folders) {
      WriteFile(root_ / "packsrc" / source / folder / "drv.inf", InfText("PCI\\VEN_8086&DEV_15D7"));
      WriteFile(root_ / "packsrc" / source / folder / "drv.sys", "driver in " + folder + "\n");
    }
    std::set<std::string> tops;
    for (const std::string& folder : folders) tops.insert(folder.substr(0, folder.find('/')));
    ASSERT_NO_FATAL_FAILURE(Pack(pack, source, std::vector<std::string>(tops.begin(), tops.end())));
  }
  const auto treeBefore = TreeOutsideWorkingFolder();

  auto program = Start({"/unth"}, "unth-hostile-names", {{"VELMORA_SYSFS", kLaptopSysfs}});
  ASSERT_TRUE(program->Wait()) << "the program did not close by itself";
  EXPECT_EQ(program->ExitCode(), 1) << program->Describe();
  const Log log = LogOf("unth-hostile-names");
  const std::set<std::string> tree = WorkingTree();
  auto logged = [&](const std::string& part) {
    return std::any_of(log.texts.begin(), log.texts.end(),
                       [&](const std::string& text) { return text.find(part) != std::string::npos; });
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.pack + " | " + row.folder);
    switch (row.fate) {
      case Fate::Extracted:
        EXPECT_EQ(tree.count("f Drivers/" + row.placed + "/drv.inf"), 1u);
        EXPECT_EQ(tree.count("f Drivers/" + row.placed + "/drv.sys"), 1u);
        EXPECT_EQ(ReadFile(WorkDir() + "Drivers/" + row.placed + "/drv.sys"), "driver in " + row.folder + "\n");
        break;
      case Fate::PackLeftOut:
      {
        std::string shown = row.pack;  // a log line stays one line
        std::replace(shown.begin(), shown.end(), '\n', '_');
        EXPECT_TRUE(log.Has(Msg("log104", {shown}))) << "the pack is not named";
      }
        break;
      case Fate::IndexLeftOut:
        EXPECT_TRUE(log.Has(Msg("log73", {row.folder + "/drv.inf"}))) << "the INF file is not named";
        EXPECT_EQ(tree.count("f Drivers/" + row.folder + "/drv.sys"), 0u);
        break;
      case Fate::FolderSkipped: {
        std::string shown = row.folder;
        std::replace(shown.begin(), shown.end(), '\n', '_');
        EXPECT_TRUE(logged(Msg("log103", {row.pack, "WARNING: skipped " + shown + "/drv.inf : line break in the name"})));
        break;
      }
    }
  }
  // Nothing but drivers for this machine, each once, and nothing outside the working folder.
  std::size_t driverFiles = 0;
  for (const std::string& entry : tree) {
    if (StartsWith(entry, "f Drivers/") && entry.ends_with("/drv.sys")) ++driverFiles;
    EXPECT_EQ(entry.find('\n'), std::string::npos) << entry;
  }
  EXPECT_EQ(driverFiles, static_cast<std::size_t>(std::count_if(
                             rows.begin(), rows.end(), [](const Row& r) { return r.fate == Fate::Extracted; })));
  EXPECT_EQ(NewEntries(treeBefore, TreeOutsideWorkingFolder()),
            (std::vector<std::string>{"prog/Markers/cmd", "prog/Markers/cmdout", "prog/dp_tavi.ini", "win/dp_tavi"}));
  EXPECT_TRUE(fs::is_empty(root_ / "cwd"));
}

// ---- /unth on a full disk ----

// The working folder on a small file system that has room for the index but not for the
// driver's files: the run says "no space", leaves no empty or half error report, does not claim
// to have prepared drivers, and exits with 1.
TEST_F(EndToEnd, UnthOnAFullDiskSaysSoAndClaimsNothing) {
  if (std::system("unshare -rm sh -c 'mount -t tmpfs tmpfs /mnt' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "cannot mount in a private namespace (unshare)";
  CopyProgram();
  // The driver's file comes first in the pack and does not fit: 7-Zip stops before the INF file.
  std::string noise;
  for (unsigned value = 12345; noise.size() < 256 * 1024;) {
    value = value * 1103515245u + 12345u;
    noise += static_cast<char>(value >> 23);
  }
  WriteFile(root_ / "packsrc/full/L/Net/Intel/Intel.bin", noise);
  WriteFile(root_ / "packsrc/full/L/Net/Intel/Intel.inf", InfText("PCI\\VEN_8086&DEV_15D7"));
  ASSERT_NO_FATAL_FAILURE(Pack("Laptop.7z", "full", {"L"}, {"-mx0"}));
  const fs::path work = root_ / "win" / "dp_tavi";
  const fs::path snapshot = root_ / "record" / "working-folder";
  fs::create_directories(work);
  // The program runs in a private mount namespace with a 96 KB file system as its working folder;
  // what it left there is copied out when it ends.
  const std::string script = "mount -t tmpfs -o size=96k tmpfs '" + work.string() + "' || exit 99; \"$@\"; rc=$?; cp -a '" +
                             work.string() + "' '" + snapshot.string() + "'; exit $rc";
  auto program = Start({"/unth"}, "unth-full", {{"VELMORA_SYSFS", kLaptopSysfs}},
                       {"unshare", "-rm", "sh", "-c", script, "sh"});
  ASSERT_TRUE(program->Wait()) << "the program did not close by itself";
  ASSERT_NE(program->ExitCode(), 99) << "the file system could not be mounted";
  EXPECT_EQ(program->ExitCode(), 1) << program->Describe();
  const Log log = LogOf("unth-full");
  auto logged = [&](const std::string& part) {
    return std::any_of(log.texts.begin(), log.texts.end(),
                       [&](const std::string& text) { return text.find(part) != std::string::npos; });
  };
  // The index step had room: the INF file was found to match.
  EXPECT_EQ(platform::profile::ReadString((snapshot / "DP_Content.ini").string(), "L/Net/Intel/Intel.inf",
                                          "Extract", ""),
            "YES");
  EXPECT_TRUE(logged("No space left on device"));
  EXPECT_FALSE(logged("Command Line Error"));
  EXPECT_FALSE(logged("Cannot use absolute pathnames"));
  EXPECT_FALSE(log.Has(Msg("log82", {WorkDir() + "Drivers/"})));
  EXPECT_TRUE(log.Has(Msg("log108", {WorkDir() + "Drivers/"})));
  // No driver file was left behind, not even a part of one.
  for (const auto& [path, kind] : Tree(snapshot / "Drivers", {})) EXPECT_NE(kind, 'f') << path;
  const fs::path report = snapshot / "DP_TAVI_Error.log";
  if (fs::exists(report)) {
    EXPECT_GT(fs::file_size(report), 0u) << "an empty error report was left";
  }
}

// ---- /unth on the demo packs the program folder ships ----

TEST_F(EndToEnd, UnthOnTheDemoPacksExtractsTheDriversOfTheVirtualMachine) {
  CopyProgram();
  std::set<std::string> packs;
  for (const fs::directory_entry& entry : fs::directory_iterator(prog_ / "demo" / "DP")) {
    fs::copy_file(entry.path(), prog_ / "DP" / entry.path().filename());
    packs.insert(entry.path().filename().string());
  }
  ASSERT_EQ(packs, (std::set<std::string>{"DP_Chipset_demo.7z", "DP_LAN_demo.7z", "DP_MassStorage_demo.7z",
                                          "DP_Sound_demo.7z", "DP_Virtio demo.7z"}));

  auto program = Start({"/unth"}, "unth-demo",
                       {{"VELMORA_SYSFS", std::string(VELMORA_TESTDATA_DIR) + "/sysfs/virtio/sys"}});
  ASSERT_TRUE(program->Wait()) << "the program did not close by itself";
  EXPECT_EQ(program->ExitCode(), 0) << program->Describe();
  const Log log = LogOf("unth-demo");
  EXPECT_TRUE(log.other.empty()) << "unexpected line on standard error: " << log.other.front();

  // The driver folders for the virtual machine's devices, by pack.
  const std::map<std::string, std::set<std::string>> matching = {
      {"DP_Chipset_demo.7z",
       {"D/C/Intel/1/q35chip", "D/C/ACPI/1/acpisys", "D/C/ACPI/2/serial", "D/C/ACPI/3/ps2kbd"}},
      {"DP_Virtio demo.7z",
       {"D/V/RedHat/1/virtio_net", "D/V/RedHat/2/virtio_blk", "D/V/RedHat/4/virtio_balloon",
        "D/V/RedHat/6/virtio_rng", "D/V/RedHat/7/virtio_vsock"}},
  };
  std::set<std::string> expectedInfs;
  for (const auto& [pack, drivers] : matching) {
    for (const std::string& driver : drivers) expectedInfs.insert(driver + ".inf");
  }
  const std::string index = WorkDir() + "DP_Content.ini";
  std::set<std::string> extractYes;
  for (const std::string& section : platform::profile::ReadSectionNames(index)) {
    if (platform::profile::ReadString(index, section, "Extract", "NO") == "YES") extractYes.insert(section);
  }
  EXPECT_EQ(extractYes, expectedInfs);
  EXPECT_EQ(platform::profile::ReadString(index, "D/V/RedHat/1/virtio_net.inf", "Found Pattern", ""),
            "PCI\\VEN_1AF4&DEV_1041");
  EXPECT_EQ(platform::profile::ReadString(index, "D/V/RedHat/1/virtio_net.inf", "PackName", ""),
            "DP_Virtio demo.7z");

  // Each pack's list file names its matching folders; the pack with a blank in its name was
  // extracted by its list too: the matching folders hold their driver files, the others only the
  // INF file the index took.
  const std::set<std::string> tree = WorkingTree();
  std::size_t driverFiles = 0;
  for (const std::string& pack : packs) {
    SCOPED_TRACE(pack);
    const auto it = matching.find(pack);
    const std::set<std::string> drivers = it == matching.end() ? std::set<std::string>{} : it->second;
    std::set<std::string> folders;
    for (const std::string& driver : drivers)
      folders.insert(fs::path(driver).parent_path().string() + "/*.*");
    const std::vector<std::string> lines = SplitLines(ReadFile(WorkDir() + pack + ".txt"));
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()), folders);
    for (const std::string& driver : drivers) EXPECT_EQ(tree.count("f Drivers/" + driver + ".sys"), 1u) << driver;
  }
  for (const std::string& entry : tree) {
    if (entry.size() > 4 && entry.compare(entry.size() - 4, 4, ".sys") == 0) ++driverFiles;
  }
  EXPECT_EQ(driverFiles, expectedInfs.size()) << "driver files of folders that did not match were extracted";

  // The installer read exactly the chosen driver packages, and found the virtio network
  // adapter's driver.
  std::set<std::string> packages;
  std::set<std::string> expectedPackages;
  for (const std::string& inf : expectedInfs) expectedPackages.insert(WorkDir() + "Drivers/" + inf);
  for (const std::string& line : log.texts) {
    if (StartsWith(line, "Driver package: ")) packages.insert(line.substr(16));
  }
  EXPECT_EQ(packages, expectedPackages);
  EXPECT_TRUE(std::any_of(log.texts.begin(), log.texts.end(), [](const std::string& line) {
    return line.find("Serves present device: PCI\\VEN_1AF4&DEV_1041") != std::string::npos;
  }));
}

// ---- /unth on an offline Windows: the drivers placed on its volume and registered ----

#ifdef VELMORA_HAVE_HIVEX
TEST_F(EndToEnd, UnthOnAnOfflineWindowsPlacesAndRegistersTheDriversOnceOnly) {
  CopyProgram();
  for (const fs::directory_entry& entry : fs::directory_iterator(prog_ / "demo" / "DP"))
    fs::copy_file(entry.path(), prog_ / "DP" / entry.path().filename());
  // A made-up Windows 10 volume: its two hives made by the test, Windows' own INF folder.
  const fs::path volume = root_ / "vol";
  const fs::path windows = volume / "Windows";
  const fs::path software = windows / "System32/config/SOFTWARE";
  const std::string nt = R"(Microsoft\Windows NT\CurrentVersion)";
  ASSERT_TRUE(test_hive::MakeHive(software, {{nt, "CurrentVersion", hive_t_REG_SZ, "6.3"},
                                             {nt, "CurrentBuildNumber", hive_t_REG_SZ, "19045"},
                                             {R"(Microsoft\Windows\CurrentVersion)", "DevicePath",
                                              hive_t_REG_EXPAND_SZ, R"(%SystemRoot%\inf)"}}));
  ASSERT_TRUE(test_hive::MakeHive(windows / "System32/config/SYSTEM", {}));
  WriteFile(windows / "INF/machine.inf", "[Version]\r\n");
  const std::string original = ReadFile(software);
  const std::map<std::string, std::string> env = {
      {"VELMORA_SYSFS", std::string(VELMORA_TESTDATA_DIR) + "/sysfs/virtio/sys"},
      {"VELMORA_WINDIR", windows.string()}};

  auto program = Start({"/unth"}, "unth-offline", env);
  ASSERT_TRUE(program->Wait()) << "the program did not close by itself";
  EXPECT_EQ(program->ExitCode(), 0) << program->Describe();
  Log log = LogOf("unth-offline");
  auto logged = [&log](const std::string& start) {
    return std::any_of(log.texts.begin(), log.texts.end(),
                       [&](const std::string& line) { return line.rfind(start, 0) == 0; });
  };
  EXPECT_TRUE(logged("Offline Windows installation: " + windows.string()));
  EXPECT_TRUE(logged("Registry updated: " + software.string()));
  EXPECT_TRUE(logged("Backup of the hive: " + software.string() + ".velmora-backup"));
  EXPECT_TRUE(logged("RunOnce \"Velmora drivers\" after: %SystemRoot%\\System32\\pnputil.exe /add-driver"));

  // The chosen drivers, with their driver files, on the volume and named in DevicePath.
  const fs::path placed = volume / "Drivers/Velmora";
  const auto values = test_hive::ReadValues(software, R"(Microsoft\Windows\CurrentVersion)");
  ASSERT_EQ(values.count("DevicePath"), 1u);
  const std::string devicePath = values.at("DevicePath").second;
  EXPECT_EQ(values.at("DevicePath").first, hive_t_REG_EXPAND_SZ);
  EXPECT_EQ(devicePath.rfind(R"(%SystemRoot%\inf;)", 0), 0u) << devicePath;
  const std::map<std::string, char> onVolume = Tree(placed, {});
  for (const char* driver : {"D/V/RedHat/1/virtio_net", "D/V/RedHat/2/virtio_blk", "D/C/Intel/1/q35chip"}) {
    SCOPED_TRACE(driver);
    const std::string sys = std::string(driver) + ".sys";
    const auto found = std::find_if(onVolume.begin(), onVolume.end(), [&](const auto& entry) {
      return entry.first.size() >= sys.size() && entry.first.compare(entry.first.size() - sys.size(), sys.size(), sys) == 0;
    });
    ASSERT_NE(found, onVolume.end());
    std::string folder = R"(%SystemDrive%\Drivers\Velmora\)" + fs::path(found->first).parent_path().string();
    std::replace(folder.begin(), folder.end(), '/', '\\');
    EXPECT_NE((devicePath + ";").find(folder + ";"), std::string::npos) << devicePath;
  }
  const auto runOnce = test_hive::ReadValues(software, R"(Microsoft\Windows\CurrentVersion\RunOnce)");
  ASSERT_EQ(runOnce.count("Velmora drivers"), 1u);
  EXPECT_EQ(runOnce.at("Velmora drivers").second,
            R"(%SystemRoot%\System32\pnputil.exe /add-driver "%SystemDrive%\Drivers\Velmora\*.inf" /subdirs /install)");
  EXPECT_EQ(ReadFile(software.string() + ".velmora-backup"), original);
  // Outside the working folder and the drivers' folder only the hive and its backup changed.
  const std::map<std::string, char> outside = Tree(volume, {"Windows/dp_tavi", "Drivers/Velmora"});
  std::set<std::string> files;
  for (const auto& [path, kind] : outside) {
    if (kind == 'f') files.insert(path);
  }
  EXPECT_EQ(files, (std::set<std::string>{"Windows/INF/machine.inf", "Windows/System32/config/SOFTWARE",
                                          "Windows/System32/config/SOFTWARE.velmora-backup",
                                          "Windows/System32/config/SYSTEM"}));

  // A second run changes nothing.
  const std::string after = ReadFile(software);
  program = Start({"/unth"}, "unth-offline-again", env);
  ASSERT_TRUE(program->Wait()) << "the program did not close by itself";
  EXPECT_EQ(program->ExitCode(), 0) << program->Describe();
  log = LogOf("unth-offline-again");
  EXPECT_TRUE(logged("Registry unchanged: it already names these driver packages."));
  EXPECT_EQ(ReadFile(software), after);
  EXPECT_EQ(ReadFile(software.string() + ".velmora-backup"), original);
  EXPECT_EQ(Tree(placed, {}), onVolume);
}
#endif

// ---- both forms of the archive tool: 7-Zip 9.20's and that of 7-Zip 15 and later ----

TEST_F(EndToEnd, BothFormsOfTheArchiveToolGiveTheSameIndexExtractionAndUnpacking) {
  CopyProgram();
  struct Driver {
    const char* pack;
    const char* folder;
    std::string inf;
  };
  const std::vector<Driver> drivers = {
      {"lap", "L/Net/Intel", InfText("PCI\\VEN_8086&DEV_15D7&SUBSYS_225D17AA")},
      {"lap", "L/Net/Other", InfText("PCI\\VEN_10EC&DEV_8168")},
      {"lap", "L/Audio/HDA", Utf16Le(InfText("HDAUDIO\\FUNC_01&VEN_10EC&DEV_0257&SUBSYS_17AA225D"))},
      {"usb", "U/Logi", InfText("usb\\vid_046d&pid_c52b&mi_01")},
      {"usb", "U/Cam", InfText("USB\\VID_9999&PID_0001")},
  };
  for (const Driver& d : drivers) {
    const std::string leaf = fs::path(d.folder).filename().string();
    WriteFile(root_ / "packsrc" / d.pack / d.folder / (leaf + ".inf"), d.inf);
    WriteFile(root_ / "packsrc" / d.pack / d.folder / (leaf + ".sys"), "payload of " + leaf + "\n");
  }
  ASSERT_NO_FATAL_FAILURE(Pack("Laptop Drivers.7z", "lap", {"L"}));
  ASSERT_NO_FATAL_FAILURE(Pack("usb.7z", "usb", {"U"}));

  // What one run leaves: the index, the list files and the working folder after the selective
  // extraction, and the working folder after unpacking the packs whole.
  struct Result {
    std::string index;
    std::string lists;
    std::set<std::string> extracted;
    std::set<std::string> unpacked;
    std::vector<std::string> log;
  };
  auto run = [&](const char* style) {
    Result result;
    const fs::path win = root_ / (std::string("win-") + (*style ? style : "default"));
    fs::create_directories(win);
    setenv("VELMORA_WINDIR", win.c_str(), 1);
    setenv("VELMORA_7Z_STYLE", style, 1);
    const fs::path work = win / "dp_tavi";
    auto tree = [&] {
      std::set<std::string> lines;
      for (const auto& [path, kind] : Tree(work, {})) lines.insert(std::string(1, kind) + " " + path);
      return lines;
    };
    {
      QuietUi ui;
      TMainfrm main(ui, AppEnvironment{(prog_ / "Velmora_TAVI").string(), {}});
      main.FormCreate();
      main.Form().SetAllChecked("PacksChlbx", true);
      main.Form().SetItems("HWIDSforWorkcbx",
                           {"PCI\\VEN_8086&DEV_15D7&SUBSYS_225D17AA&REV_21\\3&1",
                            "HDAUDIO\\FUNC_01&VEN_10EC&DEV_0257&SUBSYS_17AA225D&REV_1000\\4&2",
                            "USB\\VID_046D&PID_C52B&MI_01\\7&3"});
      main.SearchByHWIDSbtnClick();
      main.Form().SetAllChecked("HWIDS2Installchb", true);
      main.InstallHWIDsbtnClick();
      result.index = ReadFile(work / "DP_Content.ini");
      result.lists = ReadFile(work / "DP_Extract.ini") + ReadFile(work / "Laptop Drivers.7z.txt") +
                     ReadFile(work / "usb.7z.txt");
      result.extracted = tree();
      main.SetCaption("CMDUnpackMethoded", "2");
      main.RunWithOutputClick();
      result.unpacked = tree();
      EXPECT_TRUE(ui.shown.empty()) << ui.shown.front();
      for (const std::string& line : main.Form().Lines("LogLbx").ToVector()) result.log.push_back(line.substr(22));
      main.FormDestroy();
    }
    return result;
  };
  const std::string oldWindir = std::getenv("VELMORA_WINDIR") != nullptr ? std::getenv("VELMORA_WINDIR") : "";
  const Result older = run("");
  const Result newer = run("modern");
  unsetenv("VELMORA_7Z_STYLE");
  if (oldWindir.empty())
    unsetenv("VELMORA_WINDIR");
  else
    setenv("VELMORA_WINDIR", oldWindir.c_str(), 1);

  // The older form as the reference: it found the machine's three drivers.
  for (const char* folder : {"L/Net/Intel", "L/Audio/HDA", "U/Logi"}) {
    const std::string leaf = fs::path(folder).filename().string();
    EXPECT_EQ(older.extracted.count("f Drivers/" + std::string(folder) + "/" + leaf + ".sys"), 1u) << folder;
  }
  EXPECT_EQ(older.extracted.count("f Drivers/L/Net/Other/Other.sys"), 0u);
  EXPECT_EQ(older.unpacked.count("f Drivers/L/Net/Other/Other.sys"), 1u);
  // The newer form gives the very same.
  EXPECT_EQ(newer.index, older.index);
  EXPECT_EQ(newer.lists, older.lists);
  EXPECT_EQ(newer.extracted, older.extracted);
  EXPECT_EQ(newer.unpacked, older.unpacked);

  // Each run learnt its tool's kind once, from the banner, and ran the command lines of that kind.
  auto count = [](const std::vector<std::string>& log, const std::string& prefix, const std::string& suffix) {
    return std::count_if(log.begin(), log.end(), [&](const std::string& t) {
      return StartsWith(t, prefix) && t.size() >= suffix.size() &&
             t.compare(t.size() - suffix.size(), suffix.size(), suffix) == 0;
    });
  };
  const std::string archiveTool = Msg("log97", {""});
  EXPECT_EQ(count(older.log, archiveTool + "7-Zip [32] 9.20 ", ""), 1);
  EXPECT_EQ(count(newer.log, archiveTool + "7-Zip ", ""), 1);
  EXPECT_EQ(count(newer.log, archiveTool + "7-Zip [32] 9.20 ", ""), 0);
  const std::string commandLine = Msg("log23", {"7z x "});
  EXPECT_EQ(count(older.log, commandLine, " -y"), 2 + 2 + 2);
  EXPECT_EQ(count(newer.log, commandLine, " -y -bb1"), 2 + 2 + 2);
  EXPECT_EQ(count(newer.log, "Extracting archive: ", ""), 6);
  EXPECT_EQ(count(older.log, "Extracting archive", ""), 0);
}

// ---- both unpack methods with the real archive tool of the program folder ----

TEST_F(EndToEnd, BothUnpackMethodsPutThePacksUnderTheWorkingFolder) {
  CopyProgram();
  ASSERT_NO_FATAL_FAILURE(GoodPacks());
  ASSERT_NO_FATAL_FAILURE(CorruptPack());
  ASSERT_NO_FATAL_FAILURE(HostilePack());
  const std::string oldWindir = std::getenv("VELMORA_WINDIR") != nullptr ? std::getenv("VELMORA_WINDIR") : "";
  for (const char* method : {"1", "2"}) {
    SCOPED_TRACE(std::string("method ") + method);
    const fs::path win = root_ / (std::string("win-method") + method);
    fs::create_directories(win);
    setenv("VELMORA_WINDIR", win.c_str(), 1);
    const std::string workFolder = std::string("win-method") + method + "/dp_tavi";
    const auto treeBefore = Tree(root_, {"record", workFolder});
    {
      QuietUi ui;
      TMainfrm main(ui, AppEnvironment{(prog_ / "Velmora_TAVI").string(), {}});
      main.FormCreate();
      main.Form().SetAllChecked("PacksChlbx", true);
      main.SetCaption("CMDUnpackMethoded", method);
      main.RunWithOutputClick();
      EXPECT_TRUE(ui.shown.empty()) << ui.shown.front();
      main.FormDestroy();
    }
    // The packs lie in the drivers folder of the working folder.
    const fs::path work = win / "dp_tavi" / "Drivers";
    EXPECT_EQ(ReadFile(work / "Drivers/Net/net.sys"), std::string(3000, 'N'));
    EXPECT_EQ(ReadFile(work / "Drivers/Net/read me.txt"), "notes\n");
    EXPECT_EQ(ReadFile(work / "Video/vid.dll"), "video driver\n");
    EXPECT_TRUE(fs::exists(work / "Broken/fine.inf"));
    EXPECT_FALSE(fs::exists(work / "Broken/broken.sys"));
    EXPECT_EQ(ReadFile(work / "link_dir/payload.txt"), "payload\n");
    EXPECT_FALSE(fs::is_symlink(work / "link_dir"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(work / "link_out")));
    // The tool's output of the last pack stays in the output file beside the program.
    EXPECT_NE(ReadFile(prog_ / "Markers/cmdout").find("Extracting  "), std::string::npos);
    const std::set<std::string> allowed = {workFolder, "prog/dp_tavi.ini", "prog/Markers/cmd",
                                           "prog/Markers/cmdout"};
    for (const std::string& entry : NewEntries(treeBefore, Tree(root_, {"record", workFolder}))) {
      EXPECT_EQ(allowed.count(entry), 1u) << "written outside the working folder: " << entry;
    }
    EXPECT_FALSE(fs::exists(win / "up.txt"));
    EXPECT_FALSE(fs::exists(root_ / "upup.txt"));
    EXPECT_FALSE(fs::exists(absoluteTarget_));
    EXPECT_FALSE(fs::exists(fs::symlink_status(root_ / "outside-file.txt")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(root_ / "outside-dir")));
  }
  if (oldWindir.empty())
    unsetenv("VELMORA_WINDIR");
  else
    setenv("VELMORA_WINDIR", oldWindir.c_str(), 1);
}

}  // namespace
