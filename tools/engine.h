// The simulator's loop: one thread ties the slave, the line model, the
// unsolicited stream and the record to a Port. Request frames end after a
// silence on the line; replies and the stream are handed to the line, which
// decides when each byte reaches the master. Portable C++: the operating
// system stays behind Port.
#pragma once

#include <cstdio>
#include <string>

#include "tools/line.h"
#include "tools/port.h"
#include "tools/slave.h"

namespace rilvano::sim {

class Engine {
 public:
  // `record`, when not null, gets every byte the master's end is given.
  Engine(const Options& options, Port& port, std::FILE* record);

  // Serves the line until a stop request (0) or until it is lost (1).
  int Run();

 private:
  void TakeFrame(double now);
  void Flush(double now);
  void Stream(double now);
  void StreamOnLine(double now, double elapsed);
  double NextWakeMs(double now) const;
  // Writes what the port takes; those bytes go to the record too.
  long Send(const ByteString& bytes);
  void Trace(const char* what, const ByteString& bytes) const;

  Options options_;
  Slave slave_;
  Port& port_;
  std::FILE* record_;
  Line line_;
  ByteString outbox_;  // delivered by the line, not yet taken by the port
  unsigned long replies_ = 0;
  bool streaming_ = false;
  bool streamDone_ = false;
  double streamStart_ = 0;
  unsigned long long streamed_ = 0;
  unsigned long long maxLag_ = 0;
};

// Milliseconds on a monotonic clock.
double NowMs();

}  // namespace rilvano::sim
