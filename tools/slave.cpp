#include "tools/slave.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>

namespace rilvano::sim {

namespace {

bool ParseUnsigned(const std::string& text, unsigned long min, unsigned long max, unsigned& out) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long v = std::strtoul(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || v < min || v > max) return false;
  out = static_cast<unsigned>(v);
  return true;
}

bool ParseDouble(const std::string& text, double min, double max, double& out) {
  if (text.empty() || text[0] == ' ') return false;
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(v) || v < min || v > max) return false;
  out = v;
  return true;
}

constexpr unsigned kMaxText = 250 - 2;  // byte count, id, run indicator in a 255-byte frame

// Options that only make sense beside another one; the first misfit, or "".
std::string LineConflict(const std::set<std::string>& given, const Options& o) {
  const auto has = [&](const std::string& name) { return given.count(name) != 0; };
  const std::vector<std::string> burst = {"--burst-bytes", "--burst-ms", "--jitter", "--seed"};
  std::vector<std::string> adapter = {"--adapter", "--echo"};
  adapter.insert(adapter.end(), burst.begin(), burst.end());
  // A device has a name of its own. A real one is paced by its UART; a
  // virtual null-modem pair hands bytes over at once and takes --line.
  if (has("--device") && has("--link")) return "--link does not apply to a real port (--device)";
  for (const auto& name : adapter) {
    if (has(name) && !o.line) return name + " needs --line";
  }
  for (const auto& name : burst) {
    if (has(name) && !o.burst) return name + " needs --adapter burst";
  }
  if (has("--baud") && !o.line && !has("--device")) return "--baud needs --line or --device";
  return {};
}

}  // namespace

