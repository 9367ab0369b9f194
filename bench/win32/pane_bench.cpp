// The Win32 view's panes under load: one raw block (a 255-byte packet)
// appended to an empty Text2 and to one at its cap, with the repaint it
// causes. Prints medians and the ratio; the target is a ratio under 2.
//   rilvano-bench-win32 [Text2|Text8]
//   rilvano-bench-win32 trim CAP_UNITS   the longest append, the one that trims
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "modbus/bytes.h"
#include "receive/reply.h"
#include "bench/win32/clock.h"
#include "window/win32/Win32View.h"

namespace {

using rilvano::Control;

using rilvano::bench::NowMs;

void Pump(rilvano::Win32View& view) {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (!view.PreTranslate(msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Fills Text2 a raw block at a time past the cap given in UTF-16 units and
// times each append: the one that trims the pane is the longest pause a full
// pane adds to a tick.
int Trim(std::size_t cap) {
  rilvano::Win32View view;
  view.SetPaneLimit(cap);
  view.Show(SW_SHOWNORMAL);
  Pump(view);
  std::string packet;
  for (unsigned i = 0; i < 255; ++i) packet += rilvano::ByteChar(i);
  const std::string block = rilvano::receive::RawBlock(packet);
  std::vector<double> times;
  double trimMs = 0;
  int trims = 0;
  for (int i = 0; trims < 2; ++i) {
    const double start = NowMs();
    const bool full = i > 0 && SendMessageW(view.Handle(Control::Text2), WM_GETTEXTLENGTH, 0, 0) + 1200 > static_cast<LRESULT>(cap);
    view.Append(Control::Text2, block);
    UpdateWindow(view.Handle(Control::Text2));
    Pump(view);
    const double ms = NowMs() - start;
    if (full && SendMessageW(view.Handle(Control::Text2), WM_GETTEXTLENGTH, 0, 0) < static_cast<LRESULT>(cap) * 7 / 8) {
      trimMs = std::max(trimMs, ms);
      ++trims;
    } else {
      times.push_back(ms);
    }
  }
  std::printf("Win32 pane at a cap of %zu units: append one raw block median %.2f ms, longest %.1f ms; "
              "the append that trims a quarter: %.1f ms\n",
              cap, Median(times), *std::max_element(times.begin(), times.end()), trimMs);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::string(argv[1]) == "trim") return Trim(std::stoul(argv[2]));
  const Control pane = argc > 1 && std::string(argv[1]) == "Text8" ? Control::Text8 : Control::Text2;
  rilvano::Win32View view;
  // Filled to the cap the program has here (a size argument of an older
  // version is ignored).
  view.Show(SW_SHOWNORMAL);
  Pump(view);
  std::string packet;
  for (unsigned i = 0; i < 255; ++i) packet += rilvano::ByteChar(i);
  const std::string block = rilvano::receive::RawBlock(packet);

  const auto appendOnce = [&] {
    const double start = NowMs();
    view.Append(pane, block);
    UpdateWindow(view.Handle(pane));
    Pump(view);
    return NowMs() - start;
  };

  std::vector<double> empty;
  for (int i = 0; i < 30; ++i) {
    view.SetText(pane, "");
    Pump(view);
    empty.push_back(appendOnce());
  }

  view.SetText(pane, "");
  std::string chunk;
  while (chunk.size() < view.PaneLimit() / 8) chunk += block;
  const double fillStart = NowMs();
  std::size_t filled = 0;
  while (filled < view.PaneLimit()) {
    view.Append(pane, chunk);
    filled += chunk.size();
  }
  Pump(view);
  const double fillMs = NowMs() - fillStart;
  std::vector<double> full;
  for (int i = 0; i < 30; ++i) full.push_back(appendOnce());

  const double e = Median(empty);
  const double f = Median(full);
  std::printf("Win32 pane: append one raw block (%zu bytes of UTF-8)\n", block.size());
  std::printf("  empty pane          median %.3f ms\n", e);
  std::printf("  pane at its cap     median %.3f ms (pane: %zu UTF-16 units)\n", f,
              view.Text(pane).size());
  std::printf("  (filling it with %.1f MB took %.0f ms)\n", static_cast<double>(filled) / 1e6, fillMs);
  std::printf("  ratio at the cap / empty: %.2f  %s\n", f / e, f / e < 2 ? "(target under 2: met)" : "(target under 2: MISSED)");
  return 0;
}
