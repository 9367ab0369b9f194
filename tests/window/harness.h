// Shared pieces for the tests that drive the real window offscreen: a fresh
// working directory per test, pseudo-terminal pairs, captured message boxes
// and exact file bytes. Header-only; link qt_main.cpp for the QApplication.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>

#include "window/MessageBox.h"

namespace rilvano::test {

// Each test runs in its own empty directory, so log files never meet.
class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = std::filesystem::current_path();
    std::string tmpl = (std::filesystem::temp_directory_path() / "rilvano-test-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) {
      FAIL() << "mkdtemp: " << std::strerror(errno);
    }
    dir_ = tmpl;
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(old_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  const std::filesystem::path& Dir() const { return dir_; }

 private:
  std::filesystem::path old_;
  std::filesystem::path dir_;
};

// The exact bytes of a file; empty when it cannot be read.
inline std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A pseudo-terminal pair: the test holds the master end, the program opens
// the slave end by the name "PTSn:".
class PtyPair {
 public:
  PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
      throw std::runtime_error(std::string("pty: ") + std::strerror(errno));
    }
    const char* name = ::ptsname(master_);
    if (name == nullptr) throw std::runtime_error("ptsname failed");
    path_ = name;  // "/dev/pts/N"
    portName_ = "PTS" + path_.substr(path_.rfind('/') + 1) + ":";
  }
  ~PtyPair() {
    if (master_ >= 0) ::close(master_);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  int Master() const { return master_; }
  const std::string& Path() const { return path_; }
  // The name typed into the port box.
  const std::string& PortName() const { return portName_; }

  // Writes all bytes to the master end (what the slave device "sends").
  void Send(const std::string& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        throw std::runtime_error(std::string("pty write: ") + std::strerror(errno));
      }
      done += static_cast<std::size_t>(n);
    }
  }

  // Reads what the program wrote to the port, waiting up to `timeoutMs` for
  // the first byte and `quietMs` of silence after the last one.
  std::string Receive(int timeoutMs = 2000, int quietMs = 100) const {
    std::string out;
    QElapsedTimer clock;
    clock.start();
    qint64 lastByte = -1;
    const int flags = ::fcntl(master_, F_GETFL);
    ::fcntl(master_, F_SETFL, flags | O_NONBLOCK);
    for (;;) {
      char buf[256];
      ssize_t n = ::read(master_, buf, sizeof buf);
      if (n > 0) {
        out.append(buf, static_cast<std::size_t>(n));
        lastByte = clock.elapsed();
        continue;
      }
      const qint64 now = clock.elapsed();
      if (lastByte >= 0 ? now - lastByte >= quietMs : now >= timeoutMs) break;
      ::usleep(2000);
    }
    ::fcntl(master_, F_SETFL, flags);
    return out;
  }

 private:
  int master_ = -1;
  std::string path_;
  std::string portName_;
};

// Captures every message box while alive; restores the real boxes after.
// `onShow` runs while the "box is up", e.g. to look at the timer.
class BoxCapture {
 public:
  BoxCapture() {
    SetBoxHandler([this](QWidget*, const BoxMessage& box) {
      boxes.push_back(box);
      if (onShow) onShow(box);
    });
  }
  ~BoxCapture() { SetBoxHandler(nullptr); }
  BoxCapture(const BoxCapture&) = delete;
  BoxCapture& operator=(const BoxCapture&) = delete;

  std::vector<BoxMessage> boxes;
  std::function<void(const BoxMessage&)> onShow;
};

// Runs the event loop for about `ms` milliseconds (timer ticks, repaints).
inline void ProcessEventsFor(int ms) {
  QElapsedTimer clock;
  clock.start();
  do {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  } while (clock.elapsed() < ms);
}

// Runs the event loop until `done()` holds or `timeoutMs` passes.
inline bool ProcessEventsUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

}  // namespace rilvano::test
