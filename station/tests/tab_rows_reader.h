// The rows of a tab-separated file as Python's csv module reads them: the
// day logs are checked by a reader outside the project.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "station/tests/settings_fixture.h"

namespace station::testing {

// The rows of a tab-separated file as Python's csv reader sees them.
inline std::vector<std::vector<std::string>> ReadTabRowsWithPython(const std::string& file,
                                                                   const std::string& scratchFolder) {
  static constexpr char kReader[] =
      "import csv, sys\n"
      "with open(sys.argv[1], newline='', encoding='latin-1') as f:\n"
      "    for row in csv.reader(f, delimiter='\\t'):\n"
      "        sys.stdout.write('\\x1f'.join(row) + '\\x1e')\n";
  const std::string script = scratchFolder + "/rows.py";
  Spit(script, kReader);
  std::vector<std::vector<std::string>> rows;
  FILE* pipe = ::popen(("python3 '" + script + "' '" + file + "' 2>&1").c_str(), "r");
  if (!pipe) return rows;
  std::string output;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  if (::pclose(pipe) != 0) {
    ADD_FAILURE() << "csv reader failed:\n" << output;
    return rows;
  }
  size_t at = 0;
  while (at < output.size()) {
    const size_t end = output.find('\x1e', at);
    const std::string line = output.substr(at, end - at);
    at = end == std::string::npos ? output.size() : end + 1;
    std::vector<std::string> fields;
    size_t f = 0;
    for (;;) {
      const size_t sep = line.find('\x1f', f);
      fields.push_back(line.substr(f, sep - f));
      if (sep == std::string::npos) break;
      f = sep + 1;
    }
    rows.push_back(std::move(fields));
  }
  return rows;
}

}  // namespace station::testing
