#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace korbenit::testing {

// The unprivileged user that permission probes run as.
inline constexpr uid_t Nobody = 65534;

// Runs probe in a child process as Nobody and answers its result: what probe answers,
// 126 when it raised, or -1 when the machine cannot switch users (not running as root).
// The child ends without running destructors, as a killed program would.
inline int RunAsNobody(const std::function<int()>& probe) {
  pid_t child = ::fork();
  if (child == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setresgid(Nobody, Nobody, Nobody) != 0 ||
        ::setresuid(Nobody, Nobody, Nobody) != 0)
      ::_exit(255);
    int result = 126;
    try {
      result = probe();
    } catch (...) {
    }
    ::_exit(result);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status) == 255 ? -1 : WEXITSTATUS(status);
}

}  // namespace korbenit::testing
