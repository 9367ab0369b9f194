// The platform layer on POSIX terminals: a file descriptor is the handle, and
// poll with a monotonic clock gives reads and writes the Win32 time-out rules.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "serial/comm.h"
#include "serial/comm_posix.h"
#include "serial/port_names.h"

#if defined(__linux__)
#include <sys/sysmacros.h>

#include "serial/baud_linux.h"
#endif

namespace rilvano::comm {

namespace {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

constexpr std::uint32_t kMaxDword = 0xFFFFFFFFu;

// ---- settings texts ------------------------------------------------------

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool ParseBaud(std::string_view s, std::uint32_t& baud) {
  if (s.empty()) return false;
  std::uint64_t value = 0;
  for (char c : s) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
    if (value > kMaxDword) return false;
  }
  if (value == 0) return false;
  baud = static_cast<std::uint32_t>(value);
  return true;
}

bool ParseParity(std::string_view s, char& parity) {
  if (s.size() != 1) return false;
  const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(s[0])));
  if (std::string_view("neoms").find(c) == std::string_view::npos) return false;
  parity = c;
  return true;
}

bool ParseDataBits(std::string_view s, std::uint8_t& bits) {
  if (s.size() != 1 || s[0] < '5' || s[0] > '8') return false;
  bits = static_cast<std::uint8_t>(s[0] - '0');
  return true;
}

bool ParseStopBits(std::string_view s, std::uint8_t& stop) {
  if (s == "1") stop = 1;
  else if (s == "1.5") stop = 15;
  else if (s == "2") stop = 2;
  else return false;
  return true;
}

// "9600,n,8,1": baud first, then optional parity, data bits and stop bits.
bool ParsePositional(std::string_view text, LineSettings& dcb) {
  std::vector<std::string_view> fields;
  for (std::size_t start = 0;;) {
    const std::size_t comma = text.find(',', start);
    fields.push_back(Trim(text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start)));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  if (fields.size() > 4) return false;
  if (!ParseBaud(fields[0], dcb.baud)) return false;
  if (fields.size() > 1 && !ParseParity(fields[1], dcb.parity)) return false;
  if (fields.size() > 2 && !ParseDataBits(fields[2], dcb.dataBits)) return false;
  if (fields.size() > 3 && !ParseStopBits(fields[3], dcb.stopBits)) return false;
  return true;
}

// "baud=9600 parity=N data=8 stop=1", in any order; baud is required.
bool ParseKeywords(std::string_view text, LineSettings& dcb) {
  bool baud = false, parity = false, data = false, stop = false;
  std::size_t i = 0;
  while (true) {
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i == text.size()) break;
    std::size_t end = i;
    while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end]))) ++end;
    const std::string_view item = text.substr(i, end - i);
    i = end;
    const std::size_t eq = item.find('=');
    if (eq == std::string_view::npos) return false;
    std::string key(item.substr(0, eq));
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string_view value = item.substr(eq + 1);
    bool ok = false;
    if (key == "baud" && !baud) ok = baud = ParseBaud(value, dcb.baud);
    else if (key == "parity" && !parity) ok = parity = ParseParity(value, dcb.parity);
    else if (key == "data" && !data) ok = data = ParseDataBits(value, dcb.dataBits);
    else if (key == "stop" && !stop) ok = stop = ParseStopBits(value, dcb.stopBits);
    if (!ok) return false;
  }
  return baud;
}

bool ParseSettings(std::string_view text, LineSettings& dcb) {
  LineSettings parsed;
  parsed.parity = 'n';
  parsed.dataBits = 8;
  parsed.stopBits = 1;
  const bool ok = text.find('=') != std::string_view::npos ? ParseKeywords(text, parsed) : ParsePositional(text, parsed);
  if (ok) dcb = parsed;
  return ok;
}

// ---- line settings -------------------------------------------------------

