// The error report: one entry per thrown exception, at the moment it is thrown.
#include <gtest/gtest.h>

#include <stdexcept>

#include "app/error_report.h"
#include "platform/files.h"
#include "support/temp_dir.h"

namespace {

TEST(ErrorReport, EntryLayout) {
  std::tm when{};
  when.tm_year = 126;
  when.tm_mon = 1;
  when.tm_mday = 3;
  when.tm_hour = 9;
  when.tm_min = 5;
  when.tm_sec = 7;
  platform::ThrowInfo withStack{"boom", "[0x1] prog", {"[0x1] prog f", "[0x2] prog g"}};
  EXPECT_EQ(ErrorReport::BuildEntry(withStack, when),
            "An exception raised at 03.02.2026 09:05:07\r\nboom\r\n[0x1] prog\r\n\r\nCall stack:\r\n"
            "  [0x1] prog f\r\n  [0x2] prog g\r\n\r\n");
  platform::ThrowInfo noStack{"boom", "", {}};
  EXPECT_TRUE(ErrorReport::BuildEntry(noStack, when).ends_with("Call stack:\r\n  [NOT AVAILABLE]\r\n\r\n"));
}

class ErrorReportFile : public ::testing::Test {
 protected:
  void SetUp() override {
    ErrorReport::SetFolder(tmp.path());
    ErrorReport::Install();
  }
  void TearDown() override {
    ErrorReport::Uninstall();
    ErrorReport::SetFolder("");
  }
  static int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
    return n;
  }
  TempDir tmp;
};

TEST_F(ErrorReportFile, EveryThrowIsAppendedEvenWhenCaught) {
  for (int i = 0; i < 2; ++i) {
    try {
      throw std::runtime_error("caught number " + std::to_string(i));
    } catch (const std::exception&) {
    }
  }
  try {
    throw 42;  // not a std::exception: the type is named
  } catch (int) {
  }
  std::string report = tmp.Read(ErrorReport::kFileName);
  EXPECT_EQ(Count(report, "An exception raised at "), 3);
  EXPECT_NE(report.find("\r\ncaught number 0\r\n"), std::string::npos);
  EXPECT_NE(report.find("\r\ncaught number 1\r\n"), std::string::npos);
  EXPECT_NE(report.find("exception of type int"), std::string::npos);
  EXPECT_EQ(Count(report, "Call stack:\r\n"), 3);
  EXPECT_TRUE(report.ends_with("\r\n\r\n"));
}

[[gnu::noinline]] void ThrowFromHere() { throw std::runtime_error("with a stack"); }

TEST_F(ErrorReportFile, EntryCarriesTheStackOfTheThrow) {
  try {
    ThrowFromHere();
  } catch (const std::exception&) {
  }
  const std::string report = tmp.Read(ErrorReport::kFileName);
  EXPECT_EQ(report.find("[NOT AVAILABLE]"), std::string::npos) << report;
  // The place of the throw and the frames are in this test program.
  const std::string program = platform::ExtractFileName(platform::ProgramFilePath());
  const std::size_t stack = report.find("Call stack:\r\n");
  ASSERT_NE(stack, std::string::npos) << report;
  EXPECT_NE(report.find(program), std::string::npos) << report;
  EXPECT_GE(Count(report.substr(stack), program), 2) << report;
}

TEST_F(ErrorReportFile, ReportDeletedBetweenThrowsIsCreatedAnew) {
  try {
    throw std::logic_error("first");
  } catch (...) {
  }
  std::remove(tmp.File(ErrorReport::kFileName).c_str());
  try {
    throw std::logic_error("second");
  } catch (...) {
  }
  std::string report = tmp.Read(ErrorReport::kFileName);
  EXPECT_EQ(report.find("first"), std::string::npos);
  EXPECT_NE(report.find("second"), std::string::npos);
}

TEST_F(ErrorReportFile, EntriesBeforeTheFolderIsKnownAreWrittenLater) {
  ErrorReport::SetFolder("");
  try {
    throw std::runtime_error("early");
  } catch (...) {
  }
  EXPECT_FALSE(tmp.Exists(ErrorReport::kFileName));
  ErrorReport::SetFolder(tmp.path());
  EXPECT_NE(tmp.Read(ErrorReport::kFileName).find("early"), std::string::npos);
}

TEST_F(ErrorReportFile, UnwritableFolderIsSwallowed) {
  ErrorReport::SetFolder(tmp.path() + "missing/");
  EXPECT_THROW(throw std::runtime_error("still thrown normally"), std::runtime_error);
}

}  // namespace
