#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace korbenit {

// The simulator program run as a child process, published under a name of its own;
// it is stopped when this object goes. Its log (standard error) goes to logFile when one
// is named.
class TSimulatorProcess {
 public:
  TSimulatorProcess(const std::string& program, std::vector<std::string> options,
                    const std::string& logFile = {}) {
    int out[2];
    if (::pipe(out) != 0) throw std::runtime_error("pipe");
    FName = "sim-" + std::to_string(::getpid()) + "-" + std::to_string(Counter()++);
    std::vector<std::string> args = {program, "--name", FName};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    if (!logFile.empty())
      posix_spawn_file_actions_addopen(&actions, 2, logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0600);
    int failed = ::posix_spawn(&FPid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (failed) {
      ::close(out[0]);
      throw std::runtime_error("cannot start " + program);
    }
    // The first line tells where the port was published.
    FILE* stream = ::fdopen(out[0], "r");
    char line[512] = {};
    bool said = std::fgets(line, sizeof line, stream) != nullptr;
    std::fclose(stream);
    std::string text = line;
    auto start = text.find("link=");
    if (!said || start == std::string::npos) throw std::runtime_error("the simulator said nothing");
    start += 5;
    FLink = text.substr(start, text.find(' ', start) - start);
  }
  TSimulatorProcess(const TSimulatorProcess&) = delete;
  TSimulatorProcess& operator=(const TSimulatorProcess&) = delete;
  ~TSimulatorProcess() { Stop(); }

  // Ends the simulator, which then writes its summary to its log.
  void Stop() {
    if (FPid < 0) return;
    ::kill(FPid, SIGTERM);
    ::waitpid(FPid, nullptr, 0);
    FPid = -1;
  }

  const std::string& Name() const { return FName; }
  const std::string& Link() const { return FLink; }

 private:
  static int& Counter() {
    static int counter = 0;
    return counter;
  }

  pid_t FPid = -1;
  std::string FName;
  std::string FLink;
};

// The pace a simulator kept, in microseconds a line, from the summary it logs when it
// ends (0 when it was not paced).
inline double LoggedLinePace(const std::string& logFile) {
  std::ifstream log(logFile);
  std::string word;
  double each = 0;
  while (log >> word)
    if (word == "lines,") log >> each;
  return each;
}

}  // namespace korbenit