#if defined(__linux__)
struct SpeedEntry {
  std::uint32_t baud;
  speed_t speed;
};
constexpr SpeedEntry kSpeeds[] = {
    {50, B50},         {75, B75},         {110, B110},         {134, B134},         {150, B150},
    {200, B200},       {300, B300},       {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

std::optional<speed_t> StandardSpeed(std::uint32_t baud) {
  for (const SpeedEntry& e : kSpeeds) {
    if (e.baud == baud) return e.speed;
  }
  return std::nullopt;
}
#endif

// The rate the line is set to, 0 when it cannot be told.
std::uint32_t LineRate(int fd) {
  struct termios t {};
  if (::tcgetattr(fd, &t) != 0) return 0;
#if defined(__linux__)
  for (const SpeedEntry& e : kSpeeds) {
    if (e.speed == ::cfgetospeed(&t)) return e.baud;
  }
  return 0;
#else
  return static_cast<std::uint32_t>(::cfgetospeed(&t));  // BSD speeds are the rates
#endif
}

// Fills the raw 8N1-style frame a settings block asks for; false for values
// the line cannot carry.
bool FrameFlags(const LineSettings& dcb, tcflag_t& cflag) {
  cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#if defined(CMSPAR)
  cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
  cflag |= CLOCAL | CREAD;
  switch (dcb.dataBits) {
    case 5: cflag |= CS5; break;
    case 6: cflag |= CS6; break;
    case 7: cflag |= CS7; break;
    case 8: cflag |= CS8; break;
    default: return false;
  }
  switch (dcb.parity) {
    case 'n': break;
    case 'e': cflag |= PARENB; break;
    case 'o': cflag |= PARENB | PARODD; break;
#if defined(CMSPAR)
    case 'm': cflag |= PARENB | PARODD | CMSPAR; break;
    case 's': cflag |= PARENB | CMSPAR; break;
#endif
    default: return false;
  }
  switch (dcb.stopBits) {
    case 1: break;
    case 2: cflag |= CSTOPB; break;
    case 15:  // one and a half exists only beside 5 data bits
      if (dcb.dataBits != 5) return false;
      cflag |= CSTOPB;
      break;
    default: return false;
  }
  return true;
}

// ---- handles ---------------------------------------------------------------

struct Port {
  bool terminal = false;
  Timeouts timeouts{};
};

class PosixPlatform final : public Platform {
 public:
  Handle CreateFile(const std::string& port) override;
  bool SetCommTimeouts(Handle handle, const Timeouts& timeouts) override;
  bool BuildCommDCB(const std::string& settings, LineSettings& dcb) override;
  bool SetCommState(Handle handle, const LineSettings& dcb) override;
  std::uint32_t GetLastError() override { return lastError_; }
  bool CloseHandle(Handle handle) override;
  bool ReadFile(Handle handle, std::uint8_t* buffer, std::uint32_t size, std::uint32_t& transferred) override;
  bool WriteFile(Handle handle, const std::uint8_t* buffer, std::uint32_t size, std::uint32_t& transferred) override;
  bool FlushFileBuffers(Handle handle) override;

 private:
  bool Fail(int error) {
    lastError_ = static_cast<std::uint32_t>(error);
    return false;
  }
  // The port behind a handle this backend opened; nullopt (EBADF) otherwise.
  std::optional<Port> Find(Handle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = ports_.find(handle);
    if (it == ports_.end()) return std::nullopt;
    return it->second;
  }

  std::mutex mutex_;
  std::map<Handle, Port> ports_;
  std::uint32_t lastError_ = 0;
};

// Devices no port name may reach, however the path was spelled: the
// controlling terminal, the console and the virtual consoles.
bool IsForbiddenDevice(int fd, const struct stat& st) {
  if (::isatty(fd) && ::tcgetsid(fd) != -1) return true;  // our own terminal
#if defined(__linux__)
  if (S_ISCHR(st.st_mode)) {
    const unsigned major = ::major(st.st_rdev), minor = ::minor(st.st_rdev);
    if (major == 5 && (minor == 0 || minor == 1)) return true;
    if (major == 4 && minor < 64) return true;
  }
#else
  (void)st;
#endif
  return false;
}

// The kernel makes nodes for UARTs that may not exist (ttyS2, ttyS3 on most
// PCs): such a node opens, then fails every call to its driver with EIO.
// Windows has no COM port there, and neither do we.
bool NoHardwareBehind(int fd) {
  struct termios t {};
  return ::tcgetattr(fd, &t) != 0 && errno == EIO;
}

Handle PosixPlatform::CreateFile(const std::string& port) {
  const std::string path = DevicePath(port);
  if (path.empty()) {
    Fail(ENOENT);
    return kInvalidHandle;
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    Fail(errno);
    return kInvalidHandle;
  }
  auto abandon = [&](int error) {
    ::close(fd);
    Fail(error);
    return kInvalidHandle;
  };
  struct stat st {};
  if (::fstat(fd, &st) != 0) return abandon(errno);
  if (IsForbiddenDevice(fd, st)) return abandon(EACCES);
  // Share mode 0, as near as POSIX gets: flock keeps out every program that
  // takes the lock too (root included); TIOCEXCL below makes any other open()
  // fail with EBUSY, except for a privileged process.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return abandon(errno == EWOULDBLOCK ? EBUSY : errno);
  if (NoHardwareBehind(fd)) return abandon(ENXIO);
  Port state;
  state.terminal = ::isatty(fd) != 0;
  if (state.terminal) {
    if (::ioctl(fd, TIOCEXCL) != 0) return abandon(errno);
    ::tcflush(fd, TCIFLUSH);  // a port opens with an empty input queue
  }
  std::lock_guard<std::mutex> lock(mutex_);
  ports_[fd] = state;
  return fd;
}

bool PosixPlatform::SetCommTimeouts(Handle handle, const Timeouts& timeouts) {
  if (!Find(handle)) return Fail(EBADF);
  struct termios t {};
  if (::tcgetattr(static_cast<int>(handle), &t) != 0) return Fail(errno);
  std::lock_guard<std::mutex> lock(mutex_);
  ports_[handle].timeouts = timeouts;
  return true;
}

bool PosixPlatform::BuildCommDCB(const std::string& settings, LineSettings& dcb) {
  return ParseSettings(settings, dcb) || Fail(EINVAL);
}

bool PosixPlatform::SetCommState(Handle handle, const LineSettings& dcb) {
  const auto port = Find(handle);
  if (!port) return Fail(EBADF);
  if (!port->terminal) return Fail(ENOTTY);
  const int fd = static_cast<int>(handle);
  struct termios t {};
  if (::tcgetattr(fd, &t) != 0) return Fail(errno);
  ::cfmakeraw(&t);
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK);
  if (dcb.baud == 0 || !FrameFlags(dcb, t.c_cflag)) return Fail(EINVAL);
  t.c_cc[VMIN] = 1;  // with O_NONBLOCK: EAGAIN when empty, 0 only at hang-up
  t.c_cc[VTIME] = 0;
#if defined(__linux__)
  const auto standard = StandardSpeed(dcb.baud);
  const speed_t speed = standard ? *standard : B38400;
  if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0) return Fail(errno);
  if (::tcsetattr(fd, TCSANOW, &t) != 0) return Fail(errno);
  if (!standard && !SetArbitraryBaud(fd, dcb.baud)) return Fail(errno);
#else
  // BSD and macOS take the rate itself as the speed value.
  if (::cfsetspeed(&t, static_cast<speed_t>(dcb.baud)) != 0) return Fail(errno);
  if (::tcsetattr(fd, TCSANOW, &t) != 0) return Fail(errno);
#endif
  return true;
}

