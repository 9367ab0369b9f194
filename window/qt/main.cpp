#include <QApplication>

#include "window/qt/program.h"

int main(int argc, char** argv) {
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
  // Qt 6 scales with the screen's DPI by itself.
  QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
#endif
  QApplication app(argc, argv);
  return rilvano::RunProgram();
}
