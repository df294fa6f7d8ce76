// A program of the build run as a child process, as a factory would run
// it: its own environment additions, its standard output and error read
// line by line as it writes them, and its end, normal or by a signal. A
// test waits on what the child writes, never on time.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

extern char** environ;

namespace kestrova::testing {

class ChildProcess {
 public:
  // Starts `program` with `arguments` and "NAME=value" additions to this
  // process's environment; standard error goes where standard output goes.
  ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
               const std::vector<std::string>& environment) {
    int out[2];
    if (::pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<std::string> args{program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env(environment);
    for (char** e = environ; *e; ++e) env.emplace_back(*e);  // the first of a name counts
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    output_ = ::fdopen(out[0], "r");
  }
  ~ChildProcess() {
    if (pid_ > 0 && !ended_) {
      ::kill(pid_, SIGKILL);
      static_cast<void>(Wait());
    }
    if (output_) std::fclose(output_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0 && output_ != nullptr; }
  pid_t pid() const { return pid_; }

  // The lines written until one holds `mark` (that one included) or, if
  // given, one holds `instead`; all of them when the output ends first or
  // `mark` is empty.
  std::vector<std::string> ReadUntil(const std::string& mark, const std::string& instead = "") {
    std::vector<std::string> lines;
    char buffer[4096];
    while (output_ && std::fgets(buffer, sizeof buffer, output_)) {
      std::string line(buffer);
      if (!line.empty() && line.back() == '\n') line.pop_back();
      lines.push_back(line);
      if (!mark.empty() && line.find(mark) != std::string::npos) break;
      if (!instead.empty() && line.find(instead) != std::string::npos) break;
    }
    return lines;
  }
  std::vector<std::string> ReadAll() { return ReadUntil(""); }

  // The status of the ended child, as waitpid gives it.
  int Wait() {
    int status = 0;
    if (pid_ > 0 && ::waitpid(pid_, &status, 0) == pid_) ended_ = true;
    return status;
  }
  int Kill(int signal) {
    ::kill(pid_, signal);
    return Wait();
  }

 private:
  pid_t pid_ = -1;
  FILE* output_ = nullptr;
  bool ended_ = false;
};

}  // namespace kestrova::testing
