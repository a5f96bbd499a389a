#include "platform/files.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/process.h"
#include "support/temp_dir.h"
#ifdef _WIN32
#include <windows.h>
// The platform layer's names, not the system's macros.
#undef CreateDirectory
#undef DeleteFile
#undef GetDriveType
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/posix/mount_info.h"
#endif

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// A path written with '/' as the target writes it.
std::string OnTarget(std::string path) {
  if (kWindows) std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

#ifndef _WIN32
// Sets (or with nullopt removes) an environment variable for the life of the object.
class EnvVar {
 public:
  EnvVar(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~EnvVar() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  EnvVar(const EnvVar&) = delete;
  EnvVar& operator=(const EnvVar&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};
#endif

std::vector<std::string> Sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> Names(const std::vector<platform::DirEntry>& entries) {
  std::vector<std::string> names;
  for (const auto& entry : entries) names.push_back(entry.name);
  return Sorted(names);
}

TEST(PathTextTest, SplitsAtEitherSeparator) {
  struct Case {
    std::string path, folder, name, native;
  };
  const std::vector<Case> cases = {
      {"C:\\Packs\\a.7z", "C:\\Packs\\", "a.7z", "C:/Packs/a.7z"},
      {"/work/dir/file.ini", "/work/dir/", "file.ini", "/work/dir/file.ini"},
      {"/mixed\\sub/x", "/mixed\\sub/", "x", "/mixed/sub/x"},
      {"folder\\", "folder\\", "", "folder/"},
      {"plain", "", "plain", "plain"},
      {"", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(platform::ExtractFilePath(c.path), c.folder);
    EXPECT_EQ(platform::ExtractFileName(c.path), c.name);
    EXPECT_EQ(platform::NativePath(c.path), OnTarget(c.native));
  }
  EXPECT_EQ(platform::PathSeparator(), kWindows ? '\\' : '/');
}

class FilesTest : public ::testing::Test {
 protected:
  TempDir temp;
};

TEST_F(FilesTest, ExistenceTellsFilesFromFolders) {
  const std::string file = temp.Write("f.txt", "x");
  const std::string folder = temp.MakeDir("sub");
  EXPECT_TRUE(platform::FileExists(file));
  EXPECT_FALSE(platform::DirectoryExists(file));
  EXPECT_TRUE(platform::DirectoryExists(folder));
  EXPECT_FALSE(platform::FileExists(folder));
  EXPECT_FALSE(platform::FileExists(temp.File("missing")));
  EXPECT_FALSE(platform::DirectoryExists(temp.File("missing")));
  EXPECT_FALSE(platform::FileExists(""));
  // Backslashes are separators.
  EXPECT_TRUE(platform::FileExists(temp.path() + "sub\\..\\f.txt"));
}

TEST_F(FilesTest, TrailingBlanksAndDotsAreIgnoredAsOnWindows) {
  const std::string pack = temp.Write("Graphics.7z", "data");
  for (const std::string suffix : {" ", "  ", ".", ". .", " ."}) {
    SCOPED_TRACE("[" + suffix + "]");
    EXPECT_TRUE(platform::FileExists(pack + suffix));
    // Windows gives the 8.3 form of the folders above, Linux the path itself.
    EXPECT_EQ(platform::ShortPathName(pack + suffix), kWindows ? platform::ShortPathName(pack) : pack);
    EXPECT_EQ(platform::ReadWholeFile(pack + suffix), "data");
    EXPECT_EQ(platform::FileSize(pack + suffix), 4);
  }
  temp.MakeDir("Packs");
  EXPECT_TRUE(platform::DirectoryExists(temp.File("Packs.")));
  EXPECT_FALSE(platform::FileExists(temp.File("Graphics.7z x")));
#ifndef _WIN32
  // A name that really ends in a blank is taken as spelled. (Windows cuts the blank off every
  // name it creates, so no such file exists there.)
  const std::string blank = temp.Write("Sound.7z ", "blank");
  temp.Write("Sound.7z", "plain");
  EXPECT_EQ(platform::ReadWholeFile(blank), "blank");
  EXPECT_EQ(platform::ShortPathName(blank), "\"" + blank + "\"");
#endif
  EXPECT_TRUE(platform::DeleteFile(temp.File("Graphics.7z ")));
  EXPECT_FALSE(temp.Exists("Graphics.7z"));
}

TEST_F(FilesTest, CreateDirectoryReportsWindowsStyleCodes) {
  EXPECT_EQ(platform::CreateDirectory(temp.File("one")), 0u);
  EXPECT_EQ(platform::CreateDirectory(temp.File("one")), 183u);
  EXPECT_EQ(platform::CreateDirectory(temp.path() + "one\\"), 183u);
  // The system's code: ENOENT on Linux, ERROR_PATH_NOT_FOUND on Windows.
  EXPECT_EQ(platform::CreateDirectory(temp.File("no/such/parent")), kWindows ? 3u : 2u);
  EXPECT_TRUE(platform::ForceDirectories(temp.path() + "deep\\er/still\\"));
  EXPECT_TRUE(platform::DirectoryExists(temp.File("deep/er/still")));
  temp.Write("blocker", "");
  EXPECT_FALSE(platform::ForceDirectories(temp.File("blocker/below")));
}

TEST_F(FilesTest, DeleteFileRemovesFilesOnly) {
  const std::string file = temp.Write("gone.txt", "x");
  EXPECT_TRUE(platform::DeleteFile(file));
  EXPECT_FALSE(temp.Exists("gone.txt"));
  EXPECT_FALSE(platform::DeleteFile(file));
  EXPECT_EQ(platform::LastSystemError(), 2u);
  temp.MakeDir("folder");
  EXPECT_FALSE(platform::DeleteFile(temp.File("folder")));
  EXPECT_TRUE(temp.Exists("folder"));
}

TEST_F(FilesTest, SystemErrorMessageCarriesTextAndCode) {
#ifdef _WIN32
  // The system's text, which differs between Windows ("The system cannot find the file
  // specified") and Wine ("File not found"): some text, without the final full stop.
  const std::string message = platform::SystemErrorMessage(2);
  ASSERT_GT(message.size(), std::string(". (2)").size()) << message;
  EXPECT_EQ(message.substr(message.size() - 4), " (2)") << message;
  EXPECT_NE(message[message.size() - 5], '.') << message;
  EXPECT_EQ(message.find("Unknown error"), std::string::npos) << message;
#else
  EXPECT_EQ(platform::SystemErrorMessage(2), "No such file or directory (2)");
#endif
}

TEST_F(FilesTest, ListDirectoryMatchesIgnoringCase) {
  temp.Write("a.7z", "");
  temp.Write("b.7Z", "");
  temp.Write("c.zip", "");
  temp.Write("a.7z.bak", "");
  temp.Write(".hidden.7z", "");
#ifdef _WIN32
  // Hidden is an attribute on Windows, a leading dot on Linux.
  ASSERT_TRUE(SetFileAttributesA(temp.File(".hidden.7z").c_str(), FILE_ATTRIBUTE_HIDDEN));
#endif
  temp.MakeDir("folder.7z");
  struct Case {
    std::string pattern;
    std::vector<std::string> names;
  };
  const std::vector<Case> cases = {
      {"*.7z", {".hidden.7z", "a.7z", "b.7Z", "folder.7z"}},
      {"*.7Z", {".hidden.7z", "a.7z", "b.7Z", "folder.7z"}},
      {"?.7z", {"a.7z", "b.7Z"}},
      {"A*", {"a.7z", "a.7z.bak"}},
      {"*.zip", {"c.zip"}},
      {"*", {".hidden.7z", "a.7z", "a.7z.bak", "b.7Z", "c.zip", "folder.7z"}},
      {"*.*", {".hidden.7z", "a.7z", "a.7z.bak", "b.7Z", "c.zip", "folder.7z"}},
      {"*.rar", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(Names(platform::ListDirectory(temp.path(), c.pattern)), Sorted(c.names));
  }
  // Windows-style folder text with a trailing backslash.
  EXPECT_EQ(Names(platform::ListDirectory(temp.path() + "\\", "?.7z")), Sorted({"a.7z", "b.7Z"}));
  EXPECT_TRUE(platform::ListDirectory(temp.File("missing"), "*").empty());

  for (const auto& entry : platform::ListDirectory(temp.path(), "*")) {
    SCOPED_TRACE(entry.name);
    EXPECT_EQ(entry.isDirectory, entry.name == "folder.7z");
    EXPECT_EQ(entry.directoryOnly, entry.name == "folder.7z");
    EXPECT_EQ(entry.hidden, entry.name == ".hidden.7z");
  }
}

TEST_F(FilesTest, ShortPathNameQuotesBlanks) {
#ifdef _WIN32
  // Windows gives the system's 8.3 form: no blank left, and it names the same file.
  const std::string blank = temp.Write("with blank.7z", "x");
  // A volume without 8.3 names gives the long form back, quoted: either way it is one word of a
  // command line, naming the same file.
  const std::string shortName = platform::ShortPathName(blank);
  const std::vector<std::string> words = platform::process::SplitCommandLine("7z x " + shortName + " -y");
  ASSERT_EQ(words.size(), 4u) << shortName;
  EXPECT_EQ(platform::ReadWholeFile(words[2]), "x");
  if (shortName.find(' ') != std::string::npos) {
    EXPECT_EQ(shortName, "\"" + blank + "\"");
  }
  EXPECT_EQ(platform::ShortPathName(temp.File("missing.7z")), "");
#else
  const std::string plain = temp.Write("plain.7z", "");
  const std::string blank = temp.Write("with blank.7z", "");
  temp.MakeDir("a folder");
  EXPECT_EQ(platform::ShortPathName(plain), plain);
  EXPECT_EQ(platform::ShortPathName(blank), "\"" + blank + "\"");
  EXPECT_EQ(platform::ShortPathName(temp.path() + "a folder"), "\"" + temp.path() + "a folder\"");
  temp.MakeDir("sub");
  EXPECT_EQ(platform::ShortPathName(temp.path() + "sub\\..\\plain.7z"), temp.path() + "sub/../plain.7z");
  EXPECT_EQ(platform::ShortPathName(temp.File("missing.7z")), "");
  temp.Write("quote\".7z", "");
  EXPECT_EQ(platform::ShortPathName(temp.File("quote\".7z")), "");
#endif
}

TEST_F(FilesTest, DriveTypeOverrideFromEnvironment) {
#ifdef _WIN32
  // Windows asks the system and reads no override; the test folder is on a fixed disk.
  EXPECT_EQ(platform::GetDriveType(temp.path()), platform::DriveType::Fixed);
#else
  for (int code = 0; code <= 6; ++code) {
    EnvVar forced("VELMORA_DRIVE_TYPE", std::to_string(code));
    EXPECT_EQ(platform::GetDriveType(temp.path()), static_cast<platform::DriveType>(code));
  }
  EnvVar none("VELMORA_DRIVE_TYPE", std::nullopt);
  const platform::DriveType actual = platform::GetDriveType(temp.path());
  EXPECT_NE(actual, platform::DriveType::Unknown);
  for (const char* invalid : {"7", "-1", "x", "33", ""}) {
    SCOPED_TRACE(invalid);
    EnvVar forced("VELMORA_DRIVE_TYPE", std::string(invalid));
    EXPECT_EQ(platform::GetDriveType(temp.path()), actual);
  }
#endif
}

TEST_F(FilesTest, DriveOfPathIsTheMountHoldingIt) {
#ifdef _WIN32
  // Windows: the drive letter or the network share.
  EXPECT_EQ(platform::DriveOfPath(temp.path()), temp.path().substr(0, 2));
  EXPECT_EQ(platform::DriveOfPath("c:\\Packs\\a.7z"), "c:");
  EXPECT_EQ(platform::DriveOfPath("\\\\server\\share\\Packs\\a.7z"), "\\\\server\\share");
#else
  const std::string mount = platform::DriveOfPath(temp.path());
  ASSERT_FALSE(mount.empty());
  const std::string resolved = fs::canonical(temp.path()).string();
  EXPECT_EQ(resolved.compare(0, mount.size(), mount), 0) << mount << " does not hold " << resolved;
  // A path that does not exist yet belongs to the mount of its nearest existing folder.
  EXPECT_EQ(platform::DriveOfPath(temp.File("not/yet/there")), mount);
  EXPECT_EQ(platform::DriveOfPath("/proc/self"), "/proc");
#endif
}

#ifdef _WIN32
TEST(MountInfoTest, LinuxOnly) { GTEST_SKIP() << "the mount table and sysfs exist on Linux only"; }
#else
TEST(MountInfoTest, ParsesEntriesAndFindsTheHoldingMount) {
  const std::string table =
      "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
      "30 22 0:25 / /dev/shm rw,nosuid master:2 shared:3 - tmpfs tmpfs rw\n"
      "31 22 11:0 / /media/cd\\040rom ro - iso9660 /dev/sr0 ro\n"
      "32 22 0:40 / /mnt/share rw - cifs //server/share rw\n"
      "33 22 0:41 / /mnt/ssh rw - fuse.sshfs me@host:/ rw\n"
      "34 22 8:17 / /media/stick rw - vfat /dev/sdb1 rw\n"
      "35 22 0:42 / /mnt/share rw - nfs4 server:/over rw\n"
      "garbage line\n"
      "36 22 x:y / /bad rw - ext4 /dev/x rw\n";
  const auto mounts = platform::posix::ParseMountInfo(table);
  ASSERT_EQ(mounts.size(), 7u);
  EXPECT_EQ(mounts[2].mountPoint, "/media/cd rom");
  EXPECT_EQ(mounts[1].fsType, "tmpfs");
  EXPECT_EQ(mounts[3].source, "//server/share");
  EXPECT_EQ(mounts[5].major, 8u);
  EXPECT_EQ(mounts[5].minor, 17u);

  struct Case {
    std::string path, mountPoint;
  };
  const std::vector<Case> cases = {
      {"/", "/"},
      {"/home/user", "/"},
      {"/dev/shm", "/dev/shm"},
      {"/dev/shm/x", "/dev/shm"},
      {"/dev/shmem", "/"},  // a name that merely starts like the mount point
      {"/media/cd rom/setup.exe", "/media/cd rom"},
      {"/mnt/share/a", "/mnt/share"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const auto* mount = platform::posix::FindMount(mounts, c.path);
    ASSERT_NE(mount, nullptr);
    EXPECT_EQ(mount->mountPoint, c.mountPoint);
  }
  // Mounted on top of the cifs share: the later entry wins.
  EXPECT_EQ(platform::posix::FindMount(mounts, "/mnt/share")->fsType, "nfs4");
  EXPECT_EQ(platform::posix::FindMount({}, "/x"), nullptr);
}

TEST(MountInfoTest, ClassifiesMountsAsWindowsDriveTypes) {
  TempDir sys;
  // sysfs as the kernel lays it out: dev/block/<major>:<minor> links to the device folder,
  // a partition sits inside its disk, which carries the removable flag.
  sys.Write("block/sdb/removable", "1\n");
  sys.Write("block/sdb/sdb1/partition", "1\n");
  sys.Write("block/sda/removable", "0\n");
  sys.Write("block/sda/sda1/partition", "1\n");
  sys.Write("block/sdc/removable", "1\n");
  sys.MakeDir("dev/block");
  fs::create_directory_symlink("../../block/sdb/sdb1", sys.File("dev/block/8:17"));
  fs::create_directory_symlink("../../block/sda/sda1", sys.File("dev/block/8:1"));
  fs::create_directory_symlink("../../block/sdc", sys.File("dev/block/8:32"));
  const std::string root = sys.path().substr(0, sys.path().size() - 1);

  using platform::DriveType;
  struct Case {
    std::string type;
    unsigned major, minor;
    DriveType expected;
  };
  const std::vector<Case> cases = {
      {"iso9660", 11, 0, DriveType::CdRom},  {"udf", 11, 0, DriveType::CdRom},
      {"nfs", 0, 40, DriveType::Remote},     {"nfs4", 0, 40, DriveType::Remote},
      {"cifs", 0, 40, DriveType::Remote},    {"smb3", 0, 40, DriveType::Remote},
      {"sshfs", 0, 40, DriveType::Remote},   {"fuse.sshfs", 0, 40, DriveType::Remote},
      {"tmpfs", 0, 25, DriveType::RamDisk},  {"ramfs", 0, 25, DriveType::RamDisk},
      {"vfat", 8, 17, DriveType::Removable}, {"ext4", 8, 32, DriveType::Removable},
      {"ext4", 8, 1, DriveType::Fixed},      {"ext4", 9, 9, DriveType::Fixed},
      {"overlay", 0, 30, DriveType::Fixed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type + " " + std::to_string(c.major) + ":" + std::to_string(c.minor));
    platform::posix::MountEntry entry;
    entry.mountPoint = "/m";
    entry.fsType = c.type;
    entry.major = c.major;
    entry.minor = c.minor;
    EXPECT_EQ(platform::posix::ClassifyMount(entry, root), c.expected);
  }
}

#endif

TEST_F(FilesTest, WindowsDirectoryFromEnvironmentCreatedWithoutTrailingSeparator) {
#ifdef _WIN32
  // Windows asks the system: an existing folder, given without a trailing separator.
  const std::string windows = platform::WindowsDirectory();
  ASSERT_GT(windows.size(), 3u);
  EXPECT_NE(windows.back(), '\\');
  EXPECT_TRUE(platform::DirectoryExists(windows));
#else
  {
    EnvVar windir("VELMORA_WINDIR", temp.path() + "win\\");
    EXPECT_EQ(platform::WindowsDirectory(), temp.path() + "win");
    EXPECT_TRUE(temp.Exists("win"));
  }
  {
    EnvVar windir("VELMORA_WINDIR", std::nullopt);
    EnvVar data("XDG_DATA_HOME", temp.path() + "xdg");
    EXPECT_EQ(platform::WindowsDirectory(), temp.path() + "xdg/velmora");
    EXPECT_TRUE(temp.Exists("xdg/velmora"));
  }
  {
    EnvVar windir("VELMORA_WINDIR", std::nullopt);
    EnvVar data("XDG_DATA_HOME", std::nullopt);
    EnvVar home("HOME", temp.path() + "home");
    EXPECT_EQ(platform::WindowsDirectory(), temp.path() + "home/.local/share/velmora");
    EXPECT_TRUE(temp.Exists("home/.local/share/velmora"));
  }
#endif
}

TEST_F(FilesTest, SystemFacts) {
  const std::string program = platform::ProgramFilePath();
  EXPECT_EQ(platform::ExtractFileName(program), kWindows ? "velmora_tests_win32.exe" : "velmora_tests");
  EXPECT_TRUE(platform::FileExists(program));
  EXPECT_EQ(platform::CurrentDirectory(), fs::current_path().string());
  const std::string name = platform::ComputerName();
  EXPECT_FALSE(name.empty());
  EXPECT_EQ(name.find('.'), std::string::npos);
}

TEST_F(FilesTest, ReadTextLinesSplitsAtAnyLineBreak) {
  struct Case {
    std::string content;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"", {}},
      {"one", {"one"}},
      {"one\r\n", {"one"}},
      {"one\r\ntwo\nthree\rfour", {"one", "two", "three", "four"}},
      {"\r\n\r\n", {"", ""}},
      {"a\n\rb", {"a", "", "b"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content);
    EXPECT_EQ(platform::ReadTextLines(temp.Write("lines.txt", c.content)), c.lines);
  }
}

TEST_F(FilesTest, ReadErrorsNameThePathAndTheSystemText) {
  const std::string missing = temp.File("missing.txt");
  try {
    platform::ReadWholeFile(missing);
    FAIL() << "no error";
  } catch (const platform::FileError& error) {
    EXPECT_EQ(error.code(), 2u);
    EXPECT_NE(std::string(error.what()).find(missing), std::string::npos) << error.what();
    const std::string text = kWindows ? platform::SystemErrorMessage(2) : "No such file or directory (2)";
    EXPECT_NE(std::string(error.what()).find(text), std::string::npos) << error.what();
  }
  EXPECT_THROW(platform::ReadTextLines(temp.MakeDir("folder")), platform::FileError);
  // A device is no regular file: /dev/zero would never end, a console would wait for typing.
  EXPECT_THROW(platform::ReadWholeFile(kWindows ? "NUL" : "/dev/zero"), platform::FileError);
  EXPECT_THROW(platform::WriteWholeFile(temp.File("no/folder/x.txt"), "x"), platform::FileError);
}

TEST_F(FilesTest, WriteHelpersReplaceTheFile) {
  const std::string file = temp.Write("out.txt", "old content that is longer");
  platform::WriteTextLines(file, {"one", "", "three"});
  EXPECT_EQ(temp.Read("out.txt"), "one\r\n\r\nthree\r\n");
  platform::WriteWholeFile(file, std::string("bin\0ary", 7));
  EXPECT_EQ(temp.Read("out.txt"), std::string("bin\0ary", 7));
  EXPECT_EQ(platform::FileSize(file), 7);
  EXPECT_EQ(platform::FileSize(temp.File("missing")), -1);
  EXPECT_EQ(platform::FileSize(temp.path()), -1);
}

TEST_F(FilesTest, FileStampNoticesChanges) {
  const std::string file = temp.Write("s.txt", "abc");
  const platform::FileStamp first = platform::GetFileStamp(file);
  EXPECT_EQ(first.size, 3);
  // Nanoseconds since 1970, as the system clock counts: the file was written just now.
  const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  EXPECT_LT(std::llabs(now - first.mtime), std::int64_t{60'000'000'000}) << first.mtime;
  fs::last_write_time(file, fs::last_write_time(file) + std::chrono::seconds(5));
  EXPECT_NE(platform::GetFileStamp(file), first);
  EXPECT_EQ(platform::GetFileStamp(temp.File("missing")), platform::FileStamp{});
}

class AtomicWriteTest : public FilesTest {
 protected:
  // The folder holds exactly these names afterwards: no temporary file is left behind.
  void ExpectFolderHolds(std::vector<std::string> names) {
    std::vector<std::string> actual;
    for (const auto& entry : fs::directory_iterator(temp.path()))
      actual.push_back(entry.path().filename().string());
    EXPECT_EQ(Sorted(actual), Sorted(names));
  }
};

TEST_F(AtomicWriteTest, CreatesAndReplaces) {
  const std::string file = temp.File("new.ini");
  platform::WriteFileAtomically(file, "first");
  EXPECT_EQ(temp.Read("new.ini"), "first");
  platform::WriteFileAtomically(temp.path() + "new.ini", "second, longer");
  EXPECT_EQ(temp.Read("new.ini"), "second, longer");
  platform::WriteFileAtomically(file, "");
  EXPECT_EQ(temp.Read("new.ini"), "");
  ExpectFolderHolds({"new.ini"});
}

TEST_F(AtomicWriteTest, KeepsPermissions) {
#ifdef _WIN32
  // Windows keeps attributes rather than permission bits.
  const std::string file = temp.Write("perm.ini", "old");
  ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_HIDDEN));
  platform::WriteFileAtomically(file, "new");
  EXPECT_EQ(temp.Read("perm.ini"), "new");
  EXPECT_EQ(GetFileAttributesA(file.c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY),
            static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
#else
  const std::string file = temp.Write("perm.ini", "old");
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  platform::WriteFileAtomically(file, "new");
  EXPECT_EQ(temp.Read("perm.ini"), "new");
  EXPECT_EQ(fs::status(file).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
#endif
}

TEST_F(AtomicWriteTest, ReadOnlyTargetStaysUntouched) {
  const std::string file = temp.Write("ro.ini", "precious");
  fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  try {
    platform::WriteFileAtomically(file, "overwritten");
    FAIL() << "no error";
  } catch (const platform::FileError& error) {
    EXPECT_NE(std::string(error.what()).find(file), std::string::npos) << error.what();
  }
  EXPECT_EQ(temp.Read("ro.ini"), "precious");
  ExpectFolderHolds({"ro.ini"});
}

TEST_F(AtomicWriteTest, FailuresThrowAndLeaveNothingBehind) {
  EXPECT_THROW(platform::WriteFileAtomically(temp.File("missing/x.ini"), "x"), platform::FileError);
  temp.MakeDir("folder");
  EXPECT_THROW(platform::WriteFileAtomically(temp.File("folder"), "x"), platform::FileError);
  EXPECT_TRUE(platform::DirectoryExists(temp.File("folder")));
  ExpectFolderHolds({"folder"});
}

// Content made piece by piece comes out as the pieces joined; a producer that fails after its
// first pieces leaves the old content and no temporary file.
TEST_F(AtomicWriteTest, PiecesComeOutJoinedAndAFailingProducerKeepsTheOldContent) {
  const std::string file = temp.Write("log.txt", "old");
  const std::string big(3 << 20, 'b');
  platform::WriteFileAtomically(file, [&](const platform::PieceSink& sink) {
    sink("one ");
    sink("");
    sink(big);
    sink(std::string_view("two\0three", 9));
  });
  EXPECT_EQ(temp.Read("log.txt"), "one " + big + std::string("two\0three", 9));
  platform::WriteFileAtomically(file, [](const platform::PieceSink&) {});
  EXPECT_EQ(temp.Read("log.txt"), "");
  temp.Write("log.txt", "old");
  EXPECT_THROW(platform::WriteFileAtomically(file,
                                             [&](const platform::PieceSink& sink) {
                                               sink(big);
                                               throw std::runtime_error("stopped");
                                             }),
               std::runtime_error);
  EXPECT_EQ(temp.Read("log.txt"), "old");
  ExpectFolderHolds({"log.txt"});
}

TEST_F(AtomicWriteTest, AWriteThatFailsHalfWayKeepsTheOldContent) {
#ifdef _WIN32
  GTEST_SKIP() << "the file size limit that makes the write fail exists on Linux only";
#else
  // A file size limit below the new content makes the write fail after its first bytes, as a
  // full disk would. Writing in place would already have cut the old content off.
  const std::string longer(4096, 'n');
  struct Writer {
    const char* name;
    std::function<void(const std::string&)> write;
  };
  const Writer writers[] = {
      {"WriteFileAtomically", [&](const std::string& file) { platform::WriteFileAtomically(file, longer); }},
      {"WriteTextLinesAtomically",
       [&](const std::string& file) {
         platform::WriteTextLinesAtomically(file, {longer, "two"});
       }},
  };
  for (const Writer& writer : writers) {
    SCOPED_TRACE(writer.name);
    const std::string file = temp.Write("list.txt", "old\r\n");
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 1024;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool threw = false;
    try {
      writer.write(file);
    } catch (const platform::FileError&) {
      threw = true;
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(threw);
    EXPECT_EQ(temp.Read("list.txt"), "old\r\n");
    ExpectFolderHolds({"list.txt"});
  }
#endif
}

TEST_F(AtomicWriteTest, ReplacesTheTargetOfALink) {
#ifdef _WIN32
  GTEST_SKIP() << "symbolic links need extra rights on Windows, and the program never meets them there";
#else
  const std::string target = temp.Write("real.ini", "old");
  fs::create_symlink(target, temp.File("link.ini"));
  platform::WriteFileAtomically(temp.File("link.ini"), "new");
  EXPECT_TRUE(fs::is_symlink(temp.File("link.ini")));
  EXPECT_EQ(temp.Read("real.ini"), "new");
  ExpectFolderHolds({"link.ini", "real.ini"});
#endif
}

// In the link-free folder (the working folder) every kind of write replaces a link with the file;
// elsewhere the atomic write still writes through it.
TEST_F(AtomicWriteTest, InTheLinkFreeFolderALinkIsReplacedNeverWrittenThrough) {
#ifdef _WIN32
  GTEST_SKIP() << "symbolic links need extra rights on Windows, and the program never meets them there";
#else
  const std::string outside = temp.Write("outside/target.txt", "precious");
  const std::string work = temp.MakeDir("work");
  struct Writer {
    const char* name;
    std::function<void(const std::string&)> write;
  };
  const std::vector<Writer> writers = {
      {"whole", [](const std::string& p) { platform::WriteWholeFile(p, "new"); }},
      {"lines", [](const std::string& p) { platform::WriteTextLines(p, {"new"}); }},
      {"atomic", [](const std::string& p) { platform::WriteFileAtomically(p, "new"); }},
      {"atomic lines", [](const std::string& p) { platform::WriteTextLinesAtomically(p, {"new"}); }},
  };
  platform::SetLinkFreeFolder(work);
  for (const Writer& writer : writers) {
    SCOPED_TRACE(writer.name);
    const std::string link = work + writer.name + ".txt";
    fs::create_symlink(outside, link);
    writer.write(link);
    EXPECT_FALSE(fs::is_symlink(link));
    EXPECT_EQ(platform::ReadWholeFile(link).substr(0, 3), "new");
    EXPECT_EQ(temp.Read("outside/target.txt"), "precious");
  }
  // Outside that folder a link is written through, as before.
  fs::create_symlink(outside, temp.File("shared.txt"));
  platform::WriteFileAtomically(temp.File("shared.txt"), "shared");
  platform::SetLinkFreeFolder("");
  EXPECT_TRUE(fs::is_symlink(temp.File("shared.txt")));
  EXPECT_EQ(temp.Read("outside/target.txt"), "shared");
#endif
}

// The start-up sweep for temporary files of writes killed before their rename.
TEST_F(AtomicWriteTest, LeftoversOfKilledWritesAreRemovedAndNothingElse) {
  const auto old = fs::file_time_type::clock::now() - std::chrono::minutes(5);
  auto makeOld = [&](const std::string& name) {
    const std::string path = temp.Write(name, "partial");
    fs::last_write_time(path, old);
    return path;
  };
#ifdef _WIN32
  const std::vector<std::string> leftovers = {"vel1.tmp", "velA2F.tmp", "VEL0b3c.TMP"};
  const std::vector<std::string> others = {"vel.tmp", "vel12345.tmp", "velG1.tmp", "vel12.txt", "dp_tavi.ini",
                                           "xvel12.tmp"};
#else
  const std::vector<std::string> leftovers = {".dp_tavi.ini.tmp-a1B2c3", ".UnpackedDP.txt.tmp-ZZZZZZ",
                                              ".Pack 1.txt.tmp-000000"};
  const std::vector<std::string> others = {".profile.backup", ".dp_tavi.ini.tmp-a1B2c", ".dp_tavi.ini.tmp-a1B2c3d",
                                           "dp_tavi.ini.tmp-a1B2c3", ".tmp-a1B2c3", ".x.tmp-a1B2c!", "dp_tavi.ini"};
#endif
  for (const std::string& name : leftovers) makeOld(name);
  for (const std::string& name : others) makeOld(name);
  EXPECT_EQ(platform::RemoveLeftoverTemporaryFiles(temp.path()), static_cast<int>(leftovers.size()));
  ExpectFolderHolds(others);
  EXPECT_EQ(platform::RemoveLeftoverTemporaryFiles(temp.path()), 0);
  EXPECT_EQ(platform::RemoveLeftoverTemporaryFiles(temp.File("missing")), 0);

  // Left alone: a file made a moment ago, a folder with such a name, and a write still running.
  const std::string young = leftovers[0];
  temp.Write(young, "being written");
  temp.MakeDir(leftovers[1]);
  const std::string running = makeOld(leftovers[2]);
#ifdef _WIN32
  HANDLE held = CreateFileA(running.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
#else
  const int held = ::open(running.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
#endif
  EXPECT_EQ(platform::RemoveLeftoverTemporaryFiles(temp.path()), 0);
#ifdef _WIN32
  CloseHandle(held);
#else
  ::close(held);
#endif
  EXPECT_EQ(temp.Read(young), "being written");
  EXPECT_TRUE(fs::is_directory(temp.File(leftovers[1])));
  EXPECT_EQ(platform::RemoveLeftoverTemporaryFiles(temp.path()), 1);  // the write has ended
  EXPECT_FALSE(fs::exists(running));
}

// The start-up sweep for the staging folders of archive tool runs that were killed.
TEST_F(AtomicWriteTest, StagingFoldersOfKilledExtractionsAreRemovedAndNothingElse) {
#ifdef _WIN32
  EXPECT_EQ(platform::RemoveLeftoverStagingFolders(temp.path()), 0);
#else
  const auto old = fs::file_time_type::clock::now() - std::chrono::minutes(5);
  const std::string victim = temp.Write("outside/victim.inf", "precious");
  struct Case {
    std::string name;
    bool folder;
    bool removed;
  };
  const std::vector<Case> cases = {
      {".velmora-7z-aB3xZ9", true, true},   {".velmora-7z-000000", true, true},
      {".velmora-7z-aB3xZ", true, false},   {".velmora-7z-aB3xZ90", true, false},
      {"velmora-7z-aB3xZ9", true, false},   {".velmora-7z-aB3x.9", true, false},
      {".VELMORA-7Z-aB3xZ9", true, false},  {".velmora-7z-zzzzzz", false, false},
      {".velmora-7z-part-x", true, false},  {"Drivers", true, false},
  };
  for (const Case& c : cases) {
    if (c.folder) {
      temp.Write(c.name + "/files/D/N/net.inf", "staged");
      fs::create_symlink(victim, temp.File(c.name + "/files/D/N/link.inf"));
      fs::create_symlink(temp.File("outside"), temp.File(c.name + "/files/D/out"));
      fs::last_write_time(temp.File(c.name), old);
    } else {
      fs::last_write_time(temp.Write(c.name, "a file"), old);
    }
  }
  int expected = 0;
  for (const Case& c : cases) expected += c.removed ? 1 : 0;
  EXPECT_EQ(platform::RemoveLeftoverStagingFolders(temp.path()), expected);
  for (const Case& c : cases) EXPECT_EQ(fs::exists(temp.File(c.name)), !c.removed) << c.name;
  // Links inside were removed, not followed.
  EXPECT_EQ(temp.Read("outside/victim.inf"), "precious");
  EXPECT_EQ(platform::RemoveLeftoverStagingFolders(temp.path()), 0);
  EXPECT_EQ(platform::RemoveLeftoverStagingFolders(temp.File("missing")), 0);

  // Left alone: a folder made a moment ago, one an archive tool still holds, and a link named so.
  temp.Write(".velmora-7z-young1/files/a.inf", "being extracted");
  const std::string running = temp.MakeDir(".velmora-7z-runnin");
  fs::last_write_time(running, old);
  fs::create_symlink(temp.File("outside"), temp.File(".velmora-7z-linked"));
  const int held = ::open(running.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  EXPECT_EQ(platform::RemoveLeftoverStagingFolders(temp.path()), 0);
  ::close(held);
  EXPECT_TRUE(fs::exists(temp.File(".velmora-7z-young1/files/a.inf")));
  EXPECT_TRUE(fs::exists(temp.File("outside/victim.inf")));
  EXPECT_EQ(platform::RemoveLeftoverStagingFolders(temp.path()), 1);  // the tool has ended
  EXPECT_FALSE(fs::exists(running));
  EXPECT_TRUE(fs::is_symlink(temp.File(".velmora-7z-linked")));
#endif
}

TEST_F(AtomicWriteTest, AWriteKilledHalfWayLeavesAFileTheSweepRemoves) {
#ifdef _WIN32
  GTEST_SKIP() << "killing a write half way uses the file size limit of Linux";
#else
  const std::string file = temp.Write("dp_tavi.ini", "[Program]\r\nInitial=Yes\r\n");
  // A child writes more than its file size limit allows and dies of the signal half way, as a
  // program killed during the write.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    rlimit limit{1024, 1024};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    std::signal(SIGXFSZ, SIG_DFL);
    try {
      platform::WriteFileAtomically(file, std::string(8192, 'x'));
    } catch (...) {
    }
    ::_exit(0);  // not reached: the signal ends the child
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(temp.Read("dp_tavi.ini"), "[Program]\r\nInitial=Yes\r\n");
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(temp.path())) {
    if (entry.path().filename() != "dp_tavi.ini") left.push_back(entry.path().filename().string());
  }
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(platform::RemoveLeftoverTemporaryFiles(temp.path()), 0);  // still young
  fs::last_write_time(temp.File(left[0]), fs::file_time_type::clock::now() - std::chrono::minutes(1));
  EXPECT_EQ(platform::RemoveLeftoverTemporaryFiles(temp.path()), 1);
  ExpectFolderHolds({"dp_tavi.ini"});
#endif
}

TEST_F(FilesTest, ExclusiveFileRefusesASecondOpener) {
  const std::string file = temp.Write("locked.bin", "0123456789");
  {
    platform::ExclusiveFile first(file);
    EXPECT_EQ(first.Size(), 10);
    EXPECT_THROW(platform::ExclusiveFile second(file), platform::FileError);
    first.Seek(2);
    first.Write("ab", 2);
    first.Flush();
    first.Close();
    platform::ExclusiveFile again(file);  // free once closed
  }
  EXPECT_EQ(temp.Read("locked.bin"), "01ab456789");
}

TEST_F(FilesTest, ExclusiveFileOpensOnlyRegularFiles) {
  const std::string target = temp.Write("target.bin", "keep");
  temp.MakeDir("folder");
  std::vector<std::string> names = {"missing.bin", "folder"};
  if (!kWindows) {  // symbolic links: see ReplacesTheTargetOfALink
    fs::create_symlink(target, temp.File("link.bin"));
    names.push_back("link.bin");
  }
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    EXPECT_THROW(platform::ExclusiveFile file(temp.File(name)), platform::FileError);
  }
  EXPECT_THROW(platform::ExclusiveFile file(kWindows ? "NUL" : "/dev/null"), platform::FileError);
  EXPECT_EQ(temp.Read("target.bin"), "keep");
}

}  // namespace
