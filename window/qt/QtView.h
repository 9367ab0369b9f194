// The main window on Qt Widgets: builds the controls of form/controls.h, lays
// them out, and forwards clicks, ticks and closing to the form. Controls are
// named as the operator's manual names them.
#pragma once

#include <QWidget>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "form/View.h"
#include "form/pane_cap.h"
#include "form/frmSerial.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace rilvano {

class Lamp;

class QtView : public QWidget, public View {
  Q_OBJECT

 public:
  explicit QtView(QWidget* parent = nullptr);
  ~QtView() override;

  // ---- controls (object names match kControls, "txt(0)" and "Label1(0)" for the arrays)
  QGroupBox* Frame1 = nullptr;
  QGroupBox* Frame2 = nullptr;
  QGroupBox* Frame3 = nullptr;
  QGroupBox* Frame4 = nullptr;
  QLabel* Label1_0 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label4 = nullptr;
  QLabel* Label5 = nullptr;
  QLabel* Label6 = nullptr;
  QLabel* Label7 = nullptr;
  QLabel* Label8 = nullptr;
  QLineEdit* txt_0 = nullptr;
  QLineEdit* Text1 = nullptr;
  QLineEdit* Text3 = nullptr;
  QLineEdit* Text4 = nullptr;
  QLineEdit* Text5 = nullptr;
  QLineEdit* Text7 = nullptr;
  QLineEdit* Text9 = nullptr;
  QLineEdit* Text10 = nullptr;
  QPlainTextEdit* Text2 = nullptr;
  QPlainTextEdit* Text6 = nullptr;
  QPlainTextEdit* Text8 = nullptr;
  QPushButton* BTNOpenCom = nullptr;
  QPushButton* BTNCloseCom = nullptr;
  QPushButton* Command1 = nullptr;
  QPushButton* Command2 = nullptr;
  QPushButton* Command3 = nullptr;
  QPushButton* Command4 = nullptr;
  QPushButton* Command5 = nullptr;
  QPushButton* Command6 = nullptr;
  QPushButton* Command7 = nullptr;
  QPushButton* Command8 = nullptr;
  QPushButton* Command9 = nullptr;
  Lamp* Pic = nullptr;
  QTimer* TMRComm = nullptr;

  // The behaviour. It touches no control while it is being built or torn down.
  frmSerial form;

  // The widget of a control.
  QWidget* Widget(Control control) const { return widgets_[static_cast<std::size_t>(control)]; }
  // The pane's text as UTF-8, line breaks as the toolkit reports them.
  static std::string PaneText(const QPlainTextEdit* pane);
  // Most UTF-16 units a pane holds; beyond it the oldest lines give way
  // (form/pane_cap.h).
  std::size_t PaneCap() const { return paneCap_; }
  void SetPaneCap(std::size_t units);

  // ---- View
  std::string Text(Control control) const override;
  void SetText(Control control, const std::string& utf8) override;
  void Append(Control pane, const std::string& utf8) override;
  bool Enabled(Control control) const override;
  void SetEnabled(Control control, bool enabled) override;
  std::uint32_t LampColor() const override;
  void SetLampColor(std::uint32_t bgr) override;
  void ShowBox(const BoxMessage& box) override;
  // The same box over any widget, or over none (start-up).
  static void ShowBoxOver(QWidget* parent, const BoxMessage& box);
  void StartTimer(int intervalMs) override;
  void StopTimer() override;
  bool TimerRunning() const override;
  LocalTime Now() const override;
  std::string GeneralDate(const LocalTime& moment) const override;

 protected:
  void closeEvent(class QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void BuildLayout();
  void PlaceOverlays();
  // Runs one event of the form. An exception out of it is an unexpected
  // failure (form/failure.h): the box over this window, then the event loop
  // ends with the failure status; the window takes no events after that.
  void Forward(const std::function<void()>& call);

  std::array<QWidget*, kControlCount> widgets_{};
  // Empty spot in Frame3's layout that Text8 (a child of the window) covers.
  QWidget* text8Slot_ = nullptr;
  bool failed_ = false;
  std::size_t paneCap_ = pane::kCap;
};

}  // namespace rilvano