// ---- transmit queue ----------------------------------------------------------

// tcdrain can wait forever: an adapter held by flow control, or a device that
// stopped reading, never drains, and then neither Close nor closing the window
// would return. So the queue is watched for a bounded time instead, and what
// is still in it after that is discarded.
constexpr Millis kDrainLimit(3000);

int QueuedForTransmit(int fd) {
  int queued = 0;
  if (::ioctl(fd, TIOCOUTQ, &queued) != 0) return -1;
  return queued;
}

// The driver's queue can be empty while the UART still holds bytes; drivers
// that can tell say so in the line status.
bool UartHolding(int fd) {
#if defined(TIOCSERGETLSR)
  unsigned int lsr = 0;
  return ::ioctl(fd, TIOCSERGETLSR, &lsr) == 0 && !(lsr & TIOCSER_TEMT);
#else
  (void)fd;
  return false;
#endif
}

// What a UART holds once the driver's queue is empty goes out within a FIFO
// of 64 characters at the line's rate. A line status that never says empty
// (QEMU's FTDI adapter sends no transmitter bits) must not hold every flush,
// and so every idle poll, for the whole drain limit.
Millis UartDrainTime(int fd) {
  const std::uint32_t rate = std::max<std::uint32_t>(LineRate(fd), 300);
  return Millis(64 * 10 * 1000 / rate + 20);
}

