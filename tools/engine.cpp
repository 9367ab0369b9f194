#include "tools/engine.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace rilvano::sim {

namespace {

// On an ideal wire the stream goes in chunks of up to this many bytes.
constexpr std::size_t kStreamChunk = 4096;
// On a timed line it is handed over in pieces of about 10 ms of line time,
// each when the line is within 2 ms of falling idle.
constexpr double kStreamPieceMs = 10;
constexpr double kTopUpMs = 2;

}  // namespace

double NowMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

Engine::Engine(const Options& options, Port& port, std::FILE* record)
    : options_(options), slave_(options), port_(port), record_(record), line_(options, NowMs()) {}

void Engine::Trace(const char* what, const ByteString& bytes) const {
  if (options_.verbose) std::fprintf(stderr, "%s %s\n", what, HexList(bytes).c_str());
}

void Engine::TakeFrame(double now) {
  while (auto frame = line_.TakeFrame(now)) {
    if (!frame->heard) {
      Trace("rx (another rate, heard as noise)", frame->bytes);
    } else {
      Trace("rx", frame->bytes);
      ByteString reply = slave_.Answer(frame->bytes);
      if (!reply.empty()) {
        reply = InjectFaults(options_, std::move(reply), ++replies_);
        // On a timed line the turnaround runs from the end of the request's
        // last character, and the reply cannot start before the silence
        // that ended the request was heard.
        const double at = options_.line ? std::max(now, frame->endMs + options_.delayMs) : now + options_.delayMs;
        if (options_.splitPauseMs > 0) {
          const std::size_t cut = SplitPoint(options_, reply.size());
          const double end = line_.FromSlave(at, reply.substr(0, cut));
          line_.FromSlave(end + options_.splitPauseMs, reply.substr(cut));
        } else {
          line_.FromSlave(at, reply);
        }
      }
    }
    if (options_.streamRate > 0 && !streaming_ && !streamDone_) {
      streaming_ = true;
      streamStart_ = now;
    }
  }
}

void Engine::Flush(double now) {
  outbox_ += line_.Deliver(now);
  if (outbox_.empty()) return;
  const long n = Send(outbox_);
  if (n < 0) {
    // No master on the line: bytes nobody waits for are dropped. A full
    // queue (0) is retried when there is room.
    outbox_.clear();
    return;
  }
  const auto sent = static_cast<std::size_t>(n);
  Trace("tx", outbox_.substr(0, sent));
  outbox_.erase(0, sent);
}

long Engine::Send(const ByteString& bytes) {
  const long n = port_.Write(bytes.data(), bytes.size());
  if (n > 0 && record_ != nullptr) {
    // Flushed at once: a simulator that is killed still leaves its record.
    std::fwrite(bytes.data(), 1, static_cast<std::size_t>(n), record_);
    std::fflush(record_);
  }
  return n;
}

void Engine::Stream(double now) {
  if (!streaming_) return;
  std::size_t room = kStreamChunk;
  if (options_.line) {
    if (line_.SlaveFreeMs() > now + kTopUpMs) return;  // the line is still busy
    if (outbox_.size() >= kStreamChunk) return;         // the master is not reading
    room = std::max<std::size_t>(1, static_cast<std::size_t>(kStreamPieceMs / line_.SlaveCharMs()));
  } else if (!outbox_.empty() || line_.NextMs()) {
    return;  // replies go between stream chunks
  }
  double elapsed = (now - streamStart_) / 1e3;
  if (options_.streamSeconds > 0 && elapsed >= options_.streamSeconds) elapsed = options_.streamSeconds;
  const bool running = options_.streamSeconds <= 0 || elapsed < options_.streamSeconds;
  // Kept full, the line goes at the pace its reader (or the timed line)
  // takes it in.
  const auto target = options_.streamFill ? (running ? streamed_ + room : streamed_)
                                          : static_cast<unsigned long long>(std::floor(options_.streamRate * elapsed));
  if (target > streamed_) {
    const unsigned long long lag = target - streamed_;
    if (!options_.streamFill && lag > maxLag_) maxLag_ = lag;
    ByteString chunk;
    const std::size_t size = lag > room ? room : static_cast<std::size_t>(lag);
    for (std::size_t i = 0; i < size; ++i) chunk += static_cast<char>(StreamByte(streamed_ + i));
    if (options_.line) {
      line_.FromSlave(now, chunk);
      streamed_ += size;
    } else if (const long n = Send(chunk); n > 0) {
      streamed_ += static_cast<unsigned long long>(n);
    }
  }
  if (options_.streamSeconds > 0 && elapsed >= options_.streamSeconds && streamed_ >= target) {
    streaming_ = false;
    streamDone_ = true;
    std::printf("stream done: %llu bytes, largest lag %llu bytes\n", streamed_, maxLag_);
    std::fflush(stdout);
  }
}

double Engine::NextWakeMs(double now) const {
  double wake = now + 500;
  if (const auto due = line_.FrameDueMs()) wake = std::min(wake, *due);
  if (const auto next = line_.NextMs()) wake = std::min(wake, *next);
  if (streaming_) {
    if (options_.line && options_.streamFill) {
      wake = std::min(wake, std::max(now, line_.SlaveFreeMs() - kTopUpMs));
    } else if (!options_.streamFill) {
      wake = std::min(wake, now + 1);
    }
    if (options_.streamFill && options_.streamSeconds > 0) {
      wake = std::min(wake, streamStart_ + options_.streamSeconds * 1e3);
    }
  }
  return wake;
}

int Engine::Run() {
  int rc = 0;
  for (;;) {
    const double now = NowMs();
    Flush(now);
    Stream(now);
    TakeFrame(now);

    const double later = NowMs();
    // Room on the line is waited for only when something is ready to go;
    // an ideal wire kept full goes as fast as the master reads.
    const bool wantWrite = !outbox_.empty() || (streaming_ && options_.streamFill && !options_.line);
    const Port::Events events = port_.Wait(std::max(0.0, NextWakeMs(later) - later), wantWrite);
    if (events.stop) break;
    if (!events.readable) continue;
    char buffer[512];
    const long n = port_.Read(buffer, sizeof buffer);
    if (n > 0) {
      line_.FromMaster(NowMs(), std::string_view(buffer, static_cast<std::size_t>(n)),
                       options_.line ? port_.MasterBaud() : 0);
    } else if (n < 0) {
      line_.DropFrame();
      if (const std::string lost = port_.Lost(); !lost.empty()) {
        std::fprintf(stderr, "rilvano-sim: %s\n", lost.c_str());
        rc = 1;
        break;
      }
    }
  }
  if (options_.streamRate > 0 && !streamDone_) {
    std::printf("streamed: %llu bytes, largest lag %llu bytes\n", streamed_, maxLag_);
  }
  return rc;
}

}  // namespace rilvano::sim
