// Renders the real window offscreen into a PNG for the documentation.
#include <QApplication>
#include <QPixmap>

#include <cstdio>
#include <cstdlib>

#include "window/qt/QtView.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <file.png>\n", argv[0]);
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  rilvano::QtView window;
  window.show();
  QApplication::processEvents();
  const QPixmap image = window.grab();
  if (!image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  window.close();
  return 0;
}
