#include "platform/mapped_file.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

namespace {

std::string Contents(const platform::MappedFile& file) {
  return file.IsOpen() ? std::string(reinterpret_cast<const char*>(file.data()), file.size()) : std::string();
}

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// A file of the given size that takes no disk space.
std::string SparseFile(const TempDir& dir, const std::string& name, std::int64_t size) {
  const std::string path = dir.Write(name, "");
#ifdef _WIN32
  std::filesystem::resize_file(path, static_cast<std::uintmax_t>(size));
#else
  EXPECT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0);
#endif
  return path;
}

TEST(MappedFileTest, MapsTheBytesOfARegularFile) {
  TempDir dir;
  const std::string content("PCI\\VEN_8086\0\xff\r\n", 16);
  const std::vector<std::string> spellings = {
      dir.Write("drv/a.inf", content),
      dir.path() + "drv\\a.inf",  // backslashes are folder separators
      dir.File("drv/a.inf "),     // trailing blanks and dots are ignored, as on Windows
      dir.File("drv/a.inf.. "),
  };
  for (const std::string& path : spellings) {
    platform::MappedFile file;
    EXPECT_TRUE(file.Open(path)) << path;
    EXPECT_EQ(Contents(file), content) << path;
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.data(), nullptr);
    EXPECT_EQ(file.size(), 0u);
    std::string buffer;
    ASSERT_EQ(platform::ReadWholeFileInto(path, buffer), content.size()) << path;
    EXPECT_EQ(buffer.substr(0, content.size()), content) << path;
  }
  const std::string one = dir.Write("one", "x");
  platform::MappedFile file;
  ASSERT_TRUE(file.Open(one));
  EXPECT_EQ(Contents(file), "x");
}

TEST(MappedFileTest, MapsNothingButRegularFilesOfOneByteToBelowTwoGiB) {
  TempDir dir;
  std::vector<std::pair<std::string, std::string>> cases = {
      {"empty path", ""},
      {"missing file", dir.File("missing.inf")},
      {"missing folder", dir.File("no/such.inf")},
      {"empty file", dir.Write("empty.inf", "")},
      {"folder", dir.MakeDir("sub")},
      {"character device", kWindows ? "NUL" : "/dev/zero"},
      {"2 GiB", SparseFile(dir, "big", std::int64_t{1} << 31)},
  };
#ifndef _WIN32  // no named pipes in the file system and no permission bits on Windows
  const std::string fifo = dir.File("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  cases.emplace_back("named pipe without writer (must not block)", fifo);
  const std::string locked = dir.Write("locked.inf", "text");
  ::chmod(locked.c_str(), 0);
#endif
  for (const auto& [what, path] : cases) {
    platform::MappedFile file;
    EXPECT_FALSE(file.Open(path)) << what;
    EXPECT_FALSE(file.IsOpen()) << what;
    EXPECT_EQ(file.size(), 0u) << what;
    std::string buffer;
    EXPECT_EQ(platform::ReadWholeFileInto(path, buffer), 0u) << what;
  }
#ifndef _WIN32
  if (::geteuid() != 0) {  // the superuser reads any file
    platform::MappedFile file;
    EXPECT_FALSE(file.Open(locked));
  }
#endif
  // The largest file that maps. A 32-bit Windows process has 2 GiB of address space in all, so
  // a view that size never fits there; a large one that does fit is mapped. A 64-bit process
  // (Linux, or the program built for 64-bit Windows) maps the whole 2 GiB less one byte.
  const bool smallAddressSpace = kWindows && sizeof(void*) < 8;
  const std::int64_t largestSize = smallAddressSpace ? std::int64_t{256} << 20 : (std::int64_t{1} << 31) - 1;
  platform::MappedFile largest;
  EXPECT_TRUE(largest.Open(SparseFile(dir, "largest", largestSize)));
  EXPECT_EQ(largest.size(), static_cast<std::size_t>(largestSize));
}

TEST(MappedFileTest, OpenReplacesTheMappingAndFailureLeavesNone) {
  TempDir dir;
  platform::MappedFile file;
  ASSERT_TRUE(file.Open(dir.Write("a", "first")));
  ASSERT_TRUE(file.Open(dir.Write("b", "second file")));
  EXPECT_EQ(Contents(file), "second file");
  EXPECT_FALSE(file.Open(dir.File("missing")));
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.size(), 0u);
}

