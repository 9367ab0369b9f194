// Child processes for the end-to-end tests: the simulator, the libmodbus
// server, socat and mbpoll. Each child is killed when its handle goes away,
// so a failing test never leaves a peer behind.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace rilvano::e2e {

class Child {
 public:
  // Starts argv[0] (searched in PATH); stdout is kept for Line()/Output(),
  // stderr goes to a file so a stuck pipe never blocks the child.
  explicit Child(const std::vector<std::string>& argv, const std::string& stderrPath = "/dev/null") {
    // Everything the child needs is built before the fork: between fork and
    // exec a threaded parent may only make async-signal-safe calls.
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      const int err = ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (err >= 0) ::dup2(err, 2);
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // no orphaned peers after a crashed test
      ::execvp(args[0], args.data());
      ::_exit(127);
    }
    ::close(out[1]);
    out_ = out[0];
  }
  ~Child() {
    Stop();
    if (out_ >= 0) ::close(out_);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t Pid() const { return pid_; }

  // The next line of stdout, without its line feed; nullopt on time-out or
  // end of output.
  std::optional<std::string> Line(int timeoutMs = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      if (const auto nl = buffer_.find('\n'); nl != std::string::npos) {
        std::string line = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (!ReadSome(static_cast<int>(std::max<long long>(left.count(), 0)))) return std::nullopt;
    }
  }

  // Everything on stdout until the child closes it (or the time-out).
  std::string Output(int timeoutMs = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !ReadSome(static_cast<int>(left.count()))) break;
    }
    std::string all;
    all.swap(buffer_);
    return all;
  }

  // Waits for the child to end by itself; its exit status, or nullopt when
  // it was still running at the time-out.
  std::optional<int> Wait(int timeoutMs) {
    if (status_) return status_;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      int status = 0;
      const pid_t r = ::waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return status_;
      }
      if (std::chrono::steady_clock::now() > end) return std::nullopt;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  // SIGTERM, then SIGKILL if it does not go within two seconds.
  void Stop() {
    if (pid_ <= 0 || status_) return;
    ::kill(pid_, SIGTERM);
    if (!Wait(2000)) {
      ::kill(pid_, SIGKILL);
      Wait(2000);
    }
  }

 private:
  bool ReadSome(int timeoutMs) {
    pollfd p{out_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return false;
    char chunk[4096];
    const ssize_t n = ::read(out_, chunk, sizeof chunk);
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<std::size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  std::string buffer_;
  std::optional<int> status_;
};

// The simulator, started with the given options; knows its device and the
// port name the window takes.
class Simulator {
 public:
  explicit Simulator(std::vector<std::string> options, const std::string& stderrPath = "/dev/null")
      : child_(Prepend(std::move(options)), stderrPath) {
    const auto device = child_.Line();
    const auto port = child_.Line();
    if (!device || device->rfind("device: ", 0) != 0 || !port || port->rfind("port: ", 0) != 0) {
      throw std::runtime_error("rilvano-sim did not report its port");
    }
    device_ = device->substr(8);
    port_ = port->substr(6);
  }
  const std::string& Device() const { return device_; }
  const std::string& Port() const { return port_; }
  Child& Process() { return child_; }

 private:
  static std::vector<std::string> Prepend(std::vector<std::string> options) {
    options.insert(options.begin(), RILVANO_SIM_PATH);
    return options;
  }
  Child child_;
  std::string device_;
  std::string port_;
};

// Runs a command to its end; its exit status and stdout.
inline std::pair<int, std::string> RunToEnd(const std::vector<std::string>& argv, int timeoutMs = 20000) {
  Child child(argv);
  std::string out = child.Output(timeoutMs);
  const auto status = child.Wait(timeoutMs);
  return {status.value_or(-1), out};
}

}  // namespace rilvano::e2e
