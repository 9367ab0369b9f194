// rilvano-sim: a Modbus RTU slave on the master side of a pseudo-terminal.
// One thread, one ppoll loop: request frames end after a silence, replies
// and the optional unsolicited stream are writes scheduled on a clock.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <string>
#include <vector>

#include "modbus/bytes.h"
#include "tools/slave.h"

namespace {

using rilvano::ByteString;
using namespace rilvano::sim;

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

double NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

struct Write {
  double due;
  ByteString bytes;
};

class Simulator {
 public:
  Simulator(const Options& options, int master, std::FILE* record)
      : options_(options), slave_(options), master_(master), record_(record) {}

  int Run();

 private:
  void TakeFrame();
  void Schedule(const ByteString& reply, double now);
  void FlushDue(double now);
  void Stream(double now);
  double NextWakeMs(double now) const;
  bool WantsToWrite(double now) const;
  // Writes what it can; every byte the line took goes to the record too.
  ssize_t Send(const ByteString& bytes);
  void Trace(const char* what, const ByteString& bytes) const {
    if (options_.verbose) std::fprintf(stderr, "%s %s\n", what, rilvano::HexList(bytes).c_str());
  }

  Options options_;
  Slave slave_;
  int master_;
  std::FILE* record_;
  ByteString frame_;
  double lastByte_ = 0;
  std::deque<Write> out_;
  unsigned long replies_ = 0;
  bool streaming_ = false;
  bool streamDone_ = false;
  double streamStart_ = 0;
  unsigned long long streamed_ = 0;
  unsigned long long maxLag_ = 0;
};

void Simulator::TakeFrame() {
  Trace("rx", frame_);
  ByteString reply = slave_.Answer(frame_);
  const double now = NowMs();
  if (!reply.empty()) {
    reply = InjectFaults(options_, std::move(reply), ++replies_);
    Schedule(reply, now);
  }
  frame_.clear();
  if (options_.streamRate > 0 && !streaming_ && !streamDone_) {
    streaming_ = true;
    streamStart_ = now;
  }
}

void Simulator::Schedule(const ByteString& reply, double now) {
  const double at = now + options_.delayMs;
  if (options_.splitPauseMs > 0) {
    const std::size_t cut = SplitPoint(options_, reply.size());
    out_.push_back({at, reply.substr(0, cut)});
    out_.push_back({at + options_.splitPauseMs, reply.substr(cut)});
  } else {
    out_.push_back({at, reply});
  }
}

void Simulator::FlushDue(double now) {
  while (!out_.empty() && out_.front().due <= now) {
    ByteString& bytes = out_.front().bytes;
    const ssize_t n = Send(bytes);
    if (n < 0) {
      // No master on the line (EIO) or its queue is full: a reply nobody
      // waits for is dropped, a full queue is retried on the next wake.
      if (errno == EAGAIN || errno == EINTR) return;
      out_.pop_front();
      continue;
    }
    Trace("tx", bytes.substr(0, static_cast<std::size_t>(n)));
    if (static_cast<std::size_t>(n) < bytes.size()) {
      bytes.erase(0, static_cast<std::size_t>(n));
      return;
    }
    out_.pop_front();
  }
}

ssize_t Simulator::Send(const ByteString& bytes) {
  const ssize_t n = ::write(master_, bytes.data(), bytes.size());
  if (n > 0 && record_ != nullptr) {
    // Flushed at once: a simulator that is killed still leaves its record.
    std::fwrite(bytes.data(), 1, static_cast<std::size_t>(n), record_);
    std::fflush(record_);
  }
  return n;
}

void Simulator::Stream(double now) {
  if (!streaming_ || !out_.empty()) return;  // replies go between stream chunks
  double elapsed = (now - streamStart_) / 1e3;
  if (options_.streamSeconds > 0 && elapsed >= options_.streamSeconds) elapsed = options_.streamSeconds;
  // Kept full, the line goes at the pace its reader takes it in.
  const auto target = options_.streamFill
                          ? (elapsed < options_.streamSeconds || options_.streamSeconds <= 0 ? streamed_ + 4096 : streamed_)
                          : static_cast<unsigned long long>(std::floor(options_.streamRate * elapsed));
  if (target > streamed_) {
    const unsigned long long lag = target - streamed_;
    if (!options_.streamFill && lag > maxLag_) maxLag_ = lag;
    ByteString chunk;
    const std::size_t size = lag > 4096 ? 4096 : static_cast<std::size_t>(lag);
    for (std::size_t i = 0; i < size; ++i) chunk += static_cast<char>(StreamByte(streamed_ + i));
    const ssize_t n = Send(chunk);
    if (n > 0) streamed_ += static_cast<unsigned long long>(n);
  }
  if (options_.streamSeconds > 0 && elapsed >= options_.streamSeconds && streamed_ >= target) {
    streaming_ = false;
    streamDone_ = true;
    std::printf("stream done: %llu bytes, largest lag %llu bytes\n", streamed_, maxLag_);
    std::fflush(stdout);
  }
}

double Simulator::NextWakeMs(double now) const {
  double wake = now + 500;
  if (!frame_.empty()) wake = std::min(wake, lastByte_ + options_.gapMs);
  if (!out_.empty()) wake = std::min(wake, out_.front().due);
  if (streaming_ && !options_.streamFill) wake = std::min(wake, now + 1);
  if (streaming_ && options_.streamFill && options_.streamSeconds > 0) {
    wake = std::min(wake, streamStart_ + options_.streamSeconds * 1e3);
  }
  return wake;
}

// Room on the line is waited for only when something is ready to go.
bool Simulator::WantsToWrite(double now) const {
  if (!out_.empty()) return out_.front().due <= now;
  return streaming_ && options_.streamFill;
}

int Simulator::Run() {
  sigset_t blocked;
  sigset_t waitMask;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGINT);
  sigaddset(&blocked, SIGTERM);
  sigprocmask(SIG_BLOCK, &blocked, &waitMask);
  sigdelset(&waitMask, SIGINT);
  sigdelset(&waitMask, SIGTERM);

