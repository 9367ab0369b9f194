// A Modbus RTU slave built on libmodbus, a peer nobody here wrote, for the
// window to talk to. Usage: rilvano-modbus-server DEVICE [REGISTERS [LIFETIME_S]]
// Holding register k starts with the value 0x1000 + k. Prints "ready" once
// listening; exits when the line goes away (ECONNRESET, EIO), so it never
// spins on a closed terminal, or when its lifetime is over.
#include <modbus.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DEVICE [REGISTERS [LIFETIME_S]]\n", argv[0]);
    return 2;
  }
  const int registers = argc > 2 ? std::atoi(argv[2]) : 16;
  const int lifetime = argc > 3 ? std::atoi(argv[3]) : 60;

  modbus_t* ctx = modbus_new_rtu(argv[1], 9600, 'N', 8, 1);
  if (ctx == nullptr || modbus_set_slave(ctx, 1) != 0 || modbus_connect(ctx) != 0) {
    std::fprintf(stderr, "modbus-server: %s: %s\n", argv[1], modbus_strerror(errno));
    return 1;
  }
  modbus_mapping_t* map = modbus_mapping_new(0, 0, registers, 0);
  for (int k = 0; k < registers; ++k) map->tab_registers[k] = static_cast<std::uint16_t>(0x1000 + k);
  // Wake now and then so the lifetime is checked even on a silent line.
  modbus_set_indication_timeout(ctx, 0, 200000);

  std::printf("ready\n");
  std::fflush(stdout);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(lifetime);
  int status = 0;
  std::uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
  while (std::chrono::steady_clock::now() < end) {
    const int rc = modbus_receive(ctx, query);
    if (rc > 0) {
      modbus_reply(ctx, query, rc, map);
      std::printf("answered function %d\n", query[1]);
      std::fflush(stdout);
    } else if (rc < 0 && (errno == ECONNRESET || errno == EIO)) {
      std::printf("line closed\n");
      break;
    }
    // ETIMEDOUT, a bad CRC or a frame for another slave: keep listening.
  }
  if (std::chrono::steady_clock::now() >= end) status = 3;
  modbus_mapping_free(map);
  modbus_close(ctx);
  modbus_free(ctx);
  return status;
}
