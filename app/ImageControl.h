#pragma once

#include <QImage>
#include <QWidget>

#include "ScreenTransfer.h"

namespace korbenit {

// Shows the picture. The raster is made the size of the control, 32 bits per pixel,
// when first drawn on, and stays empty until then.
class TImageControl : public QWidget {
 public:
  using QWidget::QWidget;

  const QImage& Picture() const { return FPicture; }
  void Fill(TColor colour);
  void PaintLine(int line, const TLineColours& colours);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage& Canvas();

  QImage FPicture;
};

}  // namespace korbenit