std::mutex drainMutex;
TransmitQueueProbe drainProbe = QueuedForTransmit;
Millis drainLimit = kDrainLimit;

// Waits until the transmit queue is empty, at most the drain limit; false
// (with the unsent bytes discarded) when it did not empty in time.
bool DrainOutput(int fd) {
  TransmitQueueProbe probe;
  Millis limit;
  {
    std::lock_guard<std::mutex> lock(drainMutex);
    probe = drainProbe;
    limit = drainLimit;
  }
  const auto deadline = Clock::now() + limit;
  std::optional<Clock::time_point> uartDeadline;
  for (;;) {
    const int queued = probe(fd);
    if (queued < 0) return true;  // the driver cannot tell
    if (queued == 0) {
      if (!UartHolding(fd)) return true;
      if (!uartDeadline) uartDeadline = Clock::now() + UartDrainTime(fd);
      if (Clock::now() >= *uartDeadline) return true;
    }
    if (Clock::now() >= deadline) break;
    std::this_thread::sleep_for(Millis(2));
  }
  ::tcflush(fd, TCOFLUSH);
  return false;
}

bool PosixPlatform::CloseHandle(Handle handle) {
  Port port;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = ports_.find(handle);
    if (it == ports_.end()) return Fail(EBADF);
    port = it->second;
    ports_.erase(it);
  }
  const int fd = static_cast<int>(handle);
  if (port.terminal) {
    // close() itself would wait for a stuck queue (up to the driver's closing
    // wait, 30 s by default).
    DrainOutput(fd);
    ::ioctl(fd, TIOCNXCL);
  }
  return ::close(fd) == 0 || Fail(errno);  // the lock goes with the descriptor
}

// Milliseconds for poll until `deadline`, at least 1 so a wait always ends
// strictly after it.
int PollMillis(Clock::time_point now, Clock::time_point deadline) {
  const auto left = std::chrono::ceil<Millis>(deadline - now).count();
  return static_cast<int>(std::clamp<long long>(left, 1, 1 << 30));
}

constexpr short kLineDown = POLLHUP | POLLERR | POLLNVAL;

