// Command lines as the system's shell splits them: "%" expansion, quotes,
// "^" escapes, pipes, "&&", "||", "&" and output redirection.
#pragma once

#include <string>
#include <vector>

namespace sim {

// One simple command of a pipeline: its words (quotes taken off) and its
// output redirection.
struct ShellCommand {
  std::vector<std::string> words;
  std::string rawText;   // as typed, for the log
  std::string outputTo;  // "" none, "nul", or a file
};

// Commands joined by "|", then pipelines joined by "&&", "||", "&".
struct ShellPipeline {
  std::vector<ShellCommand> commands;
  std::string joinBefore;  // "", "&&", "||", "&"
};

// `batch`: "%%" is "%" and an undefined "%name%" is empty; on a command
// line it stays as typed.
std::vector<ShellPipeline> ParseShellLine(const std::string& line, bool batch);

// The last part of a path (after '\' or '/').
std::string BaseName(const std::string& path);
// A program name as the shell finds it: "format" is "format.com".
std::string ProgramOf(const std::string& word);

}  // namespace sim
