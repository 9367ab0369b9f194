#include "window/qt/Lamp.h"

#include <QPainter>

namespace rilvano {

Lamp::Lamp(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void Lamp::SetFillColor(std::uint32_t bgr) {
  bgr &= 0x00FFFFFFu;
  if (bgr == fillColor_) return;
  fillColor_ = bgr;
  update();
}

QSize Lamp::sizeHint() const {
  const int side = fontMetrics().height();
  return {side, side};
}

void Lamp::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QColor fill(static_cast<int>(fillColor_ & 0xFF), static_cast<int>((fillColor_ >> 8) & 0xFF),
                    static_cast<int>((fillColor_ >> 16) & 0xFF));
  painter.setPen(QPen(QColor(64, 64, 64), 1));
  painter.setBrush(fill);
  painter.drawEllipse(QRectF(rect()).adjusted(1, 1, -1, -1));
}

}  // namespace rilvano
