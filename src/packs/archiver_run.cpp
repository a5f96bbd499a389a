// The archive tool's command lines, its runs and the reading of how they went.
#include "packs/archiver_run.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

#include "packs/tool_runner.h"
#include "platform/files.h"
#include "platform/process.h"

namespace {

// "7z x <archive> -o<out>", the start every command line shares.
std::string ExtractStart(const std::string& archive, const std::string& out) {
  return "7z x " + archive + " " + ArchiverOutputSwitch(out);
}

}  // namespace

std::string ArchiverOutputSwitch(const std::string& out) {
  return platform::process::QuoteArgument("-o" + out);
}

std::string UnpackPackCommand(const std::string& archive, const std::string& out) {
  return ExtractStart(archive, out) + " -y";
}

std::string ExtractInfsCommand(const std::string& archive, const std::string& out) {
  return ExtractStart(archive, out) + " *.inf -r -y";
}

std::string ExtractListedCommand(const std::string& archive, const std::string& out,
                                 const std::string& list) {
  return ExtractStart(archive, out) + " " + platform::process::QuoteArgument("@" + list) + " -y";
}

UnpackMethod UnpackMethodOf(const std::string& text) {
  int number = 0;
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') ++first;
  const auto [end, error] = std::from_chars(first, last, number);
  if (text.empty() || error != std::errc() || end != last) {
    throw std::invalid_argument("'" + text + "' is not a valid integer value");
  }
  if (number == 1) return UnpackMethod::Redirected;
  if (number == 2) return UnpackMethod::Piped;
  return UnpackMethod::None;
}

std::optional<ArchiverBanner> AskArchiverBanner(ToolRunner& tools) {
  std::vector<std::string> lines;
  if (!tools.RunAny("7z", lines)) return std::nullopt;
  return ParseArchiverBanner(lines);
}

std::optional<int> RunArchiver(ToolRunner& tools, const std::string& commandLine,
                               std::vector<std::string>& output, const std::string& outputFile,
                               const std::function<void()>& onLines) {
  output.clear();
  const std::optional<int> exitCode = tools.RunAny(commandLine, output, onLines);
  platform::WriteTextLines(outputFile, output);
  return exitCode;
}

ArchiverOutcome ArchiverExitOutcome(const std::optional<int>& exitCode) {
  if (!exitCode) return ArchiverOutcome::NotStarted;
  if (*exitCode < 0 || *exitCode >= kArchiverFatal) return ArchiverOutcome::Failed;
  return ArchiverOutcome::Done;
}

ArchiverOutcome UnpackOutcome(const std::optional<int>& exitCode, const std::vector<std::string>& output) {
  const ArchiverOutcome outcome = ArchiverExitOutcome(exitCode);
  if (outcome != ArchiverOutcome::Done) return outcome;
  return std::any_of(output.begin(), output.end(), IsArchiverErrorLine) ? ArchiverOutcome::ItemErrors
                                                                        : ArchiverOutcome::Done;
}

bool IsArchiverErrorLine(const std::string& line) {
  for (const char* start :
       {"ERROR", "Error:", "Errors:", "Can't open as archive", "Can not open the file as archive"}) {
    if (line.rfind(start, 0) == 0) return true;
  }
  // Totals such as "Sub items Errors: 1" and "Archives with Errors: 1".
  return line.find(" Errors: ") != std::string::npos;
}
