// The Win32 view's panes under load: one raw block (a 255-byte packet)
// appended to an empty Text2 and to one holding 10 MB, with the repaint it
// causes. Prints medians and the ratio; the target is a ratio under 2.
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

}  // namespace

int main(int argc, char** argv) {
  const Control pane = argc > 1 && std::string(argv[1]) == "Text8" ? Control::Text8 : Control::Text2;
  const std::size_t target = argc > 2 ? std::stoul(argv[2]) * 1000 * 1000 : 10U * 1000 * 1000;
  rilvano::Win32View view;
  // The figure is for the full-size pane, also under Wine.
  view.SetPaneLimit(rilvano::Win32View::kDefaultPaneLimit);
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
  while (chunk.size() < (1U << 20)) chunk += block;
  const double fillStart = NowMs();
  std::size_t filled = 0;
  while (filled < target) {
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
  std::printf("  pane holding 10 MB  median %.3f ms (pane: %zu UTF-16 units)\n", f,
              view.Text(pane).size());
  std::printf("  (filling it with %.1f MB took %.0f ms)\n", static_cast<double>(filled) / 1e6, fillMs);
  std::printf("  ratio 10 MB / empty: %.2f  %s\n", f / e, f / e < 2 ? "(target under 2: met)" : "(target under 2: MISSED)");
  return 0;
}
