// The lamp: a filled circle whose colour the receive timer sets and reads
// back, in the 0x00BBGGRR layout.
#pragma once

#include <QWidget>

#include <cstdint>

namespace rilvano {

class Lamp : public QWidget {
  Q_OBJECT

 public:
  explicit Lamp(QWidget* parent = nullptr);

  std::uint32_t FillColor() const { return fillColor_; }
  void SetFillColor(std::uint32_t bgr);

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::uint32_t fillColor_ = 0x00C0C0C0;  // light grey until the first tick
};

}  // namespace rilvano
