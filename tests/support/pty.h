// A pseudo-terminal pair for serial tests: the test holds the master end and
// plays the device; the code under test opens the slave end. No Qt, so the
// core tests and the window tests share it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>

namespace rilvano::test {

// "/dev/pts/N" -> "PTSN:", the short name an operator types into the port box.
inline std::string PtsPortName(const std::string& device) {
  return "PTS" + device.substr(device.rfind('/') + 1) + ":";
}

class PtyPair {
 public:
  PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
      throw std::runtime_error(std::string("pty: ") + std::strerror(errno));
    }
    char name[128] = {};
    if (::ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("ptsname failed");
    path_ = name;  // "/dev/pts/N"
    portName_ = PtsPortName(path_);
  }
  ~PtyPair() { CloseMaster(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& Path() const { return path_; }
  int MasterFd() const { return master_; }
  const std::string& PortName() const { return portName_; }

  // Writes all bytes to the master end (what the slave device "sends").
  void Send(const std::string& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        throw std::runtime_error(std::string("pty write: ") + std::strerror(errno));
      }
      done += static_cast<std::size_t>(n);
    }
  }

  // What the program wrote to the port, waiting up to `timeoutMs` for the
  // first byte and `quietMs` of silence after the last one.
  std::string Receive(int timeoutMs = 2000, int quietMs = 100) const {
    std::string out;
    const auto start = Clock::now();
    auto last = start;
    for (;;) {
      const auto now = Clock::now();
      const auto waited = out.empty() ? Millis(now - start) : Millis(now - last);
      const int limit = out.empty() ? timeoutMs : quietMs;
      if (waited >= limit) break;
      if (!ReadSome(out, out.size() + 256, static_cast<int>(std::min<long long>(limit - waited, 10)))) continue;
      last = Clock::now();
    }
    return out;
  }

  // Up to `count` bytes, waiting at most `timeoutMs` for them.
  std::string ReceiveCount(std::size_t count, int timeoutMs = 2000) const {
    std::string out;
    const auto start = Clock::now();
    while (out.size() < count && Millis(Clock::now() - start) < timeoutMs) ReadSome(out, count, 50);
    return out;
  }

  // Hangs up the device side.
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  using Clock = std::chrono::steady_clock;
  static long long Millis(Clock::duration d) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
  }

  // Appends what is waiting (up to `upTo` bytes in all) after at most
  // `waitMs`; false when nothing came.
  bool ReadSome(std::string& out, std::size_t upTo, int waitMs) const {
    pollfd p{master_, POLLIN, 0};
    const int ready = ::poll(&p, 1, waitMs);
    if (ready <= 0) return false;
    if ((p.revents & POLLIN) == 0) {  // hung up (no slave open): poll would not wait
      ::usleep(2000);
      return false;
    }
    char buf[512];
    const ssize_t n = ::read(master_, buf, std::min(sizeof buf, upTo - out.size()));
    if (n <= 0) return false;
    out.append(buf, static_cast<std::size_t>(n));
    return true;
  }

  int master_ = -1;
  std::string path_;
  std::string portName_;
};

}  // namespace rilvano::test
