// The system's programs as the bench emulates them: the shell ("cmd.exe /c",
// batch files) with its quoting, "^" escapes, "%" expansion, pipes, "&&",
// "||", "&" and redirection; "diskpart /s"; "format"; "label". A program's
// work is done when it starts; it ends a little later on the station clock
// (or never, when it waits for keyboard input that a hidden window never
// gets).
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <optional>
#include <sstream>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"
#include "sim/bench_handle.h"
#include "sim/bench_storage.h"

namespace sim {
namespace {

constexpr uint32_t kErrorNoAssociation = 1155;
constexpr uint32_t kNotRecognised = 9009;  // the shell's code for an unknown command

// How long each program runs (station ms).
constexpr uint64_t kShellMs = 50;
constexpr uint64_t kDiskpartMs = 1500;
constexpr uint64_t kFormatMs = 3000;
constexpr uint64_t kLabelMs = 100;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string BaseName(const std::string& path) {
  const size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// A program name as the shell finds it: "format" is "format.com".
std::string ProgramOf(const std::string& word) {
  std::string name = Lower(BaseName(word));
  if (name == "format") return "format.com";
  if (name == "diskpart" || name == "cmd" || name == "label") return name + ".exe";
  return name;
}

// One simple command of a pipeline: its words (quotes taken off) and its
// output redirection.
struct Command {
  std::vector<std::string> words;
  std::string rawText;  // as typed, for the log
  std::string outputTo; // "" none, "nul", or a file
};

// Commands joined by "|", then pipelines joined by "&&", "||", "&".
struct Pipeline {
  std::vector<Command> commands;
  std::string joinBefore;  // "", "&&", "||", "&"
};

// Splits a command line as the shell does. `batch`: "%%" is "%" and an
// undefined "%name%" is empty; on a command line it stays as typed.
std::vector<Pipeline> Parse(const std::string& line, bool batch) {
  // Expansion first, as the shell does before it looks at anything else.
  std::string text;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '%') {
      text += line[i];
      continue;
    }
    if (batch && i + 1 < line.size() && line[i + 1] == '%') {
      text += '%';
      ++i;
      continue;
    }
    const size_t end = line.find('%', i + 1);
    if (end == std::string::npos) {
      if (!batch) text += '%';
      continue;
    }
    const std::string name = Lower(line.substr(i + 1, end - i - 1));
    if (name == "systemroot" || name == "windir")
      text += "C:\\Windows";
    else if (!batch)
      text += line.substr(i, end - i + 1);
    i = end;
  }
  std::vector<Pipeline> out(1);
  Command current;
  std::string word;
  bool inWord = false, quoted = false, redirect = false;
  auto endWord = [&] {
    if (!inWord) return;
    if (redirect) {
      current.outputTo = word;
      redirect = false;
    } else {
      current.words.push_back(word);
    }
    word.clear();
    inWord = false;
  };
  auto endCommand = [&] {
    endWord();
    if (!current.words.empty()) out.back().commands.push_back(current);
    current = Command{};
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      current.rawText += c;
      if (c == '"') quoted = false;
      else word += c;
      continue;
    }
    if (c == '"') {
      quoted = true;
      inWord = true;
      current.rawText += c;
      continue;
    }
    if (c == '^' && i + 1 < text.size()) {
      word += text[++i];
      inWord = true;
      current.rawText += text[i];
      continue;
    }
    if (c == ' ' || c == '\t') {
      endWord();
      if (!current.rawText.empty()) current.rawText += ' ';
      continue;
    }
    if (c == '&' || c == '|') {
      const bool doubled = i + 1 < text.size() && text[i + 1] == c;
      endCommand();
      if (c == '|' && !doubled) continue;  // a pipe: the next command of this pipeline
      out.push_back(Pipeline{{}, doubled ? std::string(2, c) : std::string(1, c)});
      if (doubled) ++i;
      continue;
    }
    if (c == '>' || c == '<') {
      endWord();
      current.rawText += c;  // the log shows the command line as given
      if (c == '>' && i + 1 < text.size() && text[i + 1] == '>') current.rawText += text[++i];
      redirect = c == '>';
      continue;
    }
    word += c;
    inWord = true;
    current.rawText += c;
  }
  endCommand();
  for (auto& p : out)
    for (auto& c : p.commands)
      while (!c.rawText.empty() && c.rawText.back() == ' ') c.rawText.pop_back();
  return out;
}

struct RunResult {
  uint32_t exitCode = 0;
  uint64_t durationMs = 0;
  bool hangs = false;
  std::string output;
};

}  // namespace

