#include "window/win32/Win32View.h"

#include <commctrl.h>
#include <richedit.h>

#include <algorithm>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "form/pane_cap.h"
#include "window/win32/dpi.h"
#include "window/win32/wintext.h"

namespace rilvano {

namespace {

constexpr wchar_t kClassName[] = L"RilvanoWindow";
constexpr int kIconId = 1;

using wintext::Narrow;
using wintext::Widen;

bool IsPane(Control control) { return InfoOf(control).kind == ControlKind::Pane; }

DWORD StyleOf(const ControlInfo& info, bool richPanes) {
  const DWORD child = WS_CHILD | WS_VISIBLE;
  switch (info.kind) {
    case ControlKind::Group: return child | BS_GROUPBOX | WS_CLIPSIBLINGS;
    case ControlKind::Label:
      // Label3 wraps over two lines; the others sit centred beside their box.
      return child | SS_NOPREFIX | (info.id == Control::Label3 ? SS_LEFT : SS_LEFTNOWORDWRAP | SS_CENTERIMAGE);
    case ControlKind::Box: return child | WS_TABSTOP | WS_GROUP | ES_AUTOHSCROLL;
    case ControlKind::Button: return child | WS_TABSTOP | WS_GROUP | BS_PUSHBUTTON;
    case ControlKind::Pane:
      return child | WS_TABSTOP | WS_GROUP | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | WS_VSCROLL |
             (info.wraps ? 0 : ES_AUTOHSCROLL | WS_HSCROLL) |
             // The bars stay, greyed while there is nothing to scroll (the
             // same bit means digits only to a plain edit control).
             (richPanes ? ES_DISABLENOSCROLL : 0);
    case ControlKind::Lamp: return child | SS_OWNERDRAW;
  }
  return child;
}

const wchar_t* ClassOf(ControlKind kind, bool richPanes) {
  switch (kind) {
    case ControlKind::Group:
    case ControlKind::Button: return L"BUTTON";
    case ControlKind::Box: return L"EDIT";
    case ControlKind::Pane: return richPanes ? MSFTEDIT_CLASS : L"EDIT";
    case ControlKind::Label:
    case ControlKind::Lamp: return L"STATIC";
  }
  return L"STATIC";
}

// The pane rule works on UTF-16 units; so does wchar_t here.
std::u16string_view Units16(const std::wstring& units) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  return {reinterpret_cast<const char16_t*>(units.data()), units.size()};
}

std::wstring WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(window, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
  return text;
}

}  // namespace

Win32View::Win32View(HINSTANCE instance) : Win32View(Win32ViewOptions{instance}) {}

Win32View::Win32View(const Win32ViewOptions& options)
    : instance_(options.instance ? options.instance : GetModuleHandleW(nullptr)), forcedDpi_(options.dpi) {
  INITCOMMONCONTROLSEX common{};
  common.dwSize = sizeof common;
  common.dwICC = ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES;
  InitCommonControlsEx(&common);
  // The panes are rich edits where Windows has them (every version from XP
  // SP1 on): the plain edit control slows down with the length of its text,
  // and a pane holds megabytes.
  richPanes_ = !options.plainPanes && LoadLibraryW(L"msftedit.dll") != nullptr;
  if (richPanes_ && GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr) {
    paneLimit_ = kWinePaneLimit;
  }

  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (!GetClassInfoExW(instance_, kClassName, &existing)) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &Win32View::WindowProc;
    wc.hInstance = instance_;
    wc.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(kIconId));
    wc.hIconSm = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(kIconId), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    wc.lpszClassName = kClassName;
    if (!RegisterClassExW(&wc)) throw std::runtime_error("не удалось зарегистрировать класс главного окна");
  }

  const std::wstring caption = Widen(kWindowCaption);
  CreateWindowExW(0, kClassName, caption.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                  CW_USEDEFAULT, nullptr, nullptr, instance_, this);
  if (window_ == nullptr) {
    // The reason WM_CREATE failed, when it was the one that failed.
    ThrowPending();
    throw std::runtime_error("не удалось создать главное окно");
  }

  // The font was chosen to fit this; only a layout that cannot fit even at
  // the smallest font makes the window larger.
  const SIZE least = MinimumClientSize();
  const SIZE client{std::max<LONG>(least.cx, dpi::Scale(kClientAt96.cx, dpi_)),
                    std::max<LONG>(least.cy, dpi::Scale(kClientAt96.cy, dpi_))};
  RECT frame{0, 0, client.cx, client.cy};
  dpi::AdjustWindowRect(frame, WS_OVERLAPPEDWINDOW, 0, dpi_);
  SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  // The frame the system draws may differ from what it reported (a caption
  // at another DPI, say): the client area is what must come out exact.
  RECT got{};
  GetClientRect(window_, &got);
  if (got.right != client.cx || got.bottom != client.cy) {
    SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left + client.cx - got.right,
                 frame.bottom - frame.top + client.cy - got.bottom, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  Layout();
}

