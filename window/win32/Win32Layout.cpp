// Where the controls go: the four frames top to bottom, each row sized from
// the captions in the current font, so the window looks right at any DPI and
// with any message font (whose size is picked so that this fits 398 pixels
// at 96 dpi). The panes share the height left over, 3 : 3 : 2.
#include <algorithm>
#include <string_view>
#include <vector>

#include "window/win32/Win32View.h"
#include "window/win32/dpi.h"
#include "window/win32/wintext.h"

namespace rilvano {

namespace {

using C = Control;

class Metrics {
 public:
  Metrics(HWND window, HFONT font, UINT dpi) : window_(window), dc_(GetDC(window)), dpi_(dpi) {
    old_ = SelectObject(dc_, font);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc_, &tm);
    text = tm.tmHeight > 0 ? tm.tmHeight : S(13);
    row = text + S(8);
  }
  ~Metrics() {
    SelectObject(dc_, old_);
    ReleaseDC(window_, dc_);
  }
  Metrics(const Metrics&) = delete;
  Metrics& operator=(const Metrics&) = delete;

  int S(int pixelsAt96) const { return dpi::Scale(pixelsAt96, dpi_); }
  int Width(std::string_view utf8) const {
    const std::wstring text16 = wintext::Widen(utf8);
    SIZE size{};
    GetTextExtentPoint32W(dc_, text16.c_str(), static_cast<int>(text16.size()), &size);
    return size.cx;
  }
  // Spare room is scarce at 398 pixels: a label is as wide as its text.
  int Label(C c) const { return Width(InfoOf(c).text); }
  int Box(std::string_view sample) const { return Width(sample) + S(10); }
  int Button(C c, int padding = 14) const { return Width(InfoOf(c).text) + S(padding); }

  int text = 0;  // line height of the font
  int row = 0;   // height of boxes and buttons