// The emulated system: runs programs against the bench.
class Bench::Programs {
 public:
  explicit Programs(Bench& bench) : bench_(bench) {}

  // A whole command line through the shell.
  RunResult Shell(const std::string& line, bool batch) {
    RunResult result;
    result.durationMs = kShellMs;
    bool run = true;
    for (const Pipeline& pipeline : Parse(line, batch)) {
      if (pipeline.joinBefore == "&&") run = result.exitCode == 0;
      else if (pipeline.joinBefore == "||") run = result.exitCode != 0;
      else run = true;
      if (!run || pipeline.commands.empty()) continue;
      // Without a pipe a hidden window's program reads from a keyboard
      // nobody types on.
      std::optional<std::string> input;
      for (const Command& command : pipeline.commands) {
        RunResult r = Simple(command, input);
        result.durationMs += r.durationMs;
        if (r.hangs) {
          result.hangs = true;
          return result;
        }
        result.exitCode = r.exitCode;
        input = r.output;
        if (!command.outputTo.empty() && Lower(command.outputTo) != "nul") {
          std::ofstream file(bench_.HostPathOfLocked(command.outputTo), std::ios::binary);
          file << r.output;
          input = std::string();
        }
      }
    }
    return result;
  }

  // A program started by file name with its parameters.
  RunResult Program(const std::string& program, const std::string& parameters, bool* started,
                    uint32_t* error) {
    *started = true;
    if (program == "cmd.exe") {
      std::string rest = parameters;
      const std::string lower = Lower(rest);
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
    Command command;
    command.words.push_back(program);
    for (const Pipeline& p : Parse(parameters, false))
      for (const Command& c : p.commands)
        for (const std::string& w : c.words) command.words.push_back(w);
    command.rawText = program + (parameters.empty() ? "" : " " + parameters);
    return Simple(command, std::nullopt);
  }

  RunResult Batch(const std::string& hostPath) {
    std::ifstream file(hostPath, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    RunResult total;
    std::string line;
    std::istringstream lines(content.str());
    while (std::getline(lines, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty() || line[0] == ':' || Lower(line.substr(0, 4)) == "rem ") continue;
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

 private:
  RunResult Simple(const Command& command, const std::optional<std::string>& input) {
    const std::string name = ProgramOf(command.words[0]);
    bench_.storage().log.push_back(command.rawText);
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
    if (bench_.storage().TakeFault(SystemOp::Hang, name, &code)) return RunResult{0, 0, true, {}};
    if (bench_.storage().TakeFault(SystemOp::ExitCode, name, &code)) return RunResult{code, kShellMs, false, {}};
    std::vector<std::string> args(command.words.begin() + 1, command.words.end());
    if (name == "format.com") return Format(args, input);
    if (name == "label.exe") return Label(args, input);
    if (name == "diskpart.exe") return Diskpart(args);
    // A nested shell.
    std::string rest;
    for (size_t i = 0; i < args.size(); ++i)
      if (i > 0 || Lower(args[i]) != "/c") rest += (rest.empty() ? "" : " ") + args[i];
    return Shell(rest, false);
  }

  bool ProgramPresent(const std::string& name) {
    const auto& missing = bench_.system_.missingPrograms;
    return std::none_of(missing.begin(), missing.end(), [&](const std::string& m) { return EqualNoCase(m, name); });
  }

  // Reads one line of input: false when the program would wait forever.
  static bool ReadLine(std::optional<std::string>& input, std::string* line) {
    if (!input) return false;
    const size_t end = input->find('\n');
    *line = input->substr(0, end);
    if (!line->empty() && line->back() == '\r') line->pop_back();
    *input = end == std::string::npos ? std::string() : input->substr(end + 1);
    return true;
  }

  static char DriveOf(const std::string& word) {
    if (word.size() == 2 && word[1] == ':' && std::isalpha(static_cast<unsigned char>(word[0])))
      return static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
    return 0;
  }

  RunResult Format(const std::vector<std::string>& args, std::optional<std::string> input) {
    RunResult r{0, kFormatMs, false, {}};
    char drive = 0;
    std::string fileSystem = "NTFS", label;
    bool quick = false, force = false, haveLabel = false;
    uint32_t cluster = 0;
    for (const std::string& a : args) {
      const std::string l = Lower(a);
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
    if (drive == bench_.system_.windowsDrive) return RunResult{4, kShellMs, false, {}};
    // "Proceed with Format (Y/N)?"
    std::string answer;
    if (!ReadLine(input, &answer)) return RunResult{0, 0, true, {}};
    if (answer.empty() || std::toupper(static_cast<unsigned char>(answer[0])) != 'Y')
      return RunResult{5, kShellMs, false, {}};
    if (!quick) r.durationMs *= 10;
    std::string message;
    r.exitCode = static_cast<uint32_t>(bench_.storage().FormatVolume(bench_, drive, fileSystem, haveLabel ? label : "",
                                                                     cluster, force, &message));
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
      if (!line.empty()) bench_.storage().SetLabel(bench_, drive, line, &error);
    }
    r.output = "Format complete.\r\n";
    return r;
  }

  RunResult Label(const std::vector<std::string>& args, std::optional<std::string> input) {
    RunResult r{0, kLabelMs, false, {}};
    char drive = bench_.system_.windowsDrive;
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
    if (drive == bench_.system_.windowsDrive) return RunResult{1, kLabelMs, false, "Access is denied.\r\n"};
    uint32_t error = 0;
    if (!bench_.storage().SetLabel(bench_, drive, text, &error)) {
      r.exitCode = 1;
      r.output = error == platform::kErrorLabelTooLong || error == platform::kErrorInvalidLabel
                     ? "Invalid volume label\r\n"
                     : "Cannot change label.\r\n";
    }
    return r;
  }

  RunResult Diskpart(const std::vector<std::string>& args) {
    RunResult r{0, kDiskpartMs, false, {}};
    if (args.size() != 2 || Lower(args[0]) != "/s") return RunResult{87, kDiskpartMs, false, {}};  // usage
    const std::string host = bench_.HostPathOfLocked(args[1]);
    std::ifstream file(host, std::ios::binary);
    if (host.empty() || !file) return RunResult{2, kDiskpartMs, false, "The system cannot find the file specified.\r\n"};
    std::string line;
    while (std::getline(file, line)) {
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
      const std::string l = Lower(line);
      if (l.empty() || l.rfind("rem", 0) == 0) continue;
      if (l == "exit") break;
      if (l == "rescan") {
        Rescan();
        continue;
      }
      return RunResult{1, kDiskpartMs, false, "The arguments specified for this command are not valid.\r\n"};
    }
    return r;
  }

  // Pending disks arrive; every disk's layout is read again.
  void Rescan() {
    for (size_t i = 0; i < bench_.products_.size(); ++i) {
      Product& p = *bench_.products_[i];
      bench_.storage().pending[i].store(false);
      if (!p.Online()) continue;
      for (int drive = 0; drive < 2; ++drive)
        if (bench_.storage().Shape(p, drive).present) bench_.storage().Reread(bench_, p, drive);
    }
  }

  Bench& bench_;
};

// Host path with the storage mutex held (the programs run under it).
std::string Bench::HostPathOfLocked(const std::string& path) {
  Storage& st = storage();
  std::string host;
  size_t rest = 0;
  if (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') {
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
    if (letter == system_.windowsDrive) {
      host = st.SystemFolder(system_);
    } else {
      Product* p = nullptr;
      int drive = 0;
      uint32_t partition = 0;
      Storage::Volume* v = st.VolumeOfLetter(*this, letter, &p, &drive, &partition);
      if (v == nullptr || !v->mounted || v->lockedBy != nullptr) return {};
      if (v->folder.empty()) st.FreshFolder(*v);
      host = v->folder;
    }
    if (host.empty()) return {};
    rest = 2;
  }
  std::string tail = path.substr(rest);
  std::replace(tail.begin(), tail.end(), '\\', '/');
  if (!host.empty() && !tail.empty() && tail[0] != '/') tail = "/" + tail;
  return MatchPathNoCase(host, tail);
}

bool Bench::ShellExecute(const platform::ShellExecuteInfo& info, platform::Handle* process, uint32_t* error) {
  *process = platform::kInvalidHandle;
  const std::string verb = info.lpVerb ? Lower(info.lpVerb) : "";
  if (!verb.empty() && verb != "open" && verb != "runas") {
    *error = kErrorNoAssociation;
    return false;
  }
  Storage& st = storage();
  std::unique_lock lock(st.mutex);
  const std::string file = info.lpFile;
  std::string name = Lower(BaseName(file));
  const bool hasPath = file.find_first_of("\\/:") != std::string::npos;
  uint32_t faultError = 0;
  if (st.TakeFault(SystemOp::Start, name, &faultError)) {
    *error = faultError ? faultError : platform::kErrorFileNotFound;
    return false;
  }
  if (verb == "runas" && osMajor_.load() >= 6 && st.TakeFault(SystemOp::Start, "runas", &faultError)) {
    *error = faultError ? faultError : platform::kErrorCancelled;
    return false;
  }
  // The program or document must be there: a bare name is looked for in the
  // system folder, a path where it says.
  std::string host;
  if (hasPath) {
    host = HostPathOfLocked(file);
  } else {
    if (name.find('.') == std::string::npos) name += ".exe";
    host = st.SystemFolder(system_) + "/Windows/system32/" + name;
  }
  struct stat sb {};
  if (host.empty() || ::stat(host.c_str(), &sb) != 0 || S_ISDIR(sb.st_mode)) {
    *error = platform::kErrorFileNotFound;
    return false;
  }
  Programs programs(*this);
  RunResult result;
  const std::string parameters = info.lpParameters ? info.lpParameters : "";
  if (name.ends_with(".bat") || name.ends_with(".cmd")) {
    st.log.push_back(file + (parameters.empty() ? "" : " " + parameters));
    result = programs.Batch(host);
  } else {
    bool started = true;
    result = programs.Program(ProgramOf(name), parameters, &started, error);
    if (!started) return false;
  }
  auto* p = new BenchProcess(this);
  p->commandLine = file + " " + parameters;
  p->exitCode = result.exitCode;
  p->endsAt = result.hangs ? BenchProcess::kNever : NowMs() + result.durationMs;
  openHandles_.fetch_add(1, std::memory_order_relaxed);
  *process = p;
  return true;
}

uint32_t Bench::WaitProcess(platform::Handle process, uint32_t milliseconds) {
  auto* p = static_cast<BenchProcess*>(process);
  const uint64_t start = NowMs();
  for (;;) {
    uint64_t endsAt = 0;
    {
      std::lock_guard lock(storage().mutex);
      if (p->terminated) return platform::kWaitObject0;
      endsAt = p->endsAt;
    }
    const uint64_t now = NowMs();
    if (now >= endsAt) return platform::kWaitObject0;
    if (milliseconds != platform::kInfinite && now - start >= milliseconds) return platform::kWaitTimeout;
    uint64_t step = std::min<uint64_t>(endsAt - now, 100);
    if (milliseconds != platform::kInfinite) step = std::min<uint64_t>(step, start + milliseconds - now);
    platform::Sleep(static_cast<uint32_t>(std::max<uint64_t>(step, 1)));
  }
}

bool Bench::ProcessExitCode(platform::Handle process, uint32_t* exitCode) {
  auto* p = static_cast<BenchProcess*>(process);
  std::lock_guard lock(storage().mutex);
  *exitCode = (p->terminated || NowMs() >= p->endsAt) ? p->exitCode : platform::kStillActive;
  return true;
}

bool Bench::TerminateProcess(platform::Handle process, uint32_t exitCode) {
  auto* p = static_cast<BenchProcess*>(process);
  std::lock_guard lock(storage().mutex);
  if (p->terminated || NowMs() >= p->endsAt) return false;
  p->terminated = true;
  p->exitCode = exitCode;
  return true;
}

bool Bench::HasModule(const char* module, const char* entry) {
  (void)entry;
  return system_.formatService && EqualNoCase(module, "fmifs.dll");
}

void Bench::FormatEx(const char16_t* driveRoot, uint32_t mediaType, const char16_t* fileSystemName,
                     const char16_t* label, bool quick, uint32_t clusterSize, platform::FmifsCallback callback) {
  (void)mediaType;
  auto narrow = [](const char16_t* text) {
    size_t n = 0;
    while (text && text[n]) ++n;
    return platform::WideToAnsi(text ? text : u"", n);
  };
  const std::string root = narrow(driveRoot), fsName = narrow(fileSystemName), text = narrow(label);
  uint8_t success = 0;
  if (callback == nullptr) return;
  if (root.size() < 2 || root[1] != ':') {
    callback(platform::kFmifsDone, 0, &success);
    return;
  }
  // The service's own text carries the caller's label and a percent sign:
  // it is text, never a format.
  std::string message;
  int code = 0;
  {
    std::lock_guard lock(storage().mutex);
    code = storage().FormatVolume(*this, root[0], fsName, text, clusterSize, true, &message);
  }
  for (uint32_t percent : {0u, 50u, 100u}) callback(platform::kFmifsProgress, 0, &percent);
  if (!quick) platform::Sleep(kFormatMs);
  const std::string line = code == 0 ? "Volume " + text + " formatted: 100% of the structures written.\n"
                                     : message + "\n";
  platform::FmifsTextOutput output{1, line.c_str()};
  callback(platform::kFmifsOutput, 0, &output);
  success = code == 0;
  callback(platform::kFmifsDone, 0, &success);
}

}  // namespace sim
