#include "window/MessageBox.h"

#include <QMessageBox>
#include <QString>

#include <utility>

namespace rilvano {

namespace {

void ShowModal(QWidget* parent, const BoxMessage& box) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (box.icon) {
    case BoxIcon::None: icon = QMessageBox::NoIcon; break;
    case BoxIcon::Critical: icon = QMessageBox::Critical; break;
    case BoxIcon::Warning: icon = QMessageBox::Warning; break;
  }
  QMessageBox dialog(icon, QString::fromStdString(box.title), QString::fromStdString(box.text),
                     QMessageBox::Ok, parent);
  dialog.exec();
}

BoxHandler& Handler() {
  static BoxHandler handler;
  return handler;
}

}  // namespace

void SetBoxHandler(BoxHandler handler) { Handler() = std::move(handler); }

void ShowMessageBox(QWidget* parent, const BoxMessage& box) {
  // A copy, so a handler may replace itself while it runs.
  BoxHandler handler = Handler();
  if (handler) {
    handler(parent, box);
  } else {
    ShowModal(parent, box);
  }
}

}  // namespace rilvano
