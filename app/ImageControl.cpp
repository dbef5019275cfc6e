#include "ImageControl.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QPainter>

namespace korbenit {
namespace {

QRgb ToRgb(TColor colour) { return qRgb(RedOf(colour), GreenOf(colour), BlueOf(colour)); }

}  // namespace

QImage& TImageControl::Canvas() {
  if (FPicture.isNull()) {
    FPicture = QImage(size(), QImage::Format_RGB32);
    FPicture.fill(Qt::black);
  }
  return FPicture;
}

void TImageControl::Fill(TColor colour) {
  Canvas().fill(ToRgb(colour));
  update();
}

void TImageControl::PaintLine(int line, const TLineColours& colours) {
  QImage& canvas = Canvas();
  if (line < 0 || line >= canvas.height()) return;
  auto* row = reinterpret_cast<QRgb*>(canvas.scanLine(line));
  int width = std::min<int>(canvas.width(), static_cast<int>(colours.size()));
  for (int x = 0; x < width; ++x) row[x] = ToRgb(colours[static_cast<std::size_t>(x)]);
  update(0, line, width, 1);
}

void TImageControl::contextMenuEvent(QContextMenuEvent* event) {
  if (OnContextMenu) OnContextMenu(event->globalPos());
}

void TImageControl::mousePressEvent(QMouseEvent* event) {
  FPressed = event->button() == Qt::LeftButton;
  FPressedAt = event->position().toPoint();
}

void TImageControl::mouseMoveEvent(QMouseEvent* event) {
  if (!FPressed || !(event->buttons() & Qt::LeftButton)) return;
  if ((event->position().toPoint() - FPressedAt).manhattanLength() <
      QApplication::startDragDistance())
    return;
  FPressed = false;
  if (OnDragOut) OnDragOut();
}

void TImageControl::paintEvent(QPaintEvent*) {
  if (FPicture.isNull()) return;
  QPainter painter(this);
  painter.drawImage(0, 0, FPicture);
}

}  // namespace korbenit
