// An INI file as an independent reader sees it: Python's configparser (raw,
// not strict, no interpolation, names with their case), run as a program.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <utility>

namespace station::testing {

using IniEntries = std::map<std::pair<std::string, std::string>, std::string>;

inline bool HavePythonConfigParser() {
  return std::system("python3 -c 'import configparser' >/dev/null 2>&1") == 0;
}

// Every (section, key) -> value; a failure of the reader fails the test and
// gives an empty map. `scratchFolder` takes the reader script. The file is
// read in `encoding`; "strict" refuses a section or key that comes twice.
inline IniEntries ReadIniWithPython(const std::string& file, const std::string& scratchFolder,
                                    const char* encoding = "latin-1", const char* strictness = "lenient") {
  static constexpr char kReader[] =
      "import configparser, sys\n"
      "p = configparser.RawConfigParser(strict=sys.argv[3] == 'strict', interpolation=None)\n"
      "p.optionxform = str\n"
      "with open(sys.argv[1], encoding=sys.argv[2]) as f:\n"
      "    p.read_file(f)\n"
      "for s in p.sections():\n"
      "    for k, v in p.items(s):\n"
      "        print(s + '\\t' + k + '\\t' + v)\n";
  const std::string script = scratchFolder + "/reader.py";
  std::ofstream(script, std::ios::binary) << kReader;
  IniEntries entries;
  const std::string command =
      "python3 '" + script + "' '" + file + "' " + encoding + " " + strictness + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return entries;
  std::string output;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  if (::pclose(pipe) != 0) {
    ADD_FAILURE() << "configparser failed:\n" << output;
    return entries;
  }
  size_t at = 0;
  while (at < output.size()) {
    const size_t end = output.find('\n', at);
    const std::string line = output.substr(at, end - at);
    at = end == std::string::npos ? output.size() : end + 1;
    const size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1);
    if (t1 == std::string::npos || t2 == std::string::npos) {
      ADD_FAILURE() << "unexpected line: " << line;
      continue;
    }
    entries[{line.substr(0, t1), line.substr(t1 + 1, t2 - t1 - 1)}] = line.substr(t2 + 1);
  }
  return entries;
}

}  // namespace station::testing
