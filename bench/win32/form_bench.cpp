// The whole program on the Win32 view, as rilvano.exe's main builds it, for
// the figures that must be taken inside the process (scripts/bench-windows
// runs it under Wine):
//   startup             shows the window, prints the wall-clock time of its
//                       first complete paint and exits (the script timed the
//                       process start)
//   memory [PORT [capped]]
//                       working set and address space in use after 2 s open
//                       and idle on PORT, then (port closed) with raw blocks
//                       appended to Text2: with "capped", 10 MB of them into
//                       the pane as the program has it (the cap drops the
//                       oldest lines as it goes); without, to the cap of the
//                       full-size pane, which nothing trims
//   roundtrip PORT [N]  N clicks on "Чтение" (default 50), each from the
//                       handler's entry to the decoded reply in Text8
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "form/frmSerial.h"
#include "modbus/bytes.h"
#include "receive/reply.h"
#include "bench/win32/clock.h"
#include "window/win32/Win32View.h"

namespace {

using rilvano::Control;

using rilvano::bench::NowMs;

// Microseconds since 1970, comparable with `date +%s%6N` on the host.
long long EpochMicroseconds() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  ULARGE_INTEGER t;
  t.LowPart = ft.dwLowDateTime;
  t.HighPart = ft.dwHighDateTime;
  return static_cast<long long>(t.QuadPart / 10) - 11644473600LL * 1000000LL;
}

// The working set; under Wine that is the VmRSS of the Linux process, the
// figure the Qt window's bench reports too.
double ResidentMb() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return static_cast<double>(counters.WorkingSetSize) / (1024.0 * 1024.0);
}

// The process's address space in use (every region not free: reserved,
// committed, mapped) and its size: what a 32-bit process runs out of first.
void PrintAddressSpace(const char* name) {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  GlobalMemoryStatusEx(&status);
  SYSTEM_INFO system{};
  GetSystemInfo(&system);
  unsigned long long used = 0;
  auto* at = static_cast<char*>(system.lpMinimumApplicationAddress);
  MEMORY_BASIC_INFORMATION region;
  while (at < static_cast<char*>(system.lpMaximumApplicationAddress) &&
         VirtualQuery(at, &region, sizeof region) == sizeof region && region.RegionSize > 0) {
    if (region.State != MEM_FREE) used += region.RegionSize;
    at = static_cast<char*>(region.BaseAddress) + region.RegionSize;
  }
  std::printf("%s %.1f of %.1f\n", name, static_cast<double>(used) / (1024.0 * 1024.0),
              static_cast<double>(status.ullTotalVirtual) / (1024.0 * 1024.0));
}

struct App {
  rilvano::Win32View view;
  rilvano::frmSerial form{view};
  explicit App(bool fullPanes = true) {
    view.Connect({[this](Control c) { form.Click(c); }, [this] { form.TMRComm_Timer(); },
                  [this] { form.Form_Unload(); }});
    // The figures are for the full-size pane, also under Wine, unless asked
    // for the limit the program itself runs with.
    if (fullPanes) view.SetPaneLimit(rilvano::Win32View::kDefaultPaneLimit);
    view.Show(SW_SHOWNORMAL);
  }
  ~App() { Click(Control::BTNCloseCom); }

