// rilvano-sim: a Modbus RTU slave on the master side of a pseudo-terminal,
// or on a serial device. The options, the loop and the line model are
// portable; the line end comes from the platform's port backend.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/engine.h"
#include "tools/port.h"
#include "tools/slave.h"

int main(int argc, char** argv) {
  using namespace rilvano::sim;
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

  const auto port = OpenPort(*options, error);
  if (!port) {
    std::fprintf(stderr, "rilvano-sim: %s\n", error.c_str());
    return 1;
  }
  std::printf("device: %s\n", port->Device().c_str());
  if (!port->PortName().empty()) std::printf("port: %s\n", port->PortName().c_str());
  std::fflush(stdout);

  std::FILE* record = nullptr;
  if (!options->record.empty() && (record = std::fopen(options->record.c_str(), "wb")) == nullptr) {
    std::fprintf(stderr, "rilvano-sim: cannot write %s: %s\n", options->record.c_str(), std::strerror(errno));
    return 1;
  }
  const int rc = Engine(*options, *port, record).Run();
  if (record != nullptr) std::fclose(record);
  std::fflush(stdout);
  return rc;
}
