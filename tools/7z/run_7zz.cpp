#include "run_7zz.h"

#include "platform/process.h"

namespace seven_zip {

namespace proc = platform::process;

RunResult Run7zz(const std::string& program, const std::vector<std::string>& args,
                 const std::function<void(std::string_view)>& onOutput) {
  std::string commandLine = "\"" + program + "\"";
  for (const std::string& arg : args) commandLine += " " + proc::QuoteArgument(arg);
  proc::StartInfo info;
  info.commandLine = commandLine;
  info.input = proc::Input::Empty;  // a password prompt gets no answer instead of waiting forever
  info.output = proc::Output::Pipe;
  info.error = proc::ErrorOutput::SameAsOutput;
  proc::ChildProcess child = proc::ChildProcess::Start(info);
  RunResult result;
  if (onOutput) {
    constexpr std::size_t kBlock = 64 * 1024;
    for (;;) {
      const std::string block = child.Read(kBlock);  // fewer bytes only at the end of the output
      result.output += block;
      if (!block.empty()) onOutput(block);
      if (block.size() < kBlock) break;
    }
  } else {
    result.output = child.ReadToEnd();
  }
  child.Wait(proc::ChildProcess::kInfinite);
  result.exitCode = child.ExitCode();
  return result;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

}  // namespace seven_zip
