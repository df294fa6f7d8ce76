#include "sim/program_run.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

#include "platform/disk_ioctl.h"
#include "platform/text.h"
#include "sim/volume_system.h"

namespace sim {
namespace {

using platform::AsciiLower;

constexpr uint32_t kNotRecognised = 9009;  // the shell's code for an unknown command

// Reads one line of input: false when the program would wait forever.
bool ReadLine(std::optional<std::string>& input, std::string* line) {
  if (!input) return false;
  const size_t end = input->find('\n');
  *line = input->substr(0, end);
  if (!line->empty() && line->back() == '\r') line->pop_back();
  *input = end == std::string::npos ? std::string() : input->substr(end + 1);
  return true;
}

char DriveOf(const std::string& word) {
  if (word.size() == 2 && word[1] == ':' && std::isalpha(static_cast<unsigned char>(word[0])))
    return static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
  return 0;
}

}  // namespace

void CommandLog::Add(const std::string& line) {
  std::lock_guard lock(mutex_);
  lines_.push_back(line);
}

std::vector<std::string> CommandLog::Lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

RunResult ProgramRun::Shell(const std::string& line, bool batch) {
  RunResult result;
  result.durationMs = kShellMs;
  bool run = true;
  for (const ShellPipeline& pipeline : ParseShellLine(line, batch)) {
    if (pipeline.joinBefore == "&&") run = result.exitCode == 0;
    else if (pipeline.joinBefore == "||") run = result.exitCode != 0;
    else run = true;
    if (!run || pipeline.commands.empty()) continue;
    // Without a pipe a hidden window's program reads from a keyboard
    // nobody types on.
    std::optional<std::string> input;
    for (const ShellCommand& command : pipeline.commands) {
      RunResult r = Simple(command, input);
      result.durationMs += r.durationMs;
      if (r.hangs) {
        result.hangs = true;
        return result;
      }
      result.exitCode = r.exitCode;
      input = r.output;
      if (!command.outputTo.empty() && AsciiLower(command.outputTo) != "nul") {
        std::ofstream file(volumes_.HostPathOfLocked(command.outputTo), std::ios::binary);
        file << r.output;
        input = std::string();
      }
    }
  }
  return result;
}

RunResult ProgramRun::Program(const std::string& program, const std::string& parameters, bool* started,
                              uint32_t* error) {
  *started = true;
  if (program == "cmd.exe") {
    std::string rest = parameters;
    const std::string lower = AsciiLower(rest);
    size_t at = lower.find("/c");
    if (at == std::string::npos) at = lower.find("/k");
    if (at == std::string::npos) return RunResult{0, kShellMs, true, {}};  // an interactive shell
    rest = rest.substr(at + 2);
    return Shell(rest, false);
  }
  if (program.size() > 4 && (program.ends_with(".bat") || program.ends_with(".cmd"))) {
    *started = false;
    *error = platform::kErrorBadExeFormat;
    return {};
  }
  ShellCommand command;
  command.words.push_back(program);
  for (const ShellPipeline& p : ParseShellLine(parameters, false))
    for (const ShellCommand& c : p.commands)
      for (const std::string& w : c.words) command.words.push_back(w);
  command.rawText = program + (parameters.empty() ? "" : " " + parameters);
  return Simple(command, std::nullopt);
}

RunResult ProgramRun::Batch(const std::string& hostPath) {
  std::ifstream file(hostPath, std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  RunResult total;
  std::string line;
  std::istringstream lines(content.str());
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ':' || AsciiLower(line.substr(0, 4)) == "rem ") continue;
    if (line[0] == '@') line.erase(0, 1);
    RunResult r = Shell(line, true);
    total.durationMs += r.durationMs;
    total.exitCode = r.exitCode;
    if (r.hangs) {
      total.hangs = true;
      break;
    }
  }
  return total;
}

RunResult ProgramRun::Simple(const ShellCommand& command, const std::optional<std::string>& input) {
  const std::string name = ProgramOf(command.words[0]);
  log_.Add(command.rawText);
  RunResult r;
  r.durationMs = 0;
  if (name == "echo" || name == "echo." || name.rfind("echo.", 0) == 0) {
    std::string text;
    for (size_t i = 1; i < command.words.size(); ++i) text += (i > 1 ? " " : "") + command.words[i];
    r.output = text + "\r\n";
    return r;
  }
  if (name == "rem" || name == "@echo") return r;
  if (name != "format.com" && name != "diskpart.exe" && name != "label.exe" && name != "cmd.exe") {
    r.exitCode = kNotRecognised;
    return r;
  }
  if (!ProgramPresent(name)) {
    r.exitCode = kNotRecognised;
    return r;
  }
  uint32_t code = 0;
  if (volumes_.faults().Take(SystemOp::Hang, name, &code)) return RunResult{0, 0, true, {}};
  if (volumes_.faults().Take(SystemOp::ExitCode, name, &code)) return RunResult{code, kShellMs, false, {}};
  std::vector<std::string> args(command.words.begin() + 1, command.words.end());
  if (name == "format.com") return Format(args, input);
  if (name == "label.exe") return Label(args, input);
  if (name == "diskpart.exe") return Diskpart(args);
  // A nested shell.
  std::string rest;
  for (size_t i = 0; i < args.size(); ++i)
    if (i > 0 || AsciiLower(args[i]) != "/c") rest += (rest.empty() ? "" : " ") + args[i];
  return Shell(rest, false);
}

