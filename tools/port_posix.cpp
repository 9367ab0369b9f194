// The POSIX line ends: the master side of a pseudo-terminal the simulator
// makes, or a serial device (--device) opened the way the program opens its
// port. SIGINT and SIGTERM are let in only while the loop waits in ppoll, so
// a stop is never missed between a check and a wait.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>

#include "serial/comm.h"
#include "tools/port.h"

#if defined(__linux__)
#include "serial/baud_linux.h"
#endif

namespace rilvano::sim {

namespace {

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

// Installs the stop handlers and blocks their signals; the mask to wait with.
sigset_t CatchStopSignals() {
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  sigset_t blocked;
  sigset_t waitMask;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGINT);
  sigaddset(&blocked, SIGTERM);
  sigprocmask(SIG_BLOCK, &blocked, &waitMask);
  sigdelset(&waitMask, SIGINT);
  sigdelset(&waitMask, SIGTERM);
  return waitMask;
}

// A line end on a file descriptor that poll understands.
class FdPort : public Port {
 public:
  FdPort(int fd, const sigset_t& waitMask) : fd_(fd), waitMask_(waitMask) {}

  Events Wait(double timeoutMs, bool wantWrite) override {
    Events events;
    double wait = std::max(timeoutMs, 0.0);
    // With no master holding the slave side, the master end reports a
    // hang-up at once: look again in a while instead of spinning on it.
    if (!present_) wait = std::min(wait, 20.0);
    const timespec ts{static_cast<time_t>(wait / 1e3), static_cast<long>(std::fmod(wait, 1e3) * 1e6)};
    pollfd pfd{fd_, static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0)), 0};
    const int ready = ppoll(&pfd, present_ ? 1 : 0, &ts, &waitMask_);
    events.stop = g_stop != 0;
    if (ready < 0) return events;  // a signal: the stop flag decides
    if (!present_) {
      pollfd probe{fd_, POLLIN, 0};
      present_ = poll(&probe, 1, 0) >= 0 && !(probe.revents & POLLHUP);
      if (!present_ || !(probe.revents & POLLIN)) return events;
      pfd.revents = probe.revents;
    }
    revents_ = pfd.revents;
    events.readable = (pfd.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    return events;
  }

  long Read(char* buffer, std::size_t size) override {
    const ssize_t n = ::read(fd_, buffer, size);
    if (n > 0) return static_cast<long>(n);
    if (n < 0 && (errno == EAGAIN || errno == EINTR) && !(revents_ & (POLLHUP | POLLERR))) return 0;
    present_ = false;
    return -1;
  }

  long Write(const char* data, std::size_t size) override {
    const ssize_t n = ::write(fd_, data, size);
    if (n >= 0) return static_cast<long>(n);
    return errno == EAGAIN || errno == EINTR ? 0 : -1;
  }

 protected:
  int fd_;
  bool present_ = true;

 private:
  sigset_t waitMask_;
  short revents_ = 0;
};

// The master end of a pseudo-terminal; the master of the Modbus line (the
// window) opens its slave end.
class PtyPort final : public FdPort {
 public:
  PtyPort(int fd, std::string device, std::string link, const sigset_t& waitMask)
      : FdPort(fd, waitMask), device_(std::move(device)), link_(std::move(link)) {}
  ~PtyPort() override {
    if (!link_.empty()) RemoveLink();
    close(fd_);
  }

