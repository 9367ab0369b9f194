// The line between the master's port and the slave, on a clock the caller
// gives: with --line every character takes 10 bits of time (8N1) at the rate
// the master set, the slave hears only a master at its own rate, and the
// adapter on the master's side hands received bytes over as they come off the
// line or in bursts. Without --line the wire is ideal: no time on it, no rate
// to match. Pure: no clock and no I/O of its own.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string_view>
#include <utility>

#include "modbus/bytes.h"
#include "tools/slave.h"

namespace rilvano::sim {

// Milliseconds one 8N1 character takes at `baud`.
inline double CharMs(unsigned baud) { return 10000.0 / baud; }

// Whether a UART at `slaveBaud` makes sense of characters sent at `masterBaud`:
// within 2 %, what its mid-bit sampling tolerates over ten bits.
bool RatesMatch(unsigned masterBaud, unsigned slaveBaud);

class Line {
 public:
  // `startMs` starts the adapter's latency timer.
  Line(const Options& options, double startMs);

  // The master wrote `bytes` at `atMs` with its port at `masterBaud` (0 when
  // unknown: taken as the slave's rate).
  void FromMaster(double atMs, std::string_view bytes, unsigned masterBaud);

  struct Frame {
    ByteString bytes;
    double endMs;  // when its last character ended on the line
    bool heard;    // false: sent at another rate, the slave heard noise
  };
  // When the request frame on the line is complete: --gap of silence after
  // its last character. nullopt when none is under way.
  std::optional<double> FrameDueMs() const;
  // That frame, once due at `nowMs`.
  std::optional<Frame> TakeFrame(double nowMs);
  // The master let go of the line: frames not yet answered are forgotten.
  void DropFrame();

  // The slave sends `bytes`, the first character starting no earlier than
  // `atMs` and after what it sent before; returns when the last one ends.
  double FromSlave(double atMs, std::string_view bytes);
  // When the slave's side of the line is free again.
  double SlaveFreeMs() const { return slaveFree_; }
  // The time of one character the slave sends (0 on the ideal wire).
  double SlaveCharMs() const;

  // Everything that has reached the master's port by `nowMs`, in order.
  ByteString Deliver(double nowMs);
  // When Deliver may next have bytes (or the adapter's state changes);
  // nullopt when nothing is on its way.
  std::optional<double> NextMs() const;

 private:
  void Arrive(double atMs, char byte);
  void Advance(double nowMs);
  void Emit(double atMs, ByteString bytes);

  Options options_;
  bool paced_;
  // The master's side: when its line is free, the rate it last used.
  double masterFree_ = 0;
  unsigned masterBaud_ = 0;
  ByteString frame_;
  bool frameNoise_ = false;
  std::deque<Frame> frames_;  // complete, not yet taken
  double slaveFree_ = 0;
  // Bytes coming off the line into the adapter, in time order.
  std::deque<std::pair<double, char>> arriving_;
  // The burst adapter: what it holds, when its timer runs out next, and the
  // deliveries already decided.
  ByteString held_;
  double nextTick_;
  std::deque<std::pair<double, ByteString>> bursts_;
  double lastBurst_ = 0;
  std::mt19937 random_;
};

}  // namespace rilvano::sim