  bool masterPresent = true;
  while (!g_stop) {
    const double now = NowMs();
    FlushDue(now);
    Stream(now);
    if (!frame_.empty() && now - lastByte_ >= options_.gapMs) TakeFrame();

    double wait = NextWakeMs(NowMs()) - NowMs();
    // With no master holding the slave side, the master end reports a
    // hang-up at once: look again in a while instead of spinning on it.
    if (!masterPresent) wait = std::min(std::max(wait, 0.0), 20.0);
    if (wait < 0) wait = 0;
    timespec ts{static_cast<time_t>(wait / 1e3), static_cast<long>(std::fmod(wait, 1e3) * 1e6)};
    pollfd pfd{master_, static_cast<short>(POLLIN | (WantsToWrite(NowMs()) ? POLLOUT : 0)), 0};
    const int ready = ppoll(&pfd, masterPresent ? 1 : 0, &ts, &waitMask);
    if (ready < 0) continue;  // a signal: the loop condition decides
    if (!masterPresent) {
      pollfd probe{master_, POLLIN, 0};
      masterPresent = poll(&probe, 1, 0) >= 0 && !(probe.revents & POLLHUP);
      if (!masterPresent || !(probe.revents & POLLIN)) continue;
      pfd.revents = probe.revents;
    }
    if (pfd.revents & POLLIN) {
      char buffer[512];
      const ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n > 0) {
        frame_.append(buffer, static_cast<std::size_t>(n));
        lastByte_ = NowMs();
        if (frame_.size() > 4096) frame_.erase(0, frame_.size() - 4096);  // a babbling master
        continue;
      }
    }
    if (pfd.revents & (POLLHUP | POLLERR)) {
      masterPresent = false;
      frame_.clear();
    }
  }
  if (options_.streamRate > 0 && !streamDone_) {
    std::printf("streamed: %llu bytes, largest lag %llu bytes\n", streamed_, maxLag_);
  }
  return 0;
}

int OpenMaster(std::string& device) {
  const int fd = posix_openpt(O_RDWR | O_NOCTTY);
  if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0) return -1;
  const char* name = ptsname(fd);
  if (name == nullptr) return -1;
  device = name;
  // Raw until a master configures it: no echo, no line editing, no CR
  // translation that would alter a frame.
  termios tio{};
  if (tcgetattr(fd, &tio) == 0) {
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  return fd;
}

bool MakeLink(const std::string& link, const std::string& device) {
  struct stat st {};
  if (lstat(link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      std::fprintf(stderr, "rilvano-sim: %s exists and is not a symbolic link\n", link.c_str());
      return false;
    }
    unlink(link.c_str());
  }
  if (symlink(device.c_str(), link.c_str()) != 0) {
    std::fprintf(stderr, "rilvano-sim: cannot make link %s: %s\n", link.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

void RemoveLink(const std::string& link, const std::string& device) {
  char target[4096];
  const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
  if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == device) unlink(link.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  bool help = false;
  const auto options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc), error, help);
  if (help) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  if (!options) {
    std::fprintf(stderr, "rilvano-sim: %s\n", error.c_str());
    return 2;
  }

  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::string device;
  const int master = OpenMaster(device);
  if (master < 0) {
    std::fprintf(stderr, "rilvano-sim: cannot make a pseudo-terminal: %s\n", std::strerror(errno));
    return 1;
  }
  if (!options->link.empty() && !MakeLink(options->link, device)) return 1;

  std::printf("device: %s\nport: %s\n", device.c_str(), PortNameFor(device).c_str());
  std::fflush(stdout);

  std::FILE* record = nullptr;
  if (!options->record.empty() && (record = std::fopen(options->record.c_str(), "wb")) == nullptr) {
    std::fprintf(stderr, "rilvano-sim: cannot write %s: %s\n", options->record.c_str(), std::strerror(errno));
    return 1;
  }
  const int rc = Simulator(*options, master, record).Run();
  if (record != nullptr) std::fclose(record);
  std::fflush(stdout);
  if (!options->link.empty()) RemoveLink(options->link, device);
  close(master);
  return rc;
}