std::string UsageText() {
  return
      "Usage: rilvano-sim [options]\n"
      "A Modbus RTU slave on a pseudo-terminal. Prints the device path and the port\n"
      "name to type into the window, then answers until interrupted (Ctrl+C).\n"
      "Masters may open and close the port as often as they like. With --device it\n"
      "serves a serial device instead; rilvano-sim.exe on Windows serves a COM port\n"
      "that way only.\n"
      "\n"
      "It answers function 03 (read holding registers; beyond the last register:\n"
      "exception 02), 06 (write single register: stores and echoes), 0x11 (report\n"
      "slave id: byte count, id, run indicator FF, device text) and any other\n"
      "function with exception 01. Frames for another address or with a bad CRC get\n"
      "no reply; broadcast (address 0) writes are stored without a reply.\n"
      "\n"
      "Slave:\n"
      "  --slave N            address answered, 1-247 (default 1)\n"
      "  --id N               slave id byte of the 0x11 reply, 0-255 (default: the address)\n"
      "  --text TEXT          device text of the 0x11 reply (default RILVANO-SIM)\n"
      "  --registers N        number of holding registers, 1-65536 (default 100);\n"
      "                       register k starts holding the value k\n"
      "  --set R=V            start register R with value V (0-65535); repeatable\n"
      "  --link PATH          also make a symbolic link PATH to the device (replaces\n"
      "                       an existing link, removed at exit)\n"
      "  --gap MS             line silence that ends a request frame (default 5)\n"
      "\n"
      "Faults, for trying out a master:\n"
      "  --delay MS           turnaround: wait MS before each reply\n"
      "  --split-pause MS     send each reply in two pieces, MS apart\n"
      "  --split-at N         bytes in the first piece (default: half the reply)\n"
      "  --bad-crc-every N    damage the CRC of every N-th reply\n"
      "  --foreign-every N    send every N-th reply from another slave address\n"
      "  --foreign-address A  that address, 0-255 (default: the slave's address + 1)\n"
      "  --stream RATE        stream unsolicited bytes at RATE bytes per second\n"
      "                       (11520 is the pace of a 115200-baud line); the stream\n"
      "                       is a counter 00 01 .. FF 00 .. and starts after the\n"
      "                       first request frame, which is answered as usual\n"
      "  --stream max         stream as fast as the master reads: the line is kept\n"
      "                       full (replies still go between stream chunks)\n"
      "  --stream-seconds S   stop the stream after S seconds (default: never)\n"
      "  --record FILE        write every byte sent on the line, replies and stream\n"
      "                       in the order sent (with --echo, the echo too), to FILE\n"
      "\n"
      "Line (all off by default: a pty hands bytes over at once):\n"
      "  --line               time the line: every byte takes 10 bits (8N1) at the rate\n"
      "                       the master set on its port, requests too; --delay then\n"
      "                       counts from the end of the request's last byte, and is\n"
      "                       at least --gap; a --stream goes on the line as well;\n"
      "                       as root, the simulator takes a higher CPU priority\n"
      "  --baud RATE          the slave's rate (default 9600); a master at another rate\n"
      "                       (off by more than 2%) is heard as noise and not answered\n"
      "  --adapter uart       the master's adapter hands bytes over as they come off\n"
      "                       the line (default)\n"
      "  --adapter burst      it hands them over in bursts: when --burst-bytes are\n"
      "                       held, or when its latency timer runs out with bytes\n"
      "                       held; the timer restarts at every handover, empty ones\n"
      "                       too, so it ticks every --burst-ms while bytes trickle\n"
      "  --burst-bytes N      bytes that make a burst, 1-4096 (default 62)\n"
      "  --burst-ms MS        the latency timer (default 16)\n"
      "  --jitter MS          each burst reaches the master a random 0..MS later\n"
      "                       (default 0); bursts keep their order\n"
      "  --seed N             seed of that randomness (default 1), so a run repeats\n"
      "  --echo               a half-duplex RS-485 adapter: the master's own request\n"
      "                       comes back, paced at its rate and through the adapter,\n"
      "                       before the reply\n"
      "\n"
      "Real port:\n"
      "  --device PATH        serve the serial device PATH (on Windows a COM port,\n"
      "                       e.g. COM6): raw 8N1 at --baud (any rate the driver\n"
      "                       takes), locked against other programs; its UART paces\n"
      "                       the line. --link does not apply. A virtual null-modem\n"
      "                       pair hands bytes over at once: --line times it, at\n"
      "                       --baud, as the far end's rate cannot be read there\n"
      "                       (a master at another rate is answered as if it matched)\n"
      "\n"
      "Other:\n"
      "  --verbose            print every frame received and sent to stderr\n"
      "  --help               this text\n"
      "\n"
      "Output: \"device: PATH\" and \"port: NAME\" on stdout (with --device only the\n"
      "first); at exit, when a stream ran, \"streamed: N bytes\" on stdout. Bad options:\n"
      "a message and exit code 2; a device that cannot be opened or goes away: 1.\n";
}

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error, bool& help) {
  Options o;
  help = false;
  bool idGiven = false;
  std::map<unsigned, unsigned> presets;

  using Setter = std::function<bool(const std::string&)>;
  const std::map<std::string, Setter> valued = {
      {"--slave", [&](const std::string& v) { return ParseUnsigned(v, 1, 247, o.slave); }},
      {"--id", [&](const std::string& v) { idGiven = true; return ParseUnsigned(v, 0, 255, o.slaveId); }},
      {"--text", [&](const std::string& v) { o.deviceText = v; return v.size() <= kMaxText; }},
      {"--registers", [&](const std::string& v) { return ParseUnsigned(v, 1, 65536, o.registerCount); }},
      {"--set",
       [&](const std::string& v) {
         const auto eq = v.find('=');
         unsigned r = 0;
         unsigned value = 0;
         if (eq == std::string::npos || !ParseUnsigned(v.substr(0, eq), 0, 65535, r) ||
             !ParseUnsigned(v.substr(eq + 1), 0, 65535, value)) {
           return false;
         }
         presets[r] = value;
         return true;
       }},
      {"--link", [&](const std::string& v) { o.link = v; return !v.empty(); }},
      {"--gap", [&](const std::string& v) { return ParseDouble(v, 0.5, 10000, o.gapMs); }},
      {"--delay", [&](const std::string& v) { return ParseDouble(v, 0, 600000, o.delayMs); }},
      {"--split-pause", [&](const std::string& v) { return ParseDouble(v, 0, 600000, o.splitPauseMs); }},
      {"--split-at", [&](const std::string& v) { return ParseUnsigned(v, 1, 254, o.splitAt); }},
      {"--bad-crc-every", [&](const std::string& v) { return ParseUnsigned(v, 1, 1000000, o.badCrcEvery); }},
      {"--foreign-every", [&](const std::string& v) { return ParseUnsigned(v, 1, 1000000, o.foreignEvery); }},
      {"--foreign-address", [&](const std::string& v) { return ParseUnsigned(v, 0, 255, o.foreignAddress); }},
      {"--stream",
       [&](const std::string& v) {
         o.streamFill = v == "max";
         return o.streamFill ? (o.streamRate = 1, true) : ParseDouble(v, 1, 10000000, o.streamRate);
       }},
      {"--record", [&](const std::string& v) { o.record = v; return !v.empty(); }},
      {"--stream-seconds", [&](const std::string& v) { return ParseDouble(v, 0.001, 1e9, o.streamSeconds); }},
      {"--baud", [&](const std::string& v) { return ParseUnsigned(v, 50, 4000000, o.baud); }},
      {"--adapter",
       [&](const std::string& v) {
         o.burst = v == "burst";
         return v == "burst" || v == "uart";
       }},
      {"--burst-bytes", [&](const std::string& v) { return ParseUnsigned(v, 1, 4096, o.burstBytes); }},
      {"--burst-ms", [&](const std::string& v) { return ParseDouble(v, 0.1, 10000, o.burstMs); }},
      {"--jitter", [&](const std::string& v) { return ParseDouble(v, 0, 10000, o.jitterMs); }},
      {"--seed",
       [&](const std::string& v) {
         unsigned seed = 0;
         const bool ok = ParseUnsigned(v, 0, 0xFFFFFFFFUL, seed);
         o.seed = seed;
         return ok;
       }},
      {"--device", [&](const std::string& v) { o.device = v; return !v.empty(); }},
  };

  std::set<std::string> given;
  const std::map<std::string, bool*> flags = {{"--verbose", &o.verbose}, {"--line", &o.line}, {"--echo", &o.echo}};

  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> value;
    if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
    }
    if (name == "--help" || name == "-h") {
      help = true;
      return std::nullopt;
    }
    if (const auto flag = flags.find(name); flag != flags.end() && !value) {
      *flag->second = true;
      given.insert(name);
      continue;
    }
    const auto it = valued.find(name);
    if (it == valued.end()) {
      error = "unknown option '" + args[i] + "' (see --help)";
      return std::nullopt;
    }
    if (!value) {
      if (i + 1 >= args.size()) {
        error = "option " + name + " needs a value (see --help)";
        return std::nullopt;
      }
      value = args[++i];
    }
    if (!it->second(*value)) {
      error = "bad value '" + *value + "' for " + name + " (see --help)";
      return std::nullopt;
    }
    given.insert(name);
  }
  if (const std::string why = LineConflict(given, o); !why.empty()) {
    error = why;
    return std::nullopt;
  }
  for (const auto& [r, v] : presets) {
    if (r >= o.registerCount) {
      error = "--set " + std::to_string(r) + "=...: there are only " + std::to_string(o.registerCount) + " registers";
      return std::nullopt;
    }
    o.presets.emplace_back(r, v);
  }
  if (!idGiven) o.slaveId = o.slave;
  if (o.foreignAddress == 0) o.foreignAddress = o.slave + 1;
  if (o.foreignAddress == o.slave) {
    error = "--foreign-address must differ from --slave";
    return std::nullopt;
  }
  return o;
}

