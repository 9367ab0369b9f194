// rilvano-soak-win32 [--pane-cap=UNITS] PORT SECONDS [SAMPLE_SECONDS]: the
// whole program on the Win32 view, as rilvano.exe's main builds it (its pane
// cap too, unless UNITS is given), open on PORT with a click on "Чтение"
// every second for SECONDS; then no more clicks, and once the line has been
// quiet for 3 s the port is closed.
// Prints the samples of bench/soak.h; scripts/soak runs it under Wine.
#include <windows.h>
#include <psapi.h>
#include <richedit.h>

#include <cstdio>
#include <string>

#include "bench/soak.h"
#include "bench/win32/clock.h"
#include "form/frmSerial.h"
#include "form/logfile.h"
#include "window/win32/Win32View.h"

namespace {

using rilvano::Control;
using rilvano::bench::NowMs;

// The working set; under Wine that is the VmRSS of the Linux process.
long ResidentKb() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return static_cast<long>(counters.WorkingSetSize / 1024);
}

std::size_t PaneUnits(HWND pane) {
  GETTEXTLENGTHEX how{GTL_NUMCHARS | GTL_PRECISE, 1200};
  const LRESULT length = SendMessageW(pane, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&how), 0);
  return length > 0 ? static_cast<std::size_t>(length) : 0;
}

}  // namespace

int main(int argc, char** argv) {
  rilvano::soak::Options options;
  if (!rilvano::soak::ParseArgs(argc, argv, options)) return 2;
  rilvano::Win32View view;
  rilvano::frmSerial form(view);
  const double start = NowMs();
  const double end = start + options.seconds * 1e3;
  rilvano::soak::Recorder recorder(start);
  view.Connect({[&](Control c) { form.Click(c); },
                [&] {
                  if (NowMs() < end) recorder.Tick(NowMs());
                  form.TMRComm_Timer();
                  recorder.Pane(PaneUnits(view.Handle(Control::Text2)));
                  recorder.ReadPane(PaneUnits(view.Handle(Control::Text8)));
                },
                [&] { form.Form_Unload(); }});
  view.Show(SW_SHOWNORMAL);
  if (options.paneCap > 0) view.SetPaneLimit(options.paneCap);
  const auto click = [&](Control button) { SendMessageW(view.Handle(button), BM_CLICK, 0, 0); };
  view.SetText(Control::txt_0, options.port);
  click(Control::BTNOpenCom);
  if (!view.Enabled(Control::BTNCloseCom)) {
    std::fprintf(stderr, "rilvano-soak-win32: could not open %s\n", options.port.c_str());
    return 1;
  }
  std::printf("pane-cap %zu\n", view.PaneLimit());
  // In pieces, as the clicks would have added it.
  const std::string lines = rilvano::soak::ReadPaneLines(view.PaneLimit() - view.PaneLimit() / 16);
  for (std::size_t at = 0; at < lines.size();) {
    std::size_t next = std::min(lines.size(), at + 4096);
    while (next < lines.size() && lines[next] != '\r') ++next;
    form.AppendPane(Control::Text8, lines.substr(at, next - at));
    at = next;
  }
  const std::string log = rilvano::LogFileName(options.port);
  double nextClick = start;
  double nextLook = start;
  double lastGrowth = start;
  std::uintmax_t logBytes = 0;
  const auto sample = [&](double now) {
    recorder.Sample(now, options.sampleSeconds, ResidentKb(), PaneUnits(view.Handle(Control::Text2)), logBytes);
  };
  for (;;) {
    MSG msg;
    if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (!view.PreTranslate(msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      view.ThrowPending();
    } else {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    const double now = NowMs();
    if (now < nextLook) continue;
    nextLook = now + 50;
    if (now < end && now >= nextClick) {
      click(Control::Command3);
      recorder.Click();
      recorder.ReadPane(PaneUnits(view.Handle(Control::Text8)));
      nextClick += options.clickSeconds * 1e3;
    }
    const std::uintmax_t bytes = rilvano::soak::FileBytes(log);
    if (bytes != logBytes) lastGrowth = now;
    logBytes = bytes;
    if (recorder.SampleDue(now)) sample(now);
    // The simulator's stream ends with the run: done once the line is drained.
    if (now >= end && now - lastGrowth > 3000) break;
  }
  sample(NowMs());
  click(Control::BTNCloseCom);
  std::printf("done\n");
  std::fflush(stdout);
  return 0;
}
