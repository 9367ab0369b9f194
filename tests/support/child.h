// Forked children for tests that need another process: a second opener of a
// port, a process in its own session, an unprivileged user.
#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace rilvano::test {

// Runs `body` in a child process; its result (0-255) is the exit code
// returned here, -1 when the child did not exit normally.
template <class Body>
int InChild(Body body) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) ::_exit(body());
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Root passes every permission check; a test that needs one to fail first
// becomes "nobody". False when that did not work.
inline bool DropRoot() {
  if (::geteuid() != 0) return true;
  constexpr uid_t kNobody = 65534;
  constexpr gid_t kNogroup = 65534;
  return ::setgroups(0, nullptr) == 0 && ::setgid(kNogroup) == 0 && ::setuid(kNobody) == 0 && ::geteuid() != 0;
}

}  // namespace rilvano::test