Win32View::~Win32View() {
  events_ = {};
  if (window_ != nullptr) DestroyWindow(window_);
}

void Win32View::Connect(Win32Events events) { events_ = std::move(events); }

void Win32View::Show(int showCommand) {
  if (window_ == nullptr) return;
  ShowWindow(window_, showCommand);
  UpdateWindow(window_);
  SetFocus(FocusTarget());
}

// Where the focus goes when the window gets it: back to the control that had
// it, or to the first one that can take it (txt(0) at start).
HWND Win32View::FocusTarget() const {
  if (lastFocus_ != nullptr && IsWindow(lastFocus_) && IsWindowEnabled(lastFocus_)) return lastFocus_;
  HWND first = Handle(kFocusOrder.front());
  if (first != nullptr && IsWindowEnabled(first)) return first;
  return GetNextDlgTabItem(window_, first, FALSE);
}

void Win32View::KeepFocus(HWND focus) {
  if (focus != nullptr && window_ != nullptr && IsChild(window_, focus)) lastFocus_ = focus;
}

int Win32View::Run() {
  // Also when a failure leaves the loop: a window destroyed later must not
  // post a quit that would end the next loop, the failure box's included.
  struct QuitOnDestroy {
    explicit QuitOnDestroy(bool& flag) : flag(flag) { flag = true; }
    ~QuitOnDestroy() { flag = false; }
    bool& flag;
  } quitOnDestroy(quitOnDestroy_);
  MSG msg;
  for (;;) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(msg.wParam);
    if (got == -1) return 0;
    if (!PreTranslate(msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    ThrowPending();
  }
}

void Win32View::ThrowPending() {
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

bool Win32View::PreTranslate(MSG& msg) {
  if (window_ == nullptr || msg.hwnd == nullptr) return false;
  if (msg.hwnd != window_ && !IsChild(window_, msg.hwnd)) return false;
  // Tab leaves any control, a pane included (an edit control would keep it
  // or hand it to a dialog manager this window does not have).
  if (msg.message == WM_KEYDOWN && msg.wParam == VK_TAB && GetKeyState(VK_CONTROL) >= 0 && GetKeyState(VK_MENU) >= 0) {
    MoveFocus(GetFocus(), GetKeyState(VK_SHIFT) < 0);
    return true;
  }
  return IsDialogMessageW(window_, &msg) != 0;
}

void Win32View::MoveFocus(HWND from, bool backwards) {
  if (window_ == nullptr) return;
  if (from != nullptr && from != window_ && !IsChild(window_, from)) from = nullptr;
  if (from == window_) from = nullptr;
  HWND next = GetNextDlgTabItem(window_, from, backwards ? TRUE : FALSE);
  if (next == nullptr || next == from) return;
  SetFocus(next);
  // A box entered from the keyboard has its text selected, ready to be typed
  // over; a pane keeps its caret, so a keystroke cannot wipe the record.
  const LONG_PTR id = GetWindowLongPtrW(next, GWLP_ID);
  const auto index = static_cast<std::size_t>(id - kFirstId);
  if (index < kControlCount && kControls[index].kind == ControlKind::Box) SendMessageW(next, EM_SETSEL, 0, -1);
}

void Win32View::SetPaneLimit(std::size_t units) {
  paneLimit_ = std::max(units, pane::kLeastCap);
  for (const ControlInfo& info : kControls) {
    if (info.kind == ControlKind::Pane && Handle(info.id) != nullptr) {
      SendMessageW(Handle(info.id), richPanes_ ? EM_EXLIMITTEXT : EM_SETLIMITTEXT,
                   richPanes_ ? 0 : static_cast<WPARAM>(paneLimit_), static_cast<LPARAM>(paneLimit_));
    }
  }
}

// Plain text, an undo of one step only (no copy of megabytes), and the limit
// raised from 32 K. Not none: with undo off, Wine's rich edit never frees the
// line end of a line it deletes, so a full pane leaked with every trim.
void Win32View::SetUpPane(HWND pane, bool wraps) {
  if (richPanes_) {
    SendMessageW(pane, EM_SETTEXTMODE, TM_PLAINTEXT | TM_SINGLELEVELUNDO, 0);
    SendMessageW(pane, EM_SETUNDOLIMIT, 1, 0);
    SendMessageW(pane, EM_EXLIMITTEXT, 0, static_cast<LPARAM>(paneLimit_));
    // No wrapping is a line width of 1 to a rich edit.
    SendMessageW(pane, EM_SETTARGETDEVICE, 0, wraps ? 0 : 1);
  } else {
    SendMessageW(pane, EM_SETLIMITTEXT, static_cast<WPARAM>(paneLimit_), 0);
  }
}

std::size_t Win32View::PaneLength(HWND pane) const {
  if (!richPanes_) return static_cast<std::size_t>(GetWindowTextLengthW(pane));
  GETTEXTLENGTHEX how{GTL_NUMCHARS | GTL_PRECISE, 1200};
  const LRESULT length = SendMessageW(pane, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&how), 0);
  return length > 0 ? static_cast<std::size_t>(length) : 0;
}

// The pane's text in its own positions (a rich edit ends paragraphs with a
// lone CR).
std::wstring Win32View::PaneUnits(HWND pane) const {
  if (!richPanes_) return WindowText(pane);
  const std::size_t length = PaneLength(pane);
  if (length == 0) return {};
  std::wstring text(length + 1, L'\0');
  GETTEXTEX how{};
  how.cb = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  how.flags = GT_DEFAULT;
  how.codepage = 1200;
  const LRESULT copied = SendMessageW(pane, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&how), reinterpret_cast<LPARAM>(text.data()));
  text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  return text;
}

