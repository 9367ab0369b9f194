// What only the real Win32 window shows: keyboard navigation, the panes'
// edit controls, the timer through the message loop, closing, painting and
// layout. The form's behaviour itself is tested once for every view.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "form/controls.h"
#include "tests/support/form_seam.h"
#include "tests/win32/win32_driver.h"

namespace rilvano::test {
namespace {

using C = Control;

// ---- keyboard navigation ---------------------------------------------------

// The focus order over the controls that can take the focus now.
std::vector<C> EnabledFocusOrder(const Win32View& view) {
  std::vector<C> order;
  for (C c : kFocusOrder) {
    if (view.Enabled(c)) order.push_back(c);
  }
  return order;
}

std::string NameOf(const Win32View& view, HWND window) {
  for (const ControlInfo& info : kControls) {
    if (view.Handle(info.id) == window) return std::string(info.name);
  }
  return window == nullptr ? "(no focus)" : "(not a control)";
}

// Tab and Shift+Tab walk the focus order both ways, wrapping, over what is
// enabled: at start, and with every control enabled (out of each pane too).
TEST(Win32Keyboard, TabAndShiftTabFollowTheFocusOrder) {
  Win32Window w;
  for (bool allEnabled : {false, true}) {
    SCOPED_TRACE(allEnabled ? "every control enabled" : "start state");
    if (allEnabled) {
      for (C c : kFocusOrder) w.view.SetEnabled(c, true);
    }
    const std::vector<C> order = EnabledFocusOrder(w.view);
    SetFocus(w[order.front()]);
    for (std::size_t i = 1; i <= order.size(); ++i) {
      PressKey(w.view, VK_TAB);
      const C expected = order[i % order.size()];
      ASSERT_EQ(NameOf(w.view, w.Focus()), InfoOf(expected).name) << "Tab number " << i;
    }
    for (std::size_t i = order.size(); i-- > 0;) {
      PressKey(w.view, VK_TAB, VK_SHIFT);
      ASSERT_EQ(NameOf(w.view, w.Focus()), InfoOf(order[i]).name) << "Shift+Tab back to position " << i;
    }
  }
  // A Tab leaves a pane without putting a tab character into it.
  EXPECT_EQ(w.Text(C::Text6), "");
  EXPECT_EQ(w.Text(C::Text8), "");
  EXPECT_EQ(w.Text(C::Text2), "");
}

TEST(Win32Keyboard, FocusStartsInThePortBoxAndMovesOnWhenItsControlIsDisabled) {
  Win32Window w;
  EXPECT_EQ(NameOf(w.view, w.Focus()), "txt(0)");
  SetFocus(w[C::BTNOpenCom]);
  w.view.SetEnabled(C::BTNOpenCom, false);
  // BTNCloseCom is still disabled: the next that can take the focus.
  EXPECT_EQ(NameOf(w.view, w.Focus()), "Text1");
}

// ---- panes -----------------------------------------------------------------

// Every pane case runs on the rich edit and on the plain edit control the
// view falls back to without msftedit.dll.
class Win32Panes : public ::testing::TestWithParam<bool> {
 protected:
  Win32Panes() : w(Win32ViewOptions{.plainPanes = GetParam()}) {}
  void SetUp() override { ASSERT_EQ(w.view.RichPanes(), !GetParam()); }
  Win32Window w;
};

struct PaneClear {
  C pane;
  C clear;
};
constexpr PaneClear kPanes[] = {{C::Text6, C::Command5}, {C::Text8, C::Command6}, {C::Text2, C::Command7}};

TEST_P(Win32Panes, LineBreaksOperatorTextAdditionsAndClearing) {
  for (const PaneClear& p : kPanes) {
    SCOPED_TRACE(std::string(InfoOf(p.pane).name));
    SetFocus(w[p.pane]);
    Type(w[p.pane], "Ввод оператора");
    w.view.Append(p.pane, "\r\nПринят пакет:\r\n4\xD0\x83" "3\r\n01 03 \r\n");
    w.view.Append(p.pane, "a\nb\rc");
    EXPECT_EQ(w.Text(p.pane), "Ввод оператора\nПринят пакет:\n4\xD0\x83" "3\n01 03 \na\nb\nc");
    w.view.SetText(p.pane, "x\r\ny");
    EXPECT_EQ(w.Text(p.pane), "x\ny");
    // Its CLR button empties it, and additions start afresh.
    w.Click(p.clear);
    EXPECT_EQ(w.Text(p.pane), "");
    w.view.Append(p.pane, "01 06\r\n");
    EXPECT_EQ(w.Text(p.pane), "01 06\n");
  }
  // A box keeps its single line as given.
  w.view.SetText(C::Text3, "Жж");
  EXPECT_EQ(w.Text(C::Text3), "Жж");
}

// A full pane drops its oldest whole lines: the newest text always shows.
TEST_P(Win32Panes, AFullPaneKeepsTheNewestLines) {
  // Wine's rich edit would exhaust a 32-bit address space at the usual limit,
  // and trimming a pane of 128 Ki already paused the ticks past 300 ms.
  if (w.view.RichPanes() && GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr) {
    EXPECT_EQ(w.view.PaneLimit(), std::size_t{64} * 1024);
  }
  w.view.SetPaneLimit(400);
  for (C pane : {C::Text8, C::Text2}) {
    SCOPED_TRACE(std::string(InfoOf(pane).name));
    int last = 0;
    for (; last < 120; ++last) w.view.Append(pane, "строка " + std::to_string(last) + "\r\n");
    const std::string text = w.Text(pane);
    EXPECT_LE(text.size(), 2 * 400u);  // at most 400 UTF-16 units, 2 bytes each here
    // Consecutive whole lines up to the last one added.
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
      const std::size_t end = text.find('\n', start);
      ASSERT_NE(end, std::string::npos) << "the pane ends inside a line";
      lines.push_back(text.substr(start, end - start));
      start = end + 1;
    }
    ASSERT_GE(lines.size(), 15u);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(lines[i], "строка " + std::to_string(last - static_cast<int>(lines.size()) + static_cast<int>(i)));
    }