TEST(ReadWholeFileIntoTest, ReusesOneBufferForFilesOfAnySize) {
  TempDir dir;
  const std::string large(100000, 'L');
  const std::string small = "small file";
  std::string buffer;
  ASSERT_EQ(platform::ReadWholeFileInto(dir.Write("large", large), buffer), large.size());
  EXPECT_EQ(buffer, large);
  ASSERT_EQ(platform::ReadWholeFileInto(dir.Write("small", small), buffer), small.size());
  EXPECT_EQ(buffer.size(), large.size()) << "the buffer does not shrink";
  EXPECT_EQ(buffer.substr(0, small.size()), small);
  EXPECT_EQ(platform::ReadWholeFileInto(dir.File("missing"), buffer), 0u);
}

TEST(MappedFileTest, MovesHandTheMappingOver) {
  TempDir dir;
  platform::MappedFile a;
  ASSERT_TRUE(a.Open(dir.Write("a", "alpha")));
  platform::MappedFile b(std::move(a));
  EXPECT_FALSE(a.IsOpen());
  EXPECT_EQ(a.size(), 0u);
  EXPECT_EQ(Contents(b), "alpha");

  platform::MappedFile c;
  ASSERT_TRUE(c.Open(dir.Write("c", "gamma!")));
  c = std::move(b);  // unmaps "gamma!"
  EXPECT_EQ(Contents(c), "alpha");
  EXPECT_FALSE(b.IsOpen());
  auto& self = c;
  c = std::move(self);
  EXPECT_EQ(Contents(c), "alpha");
}

// Linux folds ASCII capitals only. Windows folds the letters of the ANSI code page as the system
// lower-cases them; the test run pins code page 1252, which has 34 capitals above 127.
TEST(LowerCaseTableTest, FoldsTheCapitalsOfThePlatform) {
  const platform::FoldTable& fold = platform::LowerCaseTable();
  EXPECT_EQ(&fold, &platform::LowerCaseTable());
  const std::vector<std::pair<unsigned char, unsigned char>> cases = {
      {'A', 'a'},
      {'Z', 'z'},
      {'M', 'm'},
      {'a', 'a'},
      {'z', 'z'},
      {'@', '@'},
      {'[', '['},
      {'`', '`'},
      {'{', '{'},
      {'\\', '\\'},
      {'&', '&'},
      {'_', '_'},
      {'0', '0'},
      {0, 0},
      {0xC4, kWindows ? 0xE4 : 0xC4},  // A with diaeresis
      {0xDE, kWindows ? 0xFE : 0xDE},  // thorn, the last capital of the block
      {0x8A, kWindows ? 0x9A : 0x8A},  // S with caron
      {0x9F, kWindows ? 0xFF : 0x9F},  // Y with diaeresis, whose small letter is 0xFF
      {0xD7, 0xD7},                    // multiplication sign: no letter
      {0xDF, 0xDF},                    // sharp s has no capital here
      {0xE4, 0xE4},
      {0xFF, 0xFF},
      {0x80, 0x80},
  };
  for (const auto& [byte, folded] : cases) EXPECT_EQ(fold[byte], folded) << int{byte};
  int changed = 0;
  for (int c = 0; c < 256; ++c) changed += fold[static_cast<unsigned char>(c)] != c ? 1 : 0;
  EXPECT_EQ(changed, kWindows ? 26 + 34 : 26);
}

}  // namespace