Slave::Slave(const Options& options) : options_(options), registers_(options.registerCount) {
  for (unsigned k = 0; k < registers_.size(); ++k) registers_[k] = static_cast<std::uint16_t>(k);
  for (const auto& [r, v] : options.presets) registers_.at(r) = static_cast<std::uint16_t>(v);
}

ByteString Slave::Exception(unsigned function, unsigned code) const {
  ByteString body{ByteChar(options_.slave), ByteChar(function | 0x80), ByteChar(code)};
  return body + CRC16(body);
}

ByteString Slave::Answer(std::string_view frame) {
  if (frame.size() < 4) return {};
  if (CRC16(frame.substr(0, frame.size() - 2)) != frame.substr(frame.size() - 2)) return {};
  const unsigned address = ByteAt(frame, 0);
  if (address != options_.slave && address != 0) return {};
  const bool broadcast = address == 0;
  const unsigned function = ByteAt(frame, 1);
  const auto word = [&](std::size_t i) { return static_cast<unsigned>(ByteAt(frame, i) << 8 | ByteAt(frame, i + 1)); };

  ByteString body{ByteChar(options_.slave), ByteChar(function)};
  switch (function) {
    case 0x03: {
      if (broadcast) return {};
      if (frame.size() != 8) return Exception(function, 3);
      const unsigned start = word(2);
      const unsigned count = word(4);
      if (count < 1 || count > 125) return Exception(function, 3);
      if (start + count > registers_.size()) return Exception(function, 2);
      body += ByteChar(count * 2);
      for (unsigned k = start; k < start + count; ++k) {
        body += ByteChar(registers_[k] >> 8);
        body += ByteChar(registers_[k] & 0xFF);
      }
      break;
    }
    case 0x06: {
      if (frame.size() != 8) return broadcast ? ByteString{} : Exception(function, 3);
      const unsigned reg = word(2);
      if (reg >= registers_.size()) return broadcast ? ByteString{} : Exception(function, 2);
      registers_[reg] = static_cast<std::uint16_t>(word(4));
      if (broadcast) return {};
      return ByteString(frame);  // the echo is the request itself
    }
    case 0x11: {
      if (broadcast) return {};
      if (frame.size() != 4) return Exception(function, 3);
      body += ByteChar(2 + options_.deviceText.size());
      body += ByteChar(options_.slaveId);
      body += ByteChar(0xFF);
      body += options_.deviceText;
      break;
    }
    default:
      if (broadcast) return {};
      return Exception(function, 1);
  }
  return body + CRC16(body);
}

ByteString InjectFaults(const Options& options, ByteString reply, unsigned long n) {
  if (reply.size() < 3) return reply;
  if (options.foreignEvery != 0 && n % options.foreignEvery == 0) {
    reply.resize(reply.size() - 2);
    reply[0] = ByteChar(options.foreignAddress);
    reply += CRC16(reply);
  }
  if (options.badCrcEvery != 0 && n % options.badCrcEvery == 0) {
    reply.back() = ByteChar(ByteAt(reply, reply.size() - 1) ^ 0xFF);
  }
  return reply;
}

std::size_t SplitPoint(const Options& options, std::size_t replyLength) {
  if (replyLength < 2) return replyLength;
  const std::size_t at = options.splitAt != 0 ? options.splitAt : replyLength / 2;
  return at < replyLength ? at : replyLength - 1;
}

std::string PortNameFor(const std::string& devicePath) {
  static const std::string kPts = "/dev/pts/";
  if (devicePath.rfind(kPts, 0) == 0 && devicePath.size() > kPts.size()) {
    const std::string n = devicePath.substr(kPts.size());
    if (n.find_first_not_of("0123456789") == std::string::npos) return "PTS" + n + ":";
  }
  return devicePath;
}

}  // namespace rilvano::sim