  // Runs the window's loop until `done` holds or `ms` have passed; false on
  // time-out. `done` is asked after every message: with the 10 ms timer
  // running a WM_TIMER is always due again, so the queue never runs dry.
  template <typename Done>
  bool RunUntil(Done done, double ms) {
    const double end = NowMs() + ms;
    for (;;) {
      if (done()) return true;
      const double left = end - NowMs();
      if (left <= 0) return false;
      MSG msg;
      if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        Deliver(msg);
      } else {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left) + 1, QS_ALLINPUT);
      }
    }
  }
  void Idle(double ms) { RunUntil([] { return false; }, ms); }
  void Deliver(MSG& msg) {
    if (!view.PreTranslate(msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    view.ThrowPending();
  }
  // A click as the system delivers it: BM_CLICK on the button.
  void Click(Control button) { SendMessageW(view.Handle(button), BM_CLICK, 0, 0); }
  void Open(const std::string& port) {
    view.SetText(Control::txt_0, port);
    Click(Control::BTNOpenCom);
  }
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

int Startup() {
  App app;
  // Every child too, now: the window is complete on the screen when this returns.
  RedrawWindow(app.view.Window(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  std::printf("first-paint-epoch-us %lld\n", EpochMicroseconds());
  return 0;
}

int Memory(const std::string& port, bool capped) {
  App app(!capped);
  std::printf("pane-limit-units %zu\n", app.view.PaneLimit());
  if (!port.empty()) app.Open(port);
  app.Idle(2000);
  std::printf("resident-idle-mb %.1f\n", ResidentMb());
  PrintAddressSpace("address-space-idle-mb");
  std::fflush(stdout);
  // Closed again before the fill: under Wine, ticks on a rich edit holding
  // 10 MB made this run take minutes and gigabytes.
  if (!port.empty()) app.Click(Control::BTNCloseCom);
  std::string packet;
  for (unsigned i = 0; i < 255; ++i) packet += rilvano::ByteChar(i);
  const std::string block = rilvano::receive::RawBlock(packet);
  std::size_t filled = 0;
  // A block at a time, as the ticks add them.
  const std::size_t target = capped ? std::size_t{10} * 1000 * 1000 : app.view.PaneLimit();
  std::size_t nextStep = 0;
  while (filled < target) {
    app.view.Append(Control::Text2, block);
    filled += block.size();
    if (filled < nextStep) continue;
    nextStep = filled + (1U << 20);
    // Step by step, so that a run cut short still shows where it went.
    std::printf("filled-mb %.1f resident-mb %.1f pane-units %zu ", static_cast<double>(filled) / 1e6, ResidentMb(),
                static_cast<std::size_t>(GetWindowTextLengthW(app.view.Handle(Control::Text2))));
    PrintAddressSpace("address-space-mb");
    std::fflush(stdout);
  }
  app.Idle(1000);
  std::printf("resident-10mb-mb %.1f\n", ResidentMb());
  PrintAddressSpace("address-space-10mb-mb");
  std::printf("pane-text-mb %.1f\n", static_cast<double>(filled) / 1e6);
  std::printf("pane-cap-units %zu\n", app.view.PaneLimit());
  return 0;
}

int Roundtrip(const std::string& port, int count) {
  App app;
  app.Open(port);
  app.Idle(300);
  std::vector<double> times;
  for (int i = 0; i < count; ++i) {
    app.Click(Control::Command6);  // Text8 empty: the reply is the only "Good" in it
    // Start while no tick is blocked in its read: right after one has run.
    app.Idle(30);
    double entered = 0;
    // The handler's entry: the click is delivered now and runs at once.
    entered = NowMs();
    app.Click(Control::Command3);
    const bool got = app.RunUntil(
        [&] { return app.view.Text(Control::Text8).find(" Good") != std::string::npos; }, 2000);
    if (!got) {
      std::printf("roundtrip: no decoded reply within 2 s (request %d); Text8: %s\n", i + 1,
                  app.view.Text(Control::Text8).c_str());
      return 1;
    }
    times.push_back(NowMs() - entered);
  }
  std::sort(times.begin(), times.end());
  std::printf("roundtrip-ms median %.1f min %.1f p90 %.1f max %.1f n %d\n", Median(times), times.front(),
              times[times.size() * 9 / 10], times.back(), count);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  const std::string port = argc > 2 ? argv[2] : "";
  int code = 2;
  if (mode == "startup") {
    code = Startup();
  } else if (mode == "memory") {
    code = Memory(port, argc > 3 && std::string(argv[3]) == "capped");
  } else if (mode == "roundtrip" && !port.empty()) {
    code = Roundtrip(port, argc > 3 ? std::atoi(argv[3]) : 50);
  } else {
    std::fprintf(stderr, "usage: %s startup | memory [PORT [capped]] | roundtrip PORT [COUNT]\n", argv[0]);
  }
  std::fflush(stdout);
  return code;
}
