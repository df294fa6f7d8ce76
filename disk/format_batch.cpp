// The format command's batch line.
#include "disk/format_batch.h"

#include <cstdio>

namespace disk {
namespace {

struct ClusterOption {
  uint32_t bytes;
  const char* text;
};
constexpr ClusterOption kClusterOptions[] = {
    {512, "512"}, {4096, "4096"}, {8192, "8192"}, {16384, "16K"}, {32768, "32K"}, {65536, "64K"},
};

}  // namespace

const char* ClusterOptionText(uint32_t clusterBytes) {
  for (const ClusterOption& option : kClusterOptions) {
    if (option.bytes == clusterBytes) return option.text;
  }
  return nullptr;
}

std::string EscapeBatchArgument(const std::string& text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (const char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) continue;
    switch (c) {
      case '%':
        out += "%%";  // a batch file expands %...% before anything else
        break;
      case '^': case '&': case '|': case '<': case '>': case '(': case ')': case '"': case '!':
        out += '^';
        out += c;
        break;
      default:
        out += c;
        break;
    }
  }
  return out;
}

std::string FormatBatchLine(char driveLetter, const char* fileSystem, uint32_t clusterBytes,
                            const std::string& label) {
  std::string line = "echo y | format.com ";
  line += driveLetter;
  line += ": /q /fs:";
  line += fileSystem;
  line += " /x";
  if (const char* option = ClusterOptionText(clusterBytes)) {
    line += " /a:";
    line += option;
  }
  const std::string escaped = EscapeBatchArgument(label);
  if (!escaped.empty()) {
    line += " && label ";
    line += driveLetter;
    line += ": ";
    line += escaped;
  }
  return line;
}

}  // namespace disk