    // One addition larger than the pane: its own newest lines.
    std::string big;
    for (int i = 0; i < 60; ++i) big += "big " + std::to_string(i) + "\r\n";
    w.view.Append(pane, big);
    const std::string after = w.Text(pane);
    EXPECT_LE(after.size(), 400u);
    EXPECT_EQ(after.substr(after.size() - 7), "big 59\n");
    EXPECT_EQ(after.rfind("big ", 0), 0u) << "starts with a whole line";
  }
}

// Bytes in use in all the process's heaps.
std::size_t HeapBytesInUse() {
  std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
  heaps.resize(GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()));
  std::size_t used = 0;
  for (HANDLE heap : heaps) {
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heap, &entry)) {
      if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) used += entry.cbData;
    }
  }
  return used;
}

// Hours of traffic push millions of lines through a full pane; the lines it
// drops must give their memory back (Wine's rich edit kept every dropped line
// end while its undo was switched off).
TEST_P(Win32Panes, DroppedLinesGiveBackTheirMemory) {
  w.view.SetPaneLimit(2000);
  std::string lines;
  for (int i = 0; i < 20; ++i) lines += "01 03 02 00 2A 38 5B\r\n";
  const auto churn = [&](int times) {
    for (int i = 0; i < times; ++i) w.view.Append(C::Text2, lines);
  };
  churn(50);
  const std::size_t before = HeapBytesInUse();
  churn(200);  // 4,000 lines through a pane of some 90
  const std::size_t after = HeapBytesInUse();
  EXPECT_LT(after, before + 64 * 1024) << "from " << before << " to " << after << " bytes";
  // And an undo (Ctrl+Z) in the pane cannot take back what arrived.
  const std::string shown = w.Text(C::Text2);
  SendMessageW(w[C::Text2], EM_UNDO, 0, 0);
  EXPECT_EQ(w.Text(C::Text2), shown);
}

