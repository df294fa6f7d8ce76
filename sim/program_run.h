// The system's programs as the bench emulates them: the shell ("cmd.exe
// /c", batch files), "diskpart /s", "format" and "label". A program's work
// is done when it starts; it ends a little later on the station clock (or
// never, when it waits for keyboard input that a hidden window never gets).
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/shell_line.h"

namespace sim {

class VolumeSystem;

// How long each program runs (station ms).
inline constexpr uint64_t kShellMs = 50;
inline constexpr uint64_t kDiskpartMs = 1500;
inline constexpr uint64_t kFormatMs = 3000;
inline constexpr uint64_t kLabelMs = 100;

// Every command the emulated shell ran, in order.
class CommandLog {
 public:
  void Add(const std::string& line);
  std::vector<std::string> Lines() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

struct RunResult {
  uint32_t exitCode = 0;
  uint64_t durationMs = 0;
  bool hangs = false;
  std::string output;
};

// One start of a program; runs with the volume system's lock held.
class ProgramRun {
 public:
  ProgramRun(VolumeSystem& volumes, CommandLog& log) : volumes_(volumes), log_(log) {}

  // A whole command line through the shell.
  RunResult Shell(const std::string& line, bool batch);
  // A program started by file name with its parameters.
  RunResult Program(const std::string& program, const std::string& parameters, bool* started, uint32_t* error);
  RunResult Batch(const std::string& hostPath);

 private:
  RunResult Simple(const ShellCommand& command, const std::optional<std::string>& input);
  bool ProgramPresent(const std::string& name) const;
  RunResult Format(const std::vector<std::string>& args, std::optional<std::string> input);
  RunResult Label(const std::vector<std::string>& args, std::optional<std::string> input);
  RunResult Diskpart(const std::vector<std::string>& args);

  VolumeSystem& volumes_;
  CommandLog& log_;
};

}  // namespace sim
