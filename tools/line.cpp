#include "tools/line.h"

#include <algorithm>
#include <cmath>

namespace rilvano::sim {

namespace {

constexpr std::size_t kMaxFrame = 4096;  // a babbling master

}  // namespace

bool RatesMatch(unsigned masterBaud, unsigned slaveBaud) {
  return std::fabs(static_cast<double>(masterBaud) - slaveBaud) <= 0.02 * slaveBaud;
}

Line::Line(const Options& options, double startMs)
    : options_(options), paced_(options.line), nextTick_(startMs + options.burstMs), random_(options.seed) {}

void Line::FromMaster(double atMs, std::string_view bytes, unsigned masterBaud) {
  if (bytes.empty()) return;
  masterBaud_ = masterBaud != 0 ? masterBaud : options_.baud;
  const double start = std::max(atMs, masterFree_);
  // Silence long enough since the last frame's end: that frame is complete,
  // even when nobody took it yet.
  if (!frame_.empty() && start >= masterFree_ + options_.gapMs) {
    frames_.push_back({std::move(frame_), masterFree_, !frameNoise_});
    frame_.clear();
    frameNoise_ = false;
  }
  if (paced_ && !RatesMatch(masterBaud_, options_.baud)) frameNoise_ = true;
  const double charMs = paced_ ? CharMs(masterBaud_) : 0;
  double end = start;
  for (const char c : bytes) {
    end += charMs;
    // A half-duplex adapter hears its own transmission.
    if (options_.echo) Arrive(end, c);
  }
  masterFree_ = end;
  frame_.append(bytes);
  if (frame_.size() > kMaxFrame) frame_.erase(0, frame_.size() - kMaxFrame);
}

std::optional<double> Line::FrameDueMs() const {
  if (!frames_.empty()) return frames_.front().endMs + options_.gapMs;
  if (frame_.empty()) return std::nullopt;
  return masterFree_ + options_.gapMs;
}

std::optional<Line::Frame> Line::TakeFrame(double nowMs) {
  if (!frames_.empty()) {
    Frame f = std::move(frames_.front());
    frames_.pop_front();
    return f;
  }
  if (frame_.empty() || nowMs < masterFree_ + options_.gapMs) return std::nullopt;
  Frame f{std::move(frame_), masterFree_, !frameNoise_};
  frame_.clear();
  frameNoise_ = false;
  return f;
}

void Line::DropFrame() {
  frames_.clear();
  frame_.clear();
  frameNoise_ = false;
}

double Line::SlaveCharMs() const { return paced_ ? CharMs(masterBaud_ != 0 ? masterBaud_ : options_.baud) : 0; }

double Line::FromSlave(double atMs, std::string_view bytes) {
  const double charMs = SlaveCharMs();
  double end = std::max(atMs, slaveFree_);
  for (const char c : bytes) {
    end += charMs;
    Arrive(end, c);
  }
  slaveFree_ = end;
  return end;
}

void Line::Arrive(double atMs, char byte) {
  if (arriving_.empty() || arriving_.back().first <= atMs) {
    arriving_.emplace_back(atMs, byte);
    return;
  }
  // The master's echo and the slave's stream may share the line.
  const auto at = std::upper_bound(arriving_.begin(), arriving_.end(), atMs,
                                   [](double t, const std::pair<double, char>& a) { return t < a.first; });
  arriving_.insert(at, {atMs, byte});
}

// The burst adapter, as an FTDI-style chip works: a byte that comes off the
// line joins the held ones; they go to the computer when `burstBytes` are
// held, or when the latency timer runs out. The timer restarts at every
// handover, empty ones included (the chip then sends only its status), so
// it ticks every `burstMs` while the line is quiet.
void Line::Advance(double nowMs) {
  for (;;) {
    if (held_.empty()) {
      // Ticks with nothing held change nothing: skip to the next byte or now.
      const double until = arriving_.empty() ? nowMs : std::min(nowMs, arriving_.front().first);
      if (nextTick_ < until) nextTick_ += std::floor((until - nextTick_) / options_.burstMs) * options_.burstMs;
    }
    if (!arriving_.empty() && arriving_.front().first <= nowMs && arriving_.front().first <= nextTick_) {
      const auto [at, byte] = arriving_.front();
      arriving_.pop_front();
      held_ += byte;
      if (held_.size() >= options_.burstBytes) {
        Emit(at, std::move(held_));
        held_.clear();
        nextTick_ = at + options_.burstMs;
      }
      continue;
    }
    if (nextTick_ > nowMs) break;
    if (!held_.empty()) {
      Emit(nextTick_, std::move(held_));
      held_.clear();
    }
    nextTick_ += options_.burstMs;
  }
}

// The computer takes a burst up to `jitterMs` late; bursts keep their order.
void Line::Emit(double atMs, ByteString bytes) {
  double at = atMs;
  if (options_.jitterMs > 0) at += options_.jitterMs * (static_cast<double>(random_()) / 4294967296.0);
  at = std::max(at, lastBurst_);
  lastBurst_ = at;
  bursts_.emplace_back(at, std::move(bytes));
}

ByteString Line::Deliver(double nowMs) {
  ByteString out;
  if (!options_.burst) {
    while (!arriving_.empty() && arriving_.front().first <= nowMs) {
      out += arriving_.front().second;
      arriving_.pop_front();
    }
    return out;
  }
  Advance(nowMs);
  while (!bursts_.empty() && bursts_.front().first <= nowMs) {
    out += bursts_.front().second;
    bursts_.pop_front();
  }
  return out;
}

std::optional<double> Line::NextMs() const {
  std::optional<double> next;
  const auto take = [&](double t) {
    if (!next || t < *next) next = t;
  };
  if (!arriving_.empty()) take(arriving_.front().first);
  if (!bursts_.empty()) take(bursts_.front().first);
  if (!held_.empty()) take(nextTick_);
  return next;
}

}  // namespace rilvano::sim
