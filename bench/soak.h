// The bookkeeping of a soak run, the same for the Qt and the Win32 driver:
// the gap between ticks, and one sample line every few seconds that
// scripts/soak reads, after a first line `pane-cap UNITS` (the run's cap):
//   sample SECONDS RESIDENT_KB TEXT2_UNITS LOG_BYTES LONGEST_GAP_MS TICKS CLICKS TRIMS TEXT8_UNITS TEXT8_TRIMS
// LONGEST_GAP_MS is the longest pause between two ticks since the previous
// sample; TRIMS counts the ticks after which Text2 was shorter than before
// (the pane at its cap let go of its oldest lines), TEXT8_TRIMS the same for
// the read pane, which the clicks and their replies fill. No toolkit here.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace rilvano::soak {

struct Options {
  std::string port;
  double seconds = 0;        // streaming time; then the line drains and the port closes
  double sampleSeconds = 2;
  double clickSeconds = 1;   // one request click this often
  // The panes' cap for this run; 0 keeps the view's own. At the programs'
  // caps the read pane, filled by one line a click, lets go of its oldest
  // quarter only every few hours, so a soak sets a small one to see both
  // panes go round many times.
  std::size_t paneCap = 0;
};

// soak [--pane-cap=UNITS] PORT SECONDS [SAMPLE_SECONDS [CLICK_SECONDS]];
// false (usage printed) on bad arguments.
inline bool ParseArgs(int argc, char** argv, Options& o) {
  constexpr std::string_view kCapOption = "--pane-cap=";
  int first = 1;
  if (argc > 1 && std::string_view(argv[1]).substr(0, kCapOption.size()) == kCapOption) {
    o.paneCap = static_cast<std::size_t>(std::strtoul(argv[1] + kCapOption.size(), nullptr, 10));
    ++first;
  }
  if (argc < first + 2 || (o.seconds = std::atof(argv[first + 1])) <= 0) {
    std::fprintf(stderr, "usage: %s [--pane-cap=UNITS] PORT SECONDS [SAMPLE_SECONDS [CLICK_SECONDS]]\n", argv[0]);
    return false;
  }
  o.port = argv[first];
  if (argc > first + 2) o.sampleSeconds = std::max(0.1, std::atof(argv[first + 2]));
  if (argc > first + 3) o.clickSeconds = std::max(0.05, std::atof(argv[first + 3]));
  return true;
}

// Lines as a click leaves them in the read pane, about `units` UTF-16 units
// of them (every character here is one unit). The drivers start with the read
// pane this full, as after hours of clicks: at one click a second it would
// take the whole run to fill, and memory would grow with it.
inline std::string ReadPaneLines(std::size_t units) {
  const std::string line = "\r\nОтправка пакета:   01 03 00 00 00 01 84 0A ";
  // Characters, not bytes: every byte but a UTF-8 continuation starts one.
  const auto lineUnits = static_cast<std::size_t>(
      std::count_if(line.begin(), line.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
  std::string lines;
  for (std::size_t n = 0; n + lineUnits <= units; n += lineUnits) lines += line;
  return lines;
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
  // Text2's and Text8's lengths after a tick or a click.
  void Pane(std::size_t units) { Track(units, paneUnits_, trims_); }
  void ReadPane(std::size_t units) { Track(units, text8Units_, text8Trims_); }
  bool SampleDue(double nowMs) const { return nowMs >= nextSample_; }

  void Sample(double nowMs, double sampleSeconds, long residentKb, std::size_t text2Units, std::uintmax_t logBytes) {
    std::printf("sample %.1f %ld %zu %ju %.1f %lu %lu %lu %zu %lu\n", (nowMs - start_) / 1e3, residentKb, text2Units,
                logBytes, gap_, ticks_, clicks_, trims_, text8Units_, text8Trims_);
    std::fflush(stdout);
    gap_ = 0;
    nextSample_ = nowMs + sampleSeconds * 1e3;
  }

 private:
  static void Track(std::size_t units, std::size_t& last, unsigned long& trims) {
    if (units < last) ++trims;
    last = units;
  }

  double start_;
  double nextSample_;
  double lastTick_ = 0;
  double gap_ = 0;
  unsigned long ticks_ = 0;
  unsigned long clicks_ = 0;
  unsigned long trims_ = 0;
  std::size_t paneUnits_ = 0;
  unsigned long text8Trims_ = 0;
  std::size_t text8Units_ = 0;
};

}  // namespace rilvano::soak