// ---- window creation and messages

HWND Win32View::CreateControl(const ControlInfo& info) {
  const std::wstring text = Widen(info.text);
  const DWORD exStyle = (info.kind == ControlKind::Box || info.kind == ControlKind::Pane) ? WS_EX_CLIENTEDGE : 0;
  DWORD style = StyleOf(info, richPanes_);
  if (!info.enabled) style |= WS_DISABLED;
  return CreateWindowExW(exStyle, ClassOf(info.kind, richPanes_), text.c_str(), style, 0, 0, 0, 0, window_,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(info.id))), instance_, nullptr);
}

void Win32View::CreateControls() {
  for (const ControlInfo& info : kControls) {
    HWND control = CreateControl(info);
    if (control == nullptr && info.kind == ControlKind::Pane && richPanes_) {
      // msftedit.dll is there but its control cannot be made: every pane on
      // the plain edit control, as without the DLL.
      richPanes_ = false;
      for (const ControlInfo& made : kControls) {
        HWND& pane = controls_[Index(made.id)];
        if (made.kind != ControlKind::Pane || pane == nullptr) continue;
        DestroyWindow(pane);
        pane = CreateControl(made);
        if (pane == nullptr) throw std::runtime_error("не удалось создать поле " + std::string(made.name));
        SetUpPane(pane, made.wraps);
      }
      control = CreateControl(info);
    }
    if (control == nullptr) throw std::runtime_error("не удалось создать элемент окна " + std::string(info.name));
    controls_[Index(info.id)] = control;
    if (info.kind == ControlKind::Pane) SetUpPane(control, info.wraps);
  }

  // Tab order is the windows' Z order: the focus order first, frames last so
  // that they never paint over what sits in them.
  HWND after = HWND_TOP;
  for (Control c : kFocusOrder) {
    SetWindowPos(Handle(c), after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    after = Handle(c);
  }
  for (const ControlInfo& info : kControls) {
    if (info.kind == ControlKind::Group) {
      SetWindowPos(Handle(info.id), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
  }

  tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr, instance_,
                             nullptr);
  if (tooltip_ != nullptr) {
    std::wstring tip = Widen(kText9Tooltip);
    TOOLINFOW tool{};
    // The size without the last member: comctl32 5 refuses the larger one.
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = window_;
    tool.uId = reinterpret_cast<UINT_PTR>(Handle(Control::Text9));
    tool.lpszText = tip.data();
    SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

// The message font's face at the largest size, from the system's down to
// 7.5 pt, at which the layout fits the client area.
HFONT Win32View::FittingFont() const {
  LOGFONTW face = dpi::MessageFont(dpi_);
  if (face.lfHeight >= 0) {
    // A cell height (or the default): as a character height, to step it.
    HFONT font = CreateFontIndirectW(&face);
    HDC dc = GetDC(window_);
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW tm{};
    const bool measured = GetTextMetricsW(dc, &tm) != 0;
    SelectObject(dc, old);
    ReleaseDC(window_, dc);
    DeleteObject(font);
    face.lfHeight = measured && tm.tmHeight > tm.tmInternalLeading ? -(tm.tmHeight - tm.tmInternalLeading)
                                                                   : -MulDiv(9, static_cast<int>(dpi_), 72);
  }
  const int smallest = MulDiv(15, static_cast<int>(dpi_), 2 * 72);  // 7.5 pt in pixels
  const SIZE room{dpi::Scale(kClientAt96.cx, dpi_), dpi::Scale(kClientAt96.cy, dpi_)};
  for (;;) {
    HFONT font = CreateFontIndirectW(&face);
    if (font == nullptr) return nullptr;
    const SIZE least = LeastClientSize(font);
    if ((least.cx <= room.cx && least.cy <= room.cy) || -face.lfHeight <= smallest) return font;
    DeleteObject(font);
    ++face.lfHeight;
  }
}

void Win32View::ApplyDpi(UINT dpi) {
  dpi_ = dpi;
  HFONT font = FittingFont();
  for (HWND control : controls_) {
    if (control != nullptr) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  if (font_ != nullptr) DeleteObject(font_);
  font_ = font;
}

LRESULT CALLBACK Win32View::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    auto* self = static_cast<Win32View*>(create->lpCreateParams);
    self->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    dpi::EnableNonClientScaling(window);
  }
  auto* self = reinterpret_cast<Win32View*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  try {
    return self->OnMessage(message, wParam, lParam);
  } catch (...) {
    // Unwinding through the system's frames is undefined: the loop throws it.
    if (!self->failure_) self->failure_ = std::current_exception();
    return 0;
  }
}

LRESULT Win32View::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  HWND window = window_;
  switch (message) {
    case WM_CREATE:
      try {
        CreateControls();
        ApplyDpi(forcedDpi_ != 0 ? forcedDpi_ : dpi::ForWindow(window_));
      } catch (...) {
        if (!failure_) failure_ = std::current_exception();
        return -1;
      }
      return 0;

    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      const auto index = static_cast<std::size_t>(id - kFirstId);
      if (HIWORD(wParam) == BN_CLICKED && id >= kFirstId && index < kControlCount &&
          kControls[index].kind == ControlKind::Button) {
        // A disabled button never acts, whoever sent the click.
        const Control control = kControls[index].id;
        if (IsWindowEnabled(Handle(control)) && events_.click) {
          Dispatch([this, control] { events_.click(control); });
        }
        return 0;
      }
      break;
    }

    case WM_TIMER:
      // A tick never runs inside a handler (a box or a pause may pump
      // messages), nor after the timer was stopped with one still queued.
      if (wParam == kTimerId) {
        if (timerRunning_ && busy_ == 0 && events_.tick) Dispatch(events_.tick);
        return 0;
      }
      break;

    case WM_NEXTDLGCTL:
      if (LOWORD(lParam) != 0) {
        SetFocus(reinterpret_cast<HWND>(wParam));
      } else {
        MoveFocus(GetFocus(), wParam != 0);
      }
      return 0;

    // Where the operator was is kept whenever the window may lose the focus
    // (deactivated, minimised) and given back when it returns.
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        KeepFocus(GetFocus());
      } else {
        SetFocus(FocusTarget());
      }
      return 0;

    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_MINIMIZE) KeepFocus(GetFocus());
      break;

    case WM_SETFOCUS:
      // Taken from a control (as on restoring from minimised): back to it.
      KeepFocus(reinterpret_cast<HWND>(wParam));
      SetFocus(FocusTarget());
      return 0;

    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item != nullptr && item->hwndItem == Handle(Control::Pic)) {
        PaintLamp(*item);
        return TRUE;
      }
      break;
    }

    case WM_SIZE:
      Layout();
      return 0;

    case WM_GETMINMAXINFO: {
      if (controls_[0] == nullptr) break;
      const SIZE least = MinimumClientSize();
      RECT frame{0, 0, least.cx, least.cy};
      dpi::AdjustWindowRect(frame, static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_STYLE)), 0, dpi_);
      auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
      info->ptMinTrackSize.x = frame.right - frame.left;
      info->ptMinTrackSize.y = frame.bottom - frame.top;
      return 0;
    }

    case WM_DPICHANGED: {
      ApplyDpi(HIWORD(wParam));
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(window_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      Layout();
      return 0;
    }

    case WM_SETTINGCHANGE:
      if (wParam == SPI_SETNONCLIENTMETRICS) {
        ApplyDpi(dpi_);
        Layout();
      }
      break;

    case WM_CLOSE:
      if (busy_ > 0) {
        closePending_ = true;
      } else {
        Close();
      }
      return 0;

    case WM_ENDSESSION:
      // Windows ends the process after this: let go of port and log first.
      if (wParam != 0 && !unloaded_) {
        unloaded_ = true;
        if (events_.unload) Dispatch(events_.unload);
      }
      return 0;

    case WM_DESTROY:
      KillTimer(window_, kTimerId);
      timerRunning_ = false;
      if (quitOnDestroy_) PostQuitMessage(0);
      return 0;

    case WM_NCDESTROY:
      SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
      window_ = nullptr;
      tooltip_ = nullptr;
      lastFocus_ = nullptr;
      controls_.fill(nullptr);
      if (font_ != nullptr) DeleteObject(font_);
      font_ = nullptr;
      return DefWindowProcW(window, message, wParam, lParam);

    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void Win32View::Close() {
  if (!unloaded_) {
    unloaded_ = true;
    if (events_.unload) Dispatch(events_.unload);
  }
  if (window_ != nullptr) DestroyWindow(window_);
}

void Win32View::Dispatch(const std::function<void()>& call) {
  ++busy_;
  try {
    call();
  } catch (...) {
    // Unwinding through the system's frames is undefined: keep it for the
    // loop to throw.
    if (!failure_) failure_ = std::current_exception();
  }
  --busy_;
  if (busy_ == 0 && closePending_) {
    closePending_ = false;
    Close();
  }
}

void Win32View::PaintLamp(const DRAWITEMSTRUCT& item) const {
  HDC dc = item.hDC;
  const RECT r = item.rcItem;
  FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
  HBRUSH fill = CreateSolidBrush(static_cast<COLORREF>(lampColor_));  // COLORREF is 0x00BBGGRR too
  HPEN rim = CreatePen(PS_SOLID, 1, RGB(64, 64, 64));
  HGDIOBJ oldBrush = SelectObject(dc, fill);
  HGDIOBJ oldPen = SelectObject(dc, rim);
  Ellipse(dc, r.left + 1, r.top + 1, r.right - 1, r.bottom - 1);
  SelectObject(dc, oldPen);
  SelectObject(dc, oldBrush);
  DeleteObject(rim);
  DeleteObject(fill);
}

// ---- View

std::wstring Win32View::Units(Control control) const {
  HWND handle = Handle(control);
  if (handle == nullptr) return {};
  return IsPane(control) ? PaneUnits(handle) : WindowText(handle);
}

std::string Win32View::Text(Control control) const {
  if (IsPane(control)) return wintext::FromPane(Units(control));
  return Narrow(Units(control));
}

void Win32View::SetText(Control control, const std::string& utf8) {
  HWND handle = Handle(control);
  if (handle == nullptr) return;
  if (IsPane(control)) {
    SetWindowTextW(handle, L"");
    Append(control, utf8);
    return;
  }
  std::wstring text = Widen(utf8);
  for (wchar_t& c : text) {
    if (c == L'\0') c = L'\x2400';
  }
  SetWindowTextW(handle, text.c_str());
}

void Win32View::Append(Control pane, const std::string& utf8) {
  HWND handle = Handle(pane);
  if (handle == nullptr || utf8.empty()) return;
  std::wstring addition = wintext::ToPane(utf8);
  Trim(handle, addition);
  const auto end = static_cast<LPARAM>(PaneLength(handle));
  SendMessageW(handle, EM_SETSEL, static_cast<WPARAM>(end), end);
  SendMessageW(handle, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(addition.c_str()));
  SendMessageW(handle, EM_SCROLLCARET, 0, 0);
}

// The pane rule of form/pane_cap.h.
void Win32View::Trim(HWND pane, std::wstring& addition) {
  const pane::Trim trim = pane::PlanTrim(PaneLength(pane), addition.size(), paneLimit_);
  switch (trim.kind) {
    case pane::Trim::Kind::Keep:
      return;
    case pane::Trim::Kind::Replace:
      addition.erase(0, pane::CutAddition(Units16(addition), trim.from));
      SetWindowTextW(pane, L"");
      return;
    case pane::Trim::Kind::DropOldest: {
      const std::size_t cut = pane::CutPane(Units16(PaneUnits(pane)), trim.from);
      SendMessageW(pane, EM_SETSEL, 0, static_cast<LPARAM>(cut));
      SendMessageW(pane, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
      return;
    }
  }
}

bool Win32View::Enabled(Control control) const {
  HWND handle = Handle(control);
  return handle != nullptr && IsWindowEnabled(handle) != 0;
}

void Win32View::SetEnabled(Control control, bool enabled) {
  HWND handle = Handle(control);
  if (handle == nullptr) return;
  // The focus moves on rather than staying with a control that cannot use it.
  if (!enabled && GetFocus() == handle) MoveFocus(handle, false);
  EnableWindow(handle, enabled ? TRUE : FALSE);
}

void Win32View::SetLampColor(std::uint32_t bgr) {
  bgr &= 0x00FFFFFFu;
  if (bgr == lampColor_) return;
  lampColor_ = bgr;
  if (HWND lamp = Handle(Control::Pic)) InvalidateRect(lamp, nullptr, FALSE);
}

void Win32View::ShowBox(const BoxMessage& box) {
  ++busy_;
  ShowBoxOver(window_, box);
  --busy_;
}

void Win32View::ShowBoxOver(HWND owner, const BoxMessage& box) {
  UINT flags = MB_OK;
  if (box.icon == BoxIcon::Critical) flags |= MB_ICONERROR;
  if (box.icon == BoxIcon::Warning) flags |= MB_ICONWARNING;
  // Without a window of its own the box must not hide behind another program's.
  if (owner == nullptr) flags |= MB_SETFOREGROUND;
  const std::wstring title = Widen(box.title);
  const std::wstring text = Widen(box.text);
  MessageBoxW(owner, text.c_str(), title.c_str(), flags);
}

void Win32View::StartTimer(int intervalMs) {
  if (window_ == nullptr) return;
  const UINT interval = static_cast<UINT>(std::max(intervalMs, static_cast<int>(USER_TIMER_MINIMUM)));
  timerRunning_ = SetTimer(window_, kTimerId, interval, nullptr) != 0;
}

void Win32View::StopTimer() {
  if (window_ != nullptr) KillTimer(window_, kTimerId);
  timerRunning_ = false;
}

LocalTime Win32View::Now() const {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

std::string Win32View::GeneralDate(const LocalTime& moment) const {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(moment.year);
  st.wMonth = static_cast<WORD>(moment.month);
  st.wDay = static_cast<WORD>(moment.day);
  st.wHour = static_cast<WORD>(moment.hour);
  st.wMinute = static_cast<WORD>(moment.minute);
  st.wSecond = static_cast<WORD>(moment.second);
  st.wMilliseconds = static_cast<WORD>(moment.millisecond);
  // The day of the week, for formats that name it.
  FILETIME file;
  if (SystemTimeToFileTime(&st, &file)) FileTimeToSystemTime(&file, &st);

  wchar_t date[128] = L"";
  wchar_t time[128] = L"";
  GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, date, 128);
  std::wstring text = date;
  if (moment.hour != 0 || moment.minute != 0 || moment.second != 0) {
    GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, time, 128);
    text += L' ';
    text += time;
  }
  return Narrow(text);
}

}  // namespace rilvano
