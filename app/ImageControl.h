#pragma once

#include <QImage>
#include <QWidget>
#include <functional>

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

  // The picture's context menu was asked for at a place on the screen.
  std::function<void(const QPoint& globalPosition)> OnContextMenu;
  // The mouse, pressed on the picture, has moved far enough to drag it out.
  std::function<void()> OnDragOut;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  QImage& Canvas();

  QImage FPicture;
  QPoint FPressedAt;
  bool FPressed = false;
};

}  // namespace korbenit
