// The simulated slave: what it answers to a complete request frame, and the
// faults it can be told to inject. Pure logic; the line's timing lives in
// line.h, the loop in engine.h, the terminal in the port backends.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "modbus/bytes.h"

namespace rilvano::sim {

struct Options {
  unsigned slave = 1;                 // address answered
  unsigned slaveId = 1;               // id byte of the 0x11 reply
  unsigned registerCount = 100;       // holding registers 0 .. count-1
  std::vector<std::pair<unsigned, unsigned>> presets;  // register=value
  std::string deviceText = "RILVANO-SIM";
  std::string link;                   // optional symbolic link to the device
  double delayMs = 0;                 // turnaround delay before a reply
  double splitPauseMs = 0;            // pause inside each reply, 0 = none
  unsigned splitAt = 0;               // bytes before the pause, 0 = half
  unsigned badCrcEvery = 0;           // damage the CRC of every n-th reply
  unsigned foreignEvery = 0;          // every n-th reply from another address
  unsigned foreignAddress = 0;        // that address; 0 = the slave's + 1
  double streamRate = 0;              // unsolicited bytes per second, 0 = off
  double streamSeconds = 0;           // 0 = until stopped
  bool streamFill = false;            // as fast as the master reads
  std::string record;                 // file that gets every byte sent
  double gapMs = 5;                   // silence that ends a request frame
  bool verbose = false;

  // The line model (pseudo-terminal only) and a real port.
  bool line = false;                  // time every byte as a serial line would
  unsigned baud = 9600;               // the slave's rate; with --device, the port's
  bool burst = false;                 // adapter hands bytes over in bursts, not as they come
  unsigned burstBytes = 62;           // a burst goes when this many wait ...
  double burstMs = 16;                // ... or when the latency timer runs out
  double jitterMs = 0;                // random 0..jitter added to each burst
  std::uint32_t seed = 1;             // of that randomness
  bool echo = false;                  // the adapter returns the master's own bytes
  std::string device;                 // serve this serial device instead of a pty
};

// Parses argv (without argv[0]). On an error, returns nullopt and sets
// `error` to a one-line message; `help` is set when --help was asked.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error, bool& help);

std::string UsageText();

// Holding registers and the request handling of one slave.
class Slave {
 public:
  explicit Slave(const Options& options);

  // The reply body and CRC for one received frame, before any fault; empty
  // when a real slave stays silent (bad CRC, another address, broadcast,
  // a frame too short to hold an address, a function and a CRC).
  ByteString Answer(std::string_view frame);

  std::uint16_t Register(unsigned index) const { return registers_.at(index); }

 private:
  ByteString Exception(unsigned function, unsigned code) const;

  Options options_;
  std::vector<std::uint16_t> registers_;
};

// Applies the per-reply faults (n counts replies from 1): a foreign address
// (CRC recomputed, so only the address filter can drop it) and a damaged CRC.
ByteString InjectFaults(const Options& options, ByteString reply, unsigned long n);

// Where a reply is cut in two when a split pause is asked for.
std::size_t SplitPoint(const Options& options, std::size_t replyLength);

// The unsolicited stream is a counter: byte k of the stream is k mod 256,
// so a reader can tell lost, doubled or reordered bytes apart.
inline unsigned char StreamByte(unsigned long long k) { return static_cast<unsigned char>(k & 0xFF); }

// "/dev/pts/7" -> "PTS7:"; any other path is typed as it is.
std::string PortNameFor(const std::string& devicePath);

}  // namespace rilvano::sim