bool PosixPlatform::ReadFile(Handle handle, std::uint8_t* buffer, std::uint32_t size, std::uint32_t& transferred) {
  transferred = 0;
  const auto port = Find(handle);
  if (!port) return Fail(EBADF);
  if (!port->terminal) return Fail(ENOTTY);
  const int fd = static_cast<int>(handle);
  const Timeouts& to = port->timeouts;
  const auto start = Clock::now();
  // Win32 rules: interval MAXDWORD with no totals returns what is there; a
  // zero interval or zero total means that limit is not used.
  const bool immediate = to.readInterval == kMaxDword && to.readTotalMultiplier == 0 && to.readTotalConstant == 0;
  const std::uint64_t total = std::uint64_t{to.readTotalMultiplier} * size + to.readTotalConstant;
  const std::optional<Clock::time_point> totalDeadline =
      total > 0 ? std::optional(start + Millis(total)) : std::nullopt;
  const bool useInterval = to.readInterval != 0 && to.readInterval != kMaxDword;
  Clock::time_point lastByte{};
  // The interval runs from the last byte and only once one has come; it ends
  // the read when exceeded, not when merely reached.
  auto deadline = [&]() -> std::optional<Clock::time_point> {
    std::optional<Clock::time_point> end = totalDeadline;
    if (useInterval && transferred > 0) {
      const auto intervalEnd = lastByte + Millis(to.readInterval) + std::chrono::microseconds(1);
      if (!end || intervalEnd < *end) end = intervalEnd;
    }
    return end;
  };

  // A line that is down (an adapter pulled out, a node with no UART) fails
  // at once; the read still takes its time, or the poller would spin on it.
  auto down = [&](int error) {
    if (transferred == 0 && totalDeadline) std::this_thread::sleep_until(*totalDeadline);
    return Fail(error);
  };

  while (transferred < size) {
    const ssize_t got = ::read(fd, buffer + transferred, size - transferred);
    if (got > 0) {
      transferred += static_cast<std::uint32_t>(got);
      lastByte = Clock::now();
      continue;
    }
    if (got == 0) return down(EIO);  // hung up
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return down(errno);  // EIO: far side gone
    if (immediate) break;

    const auto end = deadline();
    const auto now = Clock::now();
    if (end && now >= *end) break;
    struct pollfd p {fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, end ? PollMillis(now, *end) : -1);
    if (ready < 0 && errno != EINTR) return down(errno);
    if (ready > 0 && (p.revents & kLineDown) && !(p.revents & POLLIN)) return down(EIO);
    // Bytes that come after the time-out belong to the next read.
    if (ready == 0 && end && Clock::now() >= *end) break;
  }
  return true;
}

bool PosixPlatform::WriteFile(Handle handle, const std::uint8_t* buffer, std::uint32_t size,
                              std::uint32_t& transferred) {
  transferred = 0;
  const auto port = Find(handle);
  if (!port) return Fail(EBADF);
  if (!port->terminal) return Fail(ENOTTY);
  const int fd = static_cast<int>(handle);
  const std::uint64_t total =
      std::uint64_t{port->timeouts.writeTotalMultiplier} * size + port->timeouts.writeTotalConstant;
  const auto start = Clock::now();
  while (transferred < size) {
    const ssize_t put = ::write(fd, buffer + transferred, size - transferred);
    if (put > 0) {
      transferred += static_cast<std::uint32_t>(put);
      continue;
    }
    if (put == 0) return Fail(EIO);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return Fail(errno);
    const auto now = Clock::now();
    if (total > 0 && now >= start + Millis(total)) return Fail(ETIMEDOUT);
    struct pollfd p {fd, POLLOUT, 0};
    const int ready = ::poll(&p, 1, total > 0 ? PollMillis(now, start + Millis(total)) : -1);
    if (ready < 0 && errno != EINTR) return Fail(errno);
    if (ready > 0 && (p.revents & kLineDown) && !(p.revents & POLLOUT)) return Fail(EIO);
  }
  return true;
}

bool PosixPlatform::FlushFileBuffers(Handle handle) {
  const auto port = Find(handle);
  if (!port) return Fail(EBADF);
  if (!port->terminal) return Fail(ENOTTY);
  // Waits for the transmit queue only; received input stays where it is.
  return DrainOutput(static_cast<int>(handle)) || Fail(ETIMEDOUT);
}

}  // namespace

void SetTransmitQueueProbe(TransmitQueueProbe probe, std::chrono::milliseconds limit) {
  std::lock_guard<std::mutex> lock(drainMutex);
  drainProbe = probe != nullptr ? probe : QueuedForTransmit;
  drainLimit = probe != nullptr ? limit : kDrainLimit;
}

Platform& NativePlatform() {
  static PosixPlatform platform;
  return platform;
}

}  // namespace rilvano::comm
