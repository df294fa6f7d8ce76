#include "sim/shell_line.h"

#include "platform/text.h"

namespace sim {

using platform::AsciiLower;

std::string BaseName(const std::string& path) {
  const size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string ProgramOf(const std::string& word) {
  std::string name = AsciiLower(BaseName(word));
  if (name == "format") return "format.com";
  if (name == "diskpart" || name == "cmd" || name == "label") return name + ".exe";
  return name;
}

std::vector<ShellPipeline> ParseShellLine(const std::string& line, bool batch) {
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
    const std::string name = AsciiLower(line.substr(i + 1, end - i - 1));
    if (name == "systemroot" || name == "windir")
      text += "C:\\Windows";
    else if (!batch)
      text += line.substr(i, end - i + 1);
    i = end;
  }
  std::vector<ShellPipeline> out(1);
  ShellCommand current;
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
    current = ShellCommand{};
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
      out.push_back(ShellPipeline{{}, doubled ? std::string(2, c) : std::string(1, c)});
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

}  // namespace sim