bool ProgramRun::ProgramPresent(const std::string& name) const {
  const auto& missing = volumes_.system().config.missingPrograms;
  return std::none_of(missing.begin(), missing.end(), [&](const std::string& m) { return platform::EqualNoCase(m, name); });
}


RunResult ProgramRun::Format(const std::vector<std::string>& args, std::optional<std::string> input) {
  RunResult r{0, kFormatMs, false, {}};
  char drive = 0;
  std::string fileSystem = "NTFS", label;
  bool quick = false, force = false, haveLabel = false;
  uint32_t cluster = 0;
  for (const std::string& a : args) {
    const std::string l = AsciiLower(a);
    if (DriveOf(a) && drive == 0) drive = DriveOf(a);
    else if (l == "/q") quick = true;
    else if (l == "/x") force = true;
    else if (l.rfind("/fs:", 0) == 0) fileSystem = a.substr(4);
    else if (l.rfind("/v:", 0) == 0) { label = a.substr(3); haveLabel = true; }
    else if (l.rfind("/a:", 0) == 0) {
      const std::string size = l.substr(3);
      static constexpr std::pair<const char*, uint32_t> kSizes[] = {
          {"512", 512}, {"1024", 1024}, {"2048", 2048}, {"4096", 4096}, {"8192", 8192},
          {"16k", 16384}, {"32k", 32768}, {"64k", 65536}};
      const auto* hit = std::find_if(std::begin(kSizes), std::end(kSizes),
                                     [&](const auto& s) { return size == s.first; });
      if (hit == std::end(kSizes)) return RunResult{1, kShellMs, false, "Invalid parameter - " + a + "\r\n"};
      cluster = hit->second;
    } else {
      return RunResult{1, kShellMs, false, "Invalid parameter - " + a + "\r\n"};
    }
  }
  if (drive == 0) return RunResult{1, kShellMs, false, "Required parameter missing -\r\n"};
  if (drive == volumes_.system().config.windowsDrive) return RunResult{4, kShellMs, false, {}};
  // "Proceed with Format (Y/N)?"
  std::string answer;
  if (!ReadLine(input, &answer)) return RunResult{0, 0, true, {}};
  if (answer.empty() || std::toupper(static_cast<unsigned char>(answer[0])) != 'Y')
    return RunResult{5, kShellMs, false, {}};
  if (!quick) r.durationMs *= 10;
  std::string message;
  r.exitCode = static_cast<uint32_t>(
      volumes_.FormatVolume(drive, fileSystem, haveLabel ? label : "", cluster, force, &message));
  if (r.exitCode != 0) {
    r.output = message + "\r\n";
    return r;
  }
  // "Volume label (32 characters, ENTER for none)?" unless given: the rest
  // of the input (none when the pipe is spent).
  if (!haveLabel) {
    std::string line;
    if (!ReadLine(input, &line)) return RunResult{0, 0, true, {}};
    uint32_t error = 0;
    if (!line.empty()) (void)volumes_.SetLabel(drive, line, &error);  // a bad label leaves none
  }
  r.output = "Format complete.\r\n";
  return r;
}

RunResult ProgramRun::Label(const std::vector<std::string>& args, std::optional<std::string> input) {
  RunResult r{0, kLabelMs, false, {}};
  char drive = volumes_.system().config.windowsDrive;
  size_t first = 0;
  if (!args.empty() && DriveOf(args[0])) {
    drive = DriveOf(args[0]);
    first = 1;
  } else if (!args.empty() && args[0].size() > 2 && args[0][1] == ':' && DriveOf(args[0].substr(0, 2))) {
    // "label E:DATA"
    std::vector<std::string> split{args[0].substr(0, 2), args[0].substr(2)};
    split.insert(split.end(), args.begin() + 1, args.end());
    return Label(split, input);
  }
  std::string text;
  for (size_t i = first; i < args.size(); ++i) text += (text.empty() ? "" : " ") + args[i];
  if (text.empty()) {
    // "Volume label (32 characters, ENTER for none)?"
    if (!ReadLine(input, &text)) return RunResult{0, 0, true, {}};
  }
  if (drive == volumes_.system().config.windowsDrive) return RunResult{1, kLabelMs, false, "Access is denied.\r\n"};
  uint32_t error = 0;
  if (!volumes_.SetLabel(drive, text, &error)) {
    r.exitCode = 1;
    r.output = error == platform::kErrorLabelTooLong || error == platform::kErrorInvalidLabel
                   ? "Invalid volume label\r\n"
                   : "Cannot change label.\r\n";
  }
  return r;
}

RunResult ProgramRun::Diskpart(const std::vector<std::string>& args) {
  RunResult r{0, kDiskpartMs, false, {}};
  if (args.size() != 2 || AsciiLower(args[0]) != "/s") return RunResult{87, kDiskpartMs, false, {}};  // usage
  const std::string host = volumes_.HostPathOfLocked(args[1]);
  std::ifstream file(host, std::ios::binary);
  if (host.empty() || !file) return RunResult{2, kDiskpartMs, false, "The system cannot find the file specified.\r\n"};
  std::string line;
  while (std::getline(file, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    const std::string l = AsciiLower(line);
    if (l.empty() || l.rfind("rem", 0) == 0) continue;
    if (l == "exit") break;
    if (l == "rescan") {
      volumes_.Rescan();
      continue;
    }
    return RunResult{1, kDiskpartMs, false, "The arguments specified for this command are not valid.\r\n"};
  }
  return r;
}

}  // namespace sim
