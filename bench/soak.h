// The bookkeeping of a soak run, the same for the Qt and the Win32 driver:
// the gap between ticks, and one sample line every few seconds that
// scripts/soak reads:
//   sample SECONDS RESIDENT_KB TEXT2_UNITS LOG_BYTES LONGEST_GAP_MS TICKS CLICKS TRIMS
// LONGEST_GAP_MS is the longest pause between two ticks since the previous
// sample; TRIMS counts the ticks after which Text2 was shorter than before
// (the pane at its cap let go of its oldest lines). No toolkit here.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace rilvano::soak {

struct Options {
  std::string port;
  double seconds = 0;        // streaming time; then the line drains and the port closes
  double sampleSeconds = 2;
  double clickSeconds = 1;   // one request click this often
};

// soak PORT SECONDS [SAMPLE_SECONDS]; false (usage printed) on bad arguments.
inline bool ParseArgs(int argc, char** argv, Options& o) {
  if (argc < 3 || (o.seconds = std::atof(argv[2])) <= 0) {
    std::fprintf(stderr, "usage: %s PORT SECONDS [SAMPLE_SECONDS]\n", argv[0]);
    return false;
  }
  o.port = argv[1];
  if (argc > 3) o.sampleSeconds = std::max(0.1, std::atof(argv[3]));
  return true;
}

inline std::uintmax_t FileBytes(const std::string& path) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  return error ? 0 : size;
}

class Recorder {
 public:
  explicit Recorder(double startMs) : start_(startMs), nextSample_(startMs) {}

  void Tick(double nowMs) {
    if (lastTick_ > 0) gap_ = std::max(gap_, nowMs - lastTick_);
    lastTick_ = nowMs;
    ++ticks_;
  }
  void Click() { ++clicks_; }
  // Text2's length after a tick.
  void Pane(std::size_t units) {
    if (units < paneUnits_) ++trims_;
    paneUnits_ = units;
  }
  bool SampleDue(double nowMs) const { return nowMs >= nextSample_; }

  void Sample(double nowMs, double sampleSeconds, long residentKb, std::size_t text2Units, std::uintmax_t logBytes) {
    std::printf("sample %.1f %ld %zu %ju %.1f %lu %lu %lu\n", (nowMs - start_) / 1e3, residentKb, text2Units, logBytes,
                gap_, ticks_, clicks_, trims_);
    std::fflush(stdout);
    gap_ = 0;
    nextSample_ = nowMs + sampleSeconds * 1e3;
  }

 private:
  double start_;
  double nextSample_;
  double lastTick_ = 0;
  double gap_ = 0;
  unsigned long ticks_ = 0;
  unsigned long clicks_ = 0;
  unsigned long trims_ = 0;
  std::size_t paneUnits_ = 0;
};

}  // namespace rilvano::soak
