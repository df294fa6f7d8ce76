// The one-line batch file "qvfmt.bat" that runs the system's format command
// and then sets the label.
#pragma once

#include <cstdint>
#include <string>

namespace disk {

inline constexpr char kFormatBatchName[] = "qvfmt.bat";

// Cluster option of format.com's /a switch for a cluster size in bytes;
// null when the size has none (0 included).
const char* ClusterOptionText(uint32_t clusterBytes);

// The label as one literal argument on a batch line: every character the
// command interpreter would act on is escaped, and control characters,
// which could end the line, are dropped.
std::string EscapeBatchArgument(const std::string& text);

// The batch line, without a line end. An empty label leaves out the label
// command, which would otherwise wait for keyboard input.
std::string FormatBatchLine(char driveLetter, const char* fileSystem, uint32_t clusterBytes,
                            const std::string& label);

}  // namespace disk