 private:
  HWND window_;
  HDC dc_;
  HGDIOBJ old_ = nullptr;
  UINT dpi_;
};

struct Plan {
  std::array<RECT, kControlCount> rects{};
  SIZE least{};
  void Put(C c, int x, int y, int w, int h) { rects[static_cast<std::size_t>(c)] = RECT{x, y, x + w, y + h}; }
};

// A row of controls left to right; a stretch takes an equal share of the
// room left.
struct RowItem {
  C control;
  int width;
  bool stretch = false;
};
constexpr RowItem Stretch() { return RowItem{C::Frame2, 0, true}; }

int PlaceRow(Plan& plan, const std::vector<RowItem>& items, int x, int y, int width, int height, int gap) {
  int fixed = 0;
  int stretches = 0;
  bool first = true;
  for (const RowItem& item : items) {
    if (item.stretch) {
      ++stretches;
      continue;
    }
    fixed += item.width + (first ? 0 : gap);
    first = false;
  }
  const int slack = std::max(0, width - fixed);
  first = true;
  for (const RowItem& item : items) {
    if (item.stretch) {
      x += stretches > 0 ? slack / stretches : 0;
      continue;
    }
    if (!first) x += gap;
    plan.Put(item.control, x, y, item.width, height);
    x += item.width;
    first = false;
  }
  return fixed;
}

Plan Compute(const Metrics& m, int clientWidth, int clientHeight) {
  Plan plan;
  const int outer = m.S(4);
  const int inner = m.S(6);
  const int gap = m.S(4);
  const int between = m.S(4);    // between frames
  const int caption = m.text + m.S(2);  // frame top to its first row
  const int minPane = 2 * m.row;
  const int left = outer;
  const int width = std::max(0, clientWidth - 2 * outer);
  const int rowWidth = std::max(0, width - 2 * inner);
  // The connection row is the widest: closer to its frame and tighter.
  const int inner2 = m.S(4);
  const int gap2 = m.S(3);

  // Heights of each frame without its pane.
  const int h2 = caption + m.row + inner;
  const int labelBlock = 2 * m.text + m.S(2);
  const int top1 = std::max(2 * m.row + m.S(4), labelBlock + m.row);
  const int f1 = caption + top1 + inner + inner;
  const int f3 = caption + m.row + inner + inner;
  const int f4 = f3;
  const int fixedHeight = m.S(2) + h2 + between + f1 + between + f3 + between + f4 + outer;
  const int panes = std::max(0, clientHeight - fixedHeight);
  const int pane1 = panes * 3 / 8;
  const int pane3 = panes * 3 / 8;
  const int pane4 = panes - pane1 - pane3;

  // ---- Frame2: the connection row, the lamp on the frame's top edge.
  int y = m.S(2);
  plan.Put(C::Frame2, left, y, width, h2);
  const int need2 = PlaceRow(plan,
                             {{C::Label1_0, m.Label(C::Label1_0)}, {C::txt_0, m.Box("COM10:")},
                              {C::Label8, m.Label(C::Label8)}, {C::Text10, m.Box("19200")}, Stretch(),
                              {C::BTNOpenCom, m.Button(C::BTNOpenCom)}, {C::BTNCloseCom, m.Button(C::BTNCloseCom)},
                              Stretch(), {C::Label2, m.Label(C::Label2)}, {C::Text1, m.Box("255")}},
                             left + inner2, y + caption, std::max(0, width - 2 * inner2), m.row, gap2);
  const int lampSide = m.text;
  plan.Put(C::Pic, left + m.S(10) + m.Width(InfoOf(C::Frame2).text) + m.S(6), y, lampSide, lampSide);
  y += h2 + between;

  // ---- Frame1: address on the left, two write rows, CLR at the right edge.
  const int h1 = f1 + pane1;
  plan.Put(C::Frame1, left, y, width, h1);
  {
    const int x0 = left + inner;
    const int rowY = y + caption;
    const int col1 = std::max(m.Width("Адрес ячейки") + m.S(4), m.Box("255"));
    plan.Put(C::Label3, x0, rowY, col1, labelBlock);
    plan.Put(C::Text4, x0, rowY + labelBlock, m.Box("255"), m.row);
    const int x2 = x0 + col1 + m.S(8);
    const int col2 = std::max(m.Label(C::Label5), m.Label(C::Label4));
    const int x3 = x2 + col2 + gap;
    const int col3 = m.Box("65535");
    const int x4 = x3 + col3 + gap;
    const int col4 = std::max(m.Button(C::Command1), m.Button(C::Command4));
    const int row2Y = rowY + m.row + m.S(4);
    plan.Put(C::Label5, x2, rowY, col2, m.row);
    plan.Put(C::Text5, x3, rowY, col3, m.row);
    plan.Put(C::Command1, x4, rowY, col4, m.row);
    plan.Put(C::Label4, x2, row2Y, col2, m.row);
    plan.Put(C::Text3, x3, row2Y, m.Box("WW"), m.row);
    plan.Put(C::Command4, x4, row2Y, col4, m.row);
    const int clear = m.Button(C::Command5);
    plan.Put(C::Command5, std::max(x4 + col4 + m.S(8), left + width - inner - clear), rowY, clear, m.row);
    const int need1 = col1 + m.S(8) + col2 + gap + col3 + gap + col4 + m.S(8) + clear;
    plan.least.cx = std::max<LONG>(plan.least.cx, need1);
    const int paneY = rowY + top1 + inner;
    plan.Put(C::Text6, x0, paneY, rowWidth, std::max(0, y + h1 - inner - paneY));
  }
  y += h1 + between;

  // ---- Frame3: the read row; Text8 fills the frame below it.
  const int h3 = f3 + pane3;
  plan.Put(C::Frame3, left, y, width, h3);
  const int need3 = PlaceRow(plan,
                             {{C::Label6, m.Label(C::Label6)}, {C::Text7, m.Box("255")}, {C::Command8, m.row},
                              {C::Command9, m.row}, Stretch(), {C::Label7, m.Label(C::Label7)},
                              {C::Text9, m.Box("8")}, {C::Command3, m.Button(C::Command3)},
                              {C::Command6, m.Button(C::Command6)}},
                             left + inner, y + caption, rowWidth, m.row, gap);
  {
    const int paneY = y + caption + m.row + inner;
    plan.Put(C::Text8, left + inner, paneY, rowWidth, std::max(0, y + h3 - inner - paneY));
  }
  y += h3 + between;

  // ---- Frame4: the information request; Text2 below.
  const int h4 = f4 + pane4;
  plan.Put(C::Frame4, left, y, width, h4);
  const int need4 = PlaceRow(plan,
                             {{C::Command2, m.Button(C::Command2, 20)}, Stretch(), {C::Command7, m.Button(C::Command7)}},
                             left + inner, y + caption, rowWidth, m.row, gap);
  {
    const int paneY = y + caption + m.row + inner;
    plan.Put(C::Text2, left + inner, paneY, rowWidth, std::max(0, y + h4 - inner - paneY));
  }

  const int needRow = std::max({need2 + 2 * (inner2 - inner), need3, need4, static_cast<int>(plan.least.cx)});
  plan.least.cx = needRow + 2 * inner + 2 * outer;
  plan.least.cy = fixedHeight + 3 * minPane;
  return plan;
}

}  // namespace

SIZE Win32View::LeastClientSize(HFONT font) const {
  if (window_ == nullptr) return SIZE{0, 0};
  const Metrics metrics(window_, font, dpi_);
  return Compute(metrics, 0, 0).least;
}

void Win32View::Layout() {
  if (window_ == nullptr || controls_[0] == nullptr) return;
  RECT client{};
  GetClientRect(window_, &client);
  Plan plan;
  {
    const Metrics metrics(window_, font_, dpi_);
    plan = Compute(metrics, client.right - client.left, client.bottom - client.top);
  }
  HDWP batch = BeginDeferWindowPos(static_cast<int>(kControlCount));
  for (std::size_t i = 0; i < kControlCount; ++i) {
    const RECT& r = plan.rects[i];
    if (batch != nullptr) {
      batch = DeferWindowPos(batch, controls_[i], nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                             SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  if (batch != nullptr) EndDeferWindowPos(batch);
  // Frames draw only their edges: the window repaints what lies between.
  InvalidateRect(window_, nullptr, TRUE);
}

}  // namespace rilvano