INSTANTIATE_TEST_SUITE_P(Edits, Win32Panes, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Plain" : "Rich"; });

// ---- timer, clicks and closing -----------------------------------------------

struct Recorder {
  explicit Recorder(Win32View& view) : view(view) {
    view.Connect({[this](C c) { OnClick(c); }, [this] { ++ticks; }, [this] { ++unloads; }});
  }
  void OnClick(C c) {
    clicks.push_back(c);
    if (onClick) onClick(c);
  }
  Win32View& view;
  std::vector<C> clicks;
  std::function<void(C)> onClick;
  int ticks = 0;
  int unloads = 0;
};

TEST(Win32Events, TicksComeThroughTheLoopButNeverInsideAHandlerOrAfterStop) {
  Win32View view;
  Recorder r(view);
  view.Show();
  view.StartTimer(kTimerIntervalMs);
  EXPECT_TRUE(view.TimerRunning());
  ASSERT_TRUE(PumpUntil(view, [&] { return r.ticks >= 3; }, 2000));

  // A handler that pumps messages itself, as a box or a nested loop would.
  int ticksInside = -1;
  r.onClick = [&](C) {
    const int before = r.ticks;
    Pump(view, 150);
    ticksInside = r.ticks - before;
  };
  view.SetEnabled(C::Command7, true);
  SendMessageW(view.Handle(C::Command7), BM_CLICK, 0, 0);
  EXPECT_EQ(ticksInside, 0);

  // A tick already queued when the timer stops is dropped.
  Sleep(30);
  view.StopTimer();
  const int atStop = r.ticks;
  Pump(view, 100);
  EXPECT_EQ(r.ticks, atStop);
  EXPECT_FALSE(view.TimerRunning());
}

TEST(Win32Events, ButtonsClickWhenEnabledOnly) {
  Win32View view;
  Recorder r(view);
  view.Show();
  SendMessageW(view.Handle(C::Command3), BM_CLICK, 0, 0);  // disabled at start
  SendMessageW(view.Handle(C::Command6), BM_CLICK, 0, 0);
  view.SetEnabled(C::Command3, true);
  SendMessageW(view.Handle(C::Command3), BM_CLICK, 0, 0);
  Pump(view, 0);
  EXPECT_EQ(r.clicks, (std::vector<C>{C::Command6, C::Command3}));
}

TEST(Win32Events, ClosingUnloadsOnceThenTheWindowIsGone) {
  Win32View view;
  Recorder r(view);
  view.Show();
  HWND window = view.Window();
  // Asked to close while a handler runs: the handler finishes first.
  std::vector<std::string> order;
  r.onClick = [&](C) {
    PostMessageW(window, WM_CLOSE, 0, 0);
    Pump(view, 20);
    order.push_back(IsWindow(window) ? "handler ran to its end" : "window gone inside the handler");
  };
  SendMessageW(view.Handle(C::Command5), BM_CLICK, 0, 0);
  Pump(view, 20);
  EXPECT_EQ(order, std::vector<std::string>{"handler ran to its end"});
  EXPECT_EQ(r.unloads, 1);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(view.Window(), nullptr);
  // The form may still talk to a view whose window is gone.
  view.SetText(C::Text8, "x");
  view.Append(C::Text2, "y");
  view.StartTimer(10);
  EXPECT_EQ(view.Text(C::Text8), "");
  EXPECT_FALSE(view.Enabled(C::BTNOpenCom));
  EXPECT_FALSE(view.TimerRunning());
}

// ---- painting, layout, clock ---------------------------------------------------

// A new colour makes the lamp due for a redraw (its whole face in the
// window's update region), and it is painted in that colour, read as
// 0x00BBGGRR.
TEST(Win32Paint, TheLampIsRedrawnInItsNewColour) {
  Win32View view;
  view.Show();
  HWND lamp = view.Handle(C::Pic);
  RECT r{};
  GetClientRect(lamp, &r);
  ASSERT_GT(r.right, 4);
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, r.right, r.bottom);
  HGDIOBJ old = SelectObject(dc, bitmap);
  for (std::uint32_t bgr : {0x0000FFu, 0xFFFFFFu, 0x808080u, 0x123456u}) {
    UpdateWindow(view.Window());
    ASSERT_FALSE(GetUpdateRect(lamp, nullptr, FALSE)) << "the lamp was not painted";
    view.SetLampColor(bgr);
    EXPECT_EQ(view.LampColor(), bgr);
    RECT due{};
    EXPECT_TRUE(GetUpdateRect(lamp, &due, FALSE)) << "a new colour that is never drawn";
    EXPECT_TRUE(EqualRect(&due, &r));
    SendMessageW(lamp, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    EXPECT_EQ(GetPixel(dc, r.right / 2, r.bottom / 2), static_cast<COLORREF>(bgr));
  }
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
}

int CaptionWidth(HWND control) {
  const std::wstring text = wintext::Widen(
      [&] {
        wchar_t buffer[256] = L"";
        GetWindowTextW(control, buffer, 256);
        return wintext::Narrow(buffer);
      }());
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return size.cx;
}

RECT PlacedIn(HWND window, HWND control) {
  RECT r{};
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

bool Contains(const RECT& outer, const RECT& inner) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

// The client area is 398 x 700 at 96 dpi and scales with the DPI. At that
// size and at the smallest the window allows, every caption is whole, each
// control lies inside its frame and none overlaps another.
TEST(Win32Layout, ExactClientSizeCaptionsFitAndNothingOverlaps) {
  for (UINT dpi : {96u, 144u}) {
    SCOPED_TRACE(std::to_string(dpi) + " dpi");
    Win32View view(Win32ViewOptions{.dpi = dpi});
    view.Show();
    RECT client{};
    GetClientRect(view.Window(), &client);
    RECT outer{};
    GetWindowRect(view.Window(), &outer);
    // The system keeps a window within the screen's size (Wine's null
    // display is 1024 x 768): only there may the client come out shorter.
    const LONG tallest = GetSystemMetrics(SM_CYMAXTRACK) - ((outer.bottom - outer.top) - client.bottom);
    EXPECT_EQ(client.right, static_cast<LONG>(398 * dpi / 96));
    EXPECT_EQ(client.bottom, std::min<LONG>(700 * dpi / 96, tallest));

    for (bool smallest : {false, true}) {
      SCOPED_TRACE(smallest ? "smallest size" : "start size");
      if (smallest) SetWindowPos(view.Window(), nullptr, 0, 0, 1, 1, SWP_NOMOVE | SWP_NOZORDER);
      GetClientRect(view.Window(), &client);
      std::vector<std::pair<std::string, RECT>> placed;
      for (const ControlInfo& info : kControls) {
        HWND control = view.Handle(info.id);
        const RECT r = PlacedIn(view.Window(), control);
        EXPECT_TRUE(Contains(client, r)) << info.name << " lies outside the window";
        EXPECT_TRUE(Contains(PlacedIn(view.Window(), view.Handle(info.group)), r))
            << info.name << " leaves its frame " << InfoOf(info.group).name;
        if (info.kind == ControlKind::Label || info.kind == ControlKind::Button) {
          const int lines = info.id == C::Label3 ? 2 : 1;
          EXPECT_LE(CaptionWidth(control), (r.right - r.left) * lines) << info.name << " is cut";
        }
        if (info.kind == ControlKind::Pane) {
          EXPECT_GT(r.bottom - r.top, 20 * static_cast<int>(dpi) / 96) << info.name;
        }
        if (info.kind != ControlKind::Group) placed.emplace_back(info.name, r);
      }
      for (std::size_t i = 0; i < placed.size(); ++i) {
        for (std::size_t j = i + 1; j < placed.size(); ++j) {
          RECT both{};
          EXPECT_FALSE(IntersectRect(&both, &placed[i].second, &placed[j].second))
              << placed[i].first << " overlaps " << placed[j].first;
        }
      }
    }
  }
}

TEST(Win32Clock, GeneralDateIsTheShortDateAndTheTimeOrTheDateAloneAtMidnight) {
  Win32View view;
  const LocalTime midnight{2026, 12, 7, 0, 0, 0, 0};
  const LocalTime evening{2026, 12, 7, 21, 5, 9, 500};
  const std::string date = view.GeneralDate(midnight);
  const std::string both = view.GeneralDate(evening);
  EXPECT_NE(date.find("2026"), std::string::npos) << date;
  EXPECT_EQ(both.rfind(date + " ", 0), 0u) << both;
  EXPECT_NE(both.find("05:09"), std::string::npos) << both;
  const LocalTime now = view.Now();
  EXPECT_GE(now.year, 2024);
  EXPECT_TRUE(now.month >= 1 && now.month <= 12 && now.day >= 1 && now.day <= 31);
}

}  // namespace
}  // namespace rilvano::test