  static std::unique_ptr<Port> Open(const Options& options, const sigset_t& waitMask, std::string& error) {
    const int fd = posix_openpt(O_RDWR | O_NOCTTY);
    const char* name = fd >= 0 && grantpt(fd) == 0 && unlockpt(fd) == 0 ? ptsname(fd) : nullptr;
    if (name == nullptr) {
      error = std::string("cannot make a pseudo-terminal: ") + std::strerror(errno);
      if (fd >= 0) close(fd);
      return nullptr;
    }
    // Raw until a master configures it: no echo, no line editing, no CR
    // translation that would alter a frame.
    termios tio{};
    if (tcgetattr(fd, &tio) == 0) {
      cfmakeraw(&tio);
      tcsetattr(fd, TCSANOW, &tio);
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    auto port = std::make_unique<PtyPort>(fd, name, "", waitMask);
    if (!options.link.empty()) {
      if (!MakeLink(options.link, port->device_, error)) return nullptr;
      port->link_ = options.link;
    }
    return port;
  }

  std::string Device() const override { return device_; }
  std::string PortName() const override { return PortNameFor(device_); }
  std::string Lost() const override { return {}; }  // masters come and go

  // On Linux the master end reads the termios of the slave end: the rate
  // the master set.
  unsigned MasterBaud() override {
#if defined(__linux__)
    return comm::ArbitraryBaud(fd_);
#else
    termios tio{};
    return tcgetattr(fd_, &tio) == 0 ? static_cast<unsigned>(cfgetospeed(&tio)) : 0;
#endif
  }

 private:
  static bool MakeLink(const std::string& link, const std::string& device, std::string& error) {
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0) {
      if (!S_ISLNK(st.st_mode)) {
        error = link + " exists and is not a symbolic link";
        return false;
      }
      unlink(link.c_str());
    }
    if (symlink(device.c_str(), link.c_str()) != 0) {
      error = "cannot make link " + link + ": " + std::strerror(errno);
      return false;
    }
    return true;
  }

  void RemoveLink() const {
    char target[4096];
    const ssize_t n = readlink(link_.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == device_) unlink(link_.c_str());
  }

  std::string device_;
  std::string link_;
};

// A serial device, opened and set up by the program's own port layer: raw
// 8N1 at --baud (any rate Linux takes), locked against other programs. Its
// UART paces the line.
class DevicePort final : public FdPort {
 public:
  DevicePort(comm::Handle handle, std::string device, const sigset_t& waitMask)
      : FdPort(static_cast<int>(handle), waitMask), handle_(handle), device_(std::move(device)) {}
  ~DevicePort() override { comm::NativePlatform().CloseHandle(handle_); }

  static std::unique_ptr<Port> Open(const Options& options, const sigset_t& waitMask, std::string& error) {
    comm::Platform& platform = comm::NativePlatform();
    const comm::Handle handle = platform.CreateFile(options.device);
    if (handle == comm::kInvalidHandle) {
      const int code = static_cast<int>(platform.GetLastError());
      error = "cannot open " + options.device + ": " +
              (code == EBUSY ? std::string("in use by another program") : std::strerror(code));
      return nullptr;
    }
    if (!platform.SetCommState(handle, DeviceSettings(options))) {
      const int code = static_cast<int>(platform.GetLastError());
      platform.CloseHandle(handle);
      error = "cannot set " + options.device + " to " + std::to_string(options.baud) + " baud, 8N1: " +
              std::strerror(code);
      return nullptr;
    }
    return std::make_unique<DevicePort>(handle, options.device, waitMask);
  }

  std::string Device() const override { return device_; }
  std::string PortName() const override { return {}; }  // the window is on the other end
  unsigned MasterBaud() override { return 0; }           // the far end's rate is not ours to read
  std::string Lost() const override { return present_ ? std::string() : device_ + ": the device went away"; }

 private:
  comm::Handle handle_;
  std::string device_;
};

}  // namespace

std::unique_ptr<Port> OpenPort(const Options& options, std::string& error) {
  const sigset_t waitMask = CatchStopSignals();
  // A timed line stands in for hardware, whose pace no load on the computer
  // changes: a better place in the queue for the CPU where that is allowed.
  if (options.line) setpriority(PRIO_PROCESS, 0, -10);
  if (!options.device.empty()) return DevicePort::Open(options, waitMask, error);
  return PtyPort::Open(options, waitMask, error);
}

}  // namespace rilvano::sim
