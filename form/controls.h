// The window's controls as data: names, kinds, captions, defaults, tags and
// the focus order. Both views build their window from this table, so the two
// cannot drift apart; SwitchTags walks it in this order.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace rilvano {

enum class Control : int {
  Frame2, Label1_0, txt_0, Label8, Text10, BTNOpenCom, BTNCloseCom, Label2, Text1, Pic,
  Frame1, Label3, Text4, Label5, Text5, Command1, Label4, Text3, Command4, Command5, Text6,
  Frame3, Label6, Text7, Command8, Command9, Label7, Text9, Command3, Command6, Text8,
  Frame4, Command2, Command7, Text2,
};
inline constexpr std::size_t kControlCount = static_cast<std::size_t>(Control::Text2) + 1;

enum class ControlKind {
  Group,   // framed box with a caption
  Label,   // static caption
  Box,     // single-line text box
  Button,  // push button
  Pane,    // multi-line text box with scroll bars
  Lamp,    // filled shape whose colour the receive timer sets
};

inline constexpr int kNoParent = -1;

struct ControlInfo {
  Control id;
  ControlKind kind;
  std::string_view name;     // "txt(0)" and "Label1(0)" for the control arrays
  std::string_view text;     // caption or default text, UTF-8
  std::string_view tag;      // non-empty: SwitchTags toggles it
  bool enabled;              // at start
  Control group;             // the frame it sits in (a frame names itself;
                             // Text8 belongs to the window but covers a spot in Frame3)
  bool wraps = false;        // panes: long lines wrap (vertical bar only)
};

inline constexpr std::string_view kWindowName = "frmSerial";
inline constexpr std::string_view kWindowCaption = "Rilvano  v3.2";
inline constexpr std::string_view kText9Tooltip = "Сколько ячеек читаем";
inline constexpr int kTimerIntervalMs = 10;

namespace control_table {
using K = ControlKind;
using C = Control;

inline constexpr std::array<ControlInfo, kControlCount> kControls{{
    {C::Frame2, K::Group, "Frame2", "Comm's", "", true, C::Frame2},
    {C::Label1_0, K::Label, "Label1(0)", "Port: (1-9)", "", true, C::Frame2},
    {C::txt_0, K::Box, "txt(0)", "COM3:", "NO", true, C::Frame2},
    {C::Label8, K::Label, "Label8", "Скор.", "", true, C::Frame2},
    {C::Text10, K::Box, "Text10", "9600", "", true, C::Frame2},
    {C::BTNOpenCom, K::Button, "BTNOpenCom", "Открыть", "NO", true, C::Frame2},
    {C::BTNCloseCom, K::Button, "BTNCloseCom", "Закрыть", "NC", false, C::Frame2},
    {C::Label2, K::Label, "Label2", "Адрес", "", true, C::Frame2},
    {C::Text1, K::Box, "Text1", "1", "", true, C::Frame2},
    {C::Pic, K::Lamp, "Pic", "", "", true, C::Frame2},

    {C::Frame1, K::Group, "Frame1", "Запись данных в ячейку  (Func 06)", "", true, C::Frame1},
    {C::Label3, K::Label, "Label3", "Адрес ячейки 0-255", "", true, C::Frame1},
    {C::Text4, K::Box, "Text4", "0", "", true, C::Frame1},
    {C::Label5, K::Label, "Label5", "Данные 0-65535", "", true, C::Frame1},
    {C::Text5, K::Box, "Text5", "0", "", true, C::Frame1},
    {C::Command1, K::Button, "Command1", "Запись", "NC", false, C::Frame1},
    {C::Label4, K::Label, "Label4", "Данные 2симв. 0-9;a-z; A-Z", "", true, C::Frame1},
    {C::Text3, K::Box, "Text3", "AB", "", true, C::Frame1},
    {C::Command4, K::Button, "Command4", "Запись", "NC", false, C::Frame1},
    {C::Command5, K::Button, "Command5", "CLR", "", true, C::Frame1},
    {C::Text6, K::Pane, "Text6", "", "", true, C::Frame1, false},

    {C::Frame3, K::Group, "Frame3", "Чтение ячейки (Func 03)", "", true, C::Frame3},
    {C::Label6, K::Label, "Label6", "Адрес ячейки 0-255", "", true, C::Frame3},
    {C::Text7, K::Box, "Text7", "0", "", true, C::Frame3},
    {C::Command8, K::Button, "Command8", "+", "", true, C::Frame3},
    {C::Command9, K::Button, "Command9", "-", "", true, C::Frame3},
    {C::Label7, K::Label, "Label7", "Кол-во: 1-8", "", true, C::Frame3},
    {C::Text9, K::Box, "Text9", "1", "", true, C::Frame3},
    {C::Command3, K::Button, "Command3", "Чтение", "NC", false, C::Frame3},
    {C::Command6, K::Button, "Command6", "CLR", "", true, C::Frame3},
    {C::Text8, K::Pane, "Text8", "", "", true, C::Frame3, false},

    {C::Frame4, K::Group, "Frame4", "Информация", "", true, C::Frame4},
    {C::Command2, K::Button, "Command2", "Запрос информации оь устройстве", "NC", false, C::Frame4},
    {C::Command7, K::Button, "Command7", "CLR", "", true, C::Frame4},
    {C::Text2, K::Pane, "Text2", "", "", true, C::Frame4, true},
}};

// Keyboard focus order over the controls that take focus; the first has the
// focus at start.
inline constexpr std::array<Control, 22> kFocusOrder{{
    C::txt_0,    C::BTNOpenCom, C::BTNCloseCom, C::Text1,    C::Text4,    C::Text5,
    C::Command1, C::Text6,      C::Text7,       C::Command3, C::Text8,    C::Command5,
    C::Command6, C::Command2,   C::Command7,    C::Text2,    C::Text3,    C::Command4,
    C::Command8, C::Command9,   C::Text9,       C::Text10,
}};

}  // namespace control_table
using control_table::kControls;
using control_table::kFocusOrder;

constexpr const ControlInfo& InfoOf(Control c) { return kControls[static_cast<std::size_t>(c)]; }

// The table is indexed by the enum: keep them in step.
constexpr bool TableInEnumOrder() {
  for (std::size_t i = 0; i < kControls.size(); ++i) {
    if (static_cast<std::size_t>(kControls[i].id) != i) return false;
  }
  return true;
}
static_assert(TableInEnumOrder(), "kControls must list the controls in enum order");

}  // namespace rilvano
