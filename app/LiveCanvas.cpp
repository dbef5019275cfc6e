#include "LiveCanvas.h"

#include <QPainter>
#include <QWindow>
#include <algorithm>
#include <cmath>

#include "ScreenProtocol.h"

namespace korbenit {
int TLiveCanvas::PhysicalZoom() const {
  double ratio = devicePixelRatioF();
  if (Zoom > 0) return PhysicalZoomAt(Zoom);
  QSize room = size() * ratio;
  QSize picture = PictureSize();
  return std::max(1, std::min(room.width() / picture.width(), room.height() / picture.height()));
}

int TLiveCanvas::ShownZoom() const {
  if (Zoom > 0) return Zoom;
  return std::max(1, static_cast<int>(PhysicalZoom() / devicePixelRatioF()));
}

// In window pixels, rounded up: the picture at its whole screen-pixel zoom fits, at any
// screen scale.
QSize TLiveCanvas::sizeHint() const {
  return WindowPixels(PictureSize() * PhysicalZoomAt(std::max(1, Zoom)));
}

QSize TLiveCanvas::SmallestSize() const {
  return WindowPixels(PictureSize());
}

int TLiveCanvas::PhysicalZoomAt(int zoom) const {
  return std::max(1, static_cast<int>(std::lround(zoom * devicePixelRatioF())));
}

QSize TLiveCanvas::WindowPixels(QSize screenPixels) const {
  double ratio = devicePixelRatioF();
  return {static_cast<int>(std::ceil(screenPixels.width() / ratio - 1e-9)),
          static_cast<int>(std::ceil(screenPixels.height() / ratio - 1e-9))};
}

QSize TLiveCanvas::PictureSize() const {
  return QuarterTurns % 2 ? QSize(ScreenHeight, ScreenWidth) : QSize(ScreenWidth, ScreenHeight);
}

// Scaled in whole screen pixels without smoothing and placed on a whole screen pixel,
// so every device pixel stays a sharp square at any screen scale; drawn straight from
// the picture, with no scaled copy made.
void TLiveCanvas::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  if (Picture.isNull()) return;
  double ratio = devicePixelRatioF();
  double scale = PhysicalZoom() / ratio;
  QSize shown = PictureSize() * PhysicalZoom();
  QSize room = size() * ratio;
  QPointF corner((room.width() - shown.width()) / 2 / ratio,
                 (room.height() - shown.height()) / 2 / ratio);
  double width = ScreenWidth * scale, height = ScreenHeight * scale;
  const QPointF turnedOrigin[] = {{0, 0}, {height, 0}, {width, height}, {0, width}};
  QTransform place;
  place.translate(corner.x() + turnedOrigin[QuarterTurns].x(),
                  corner.y() + turnedOrigin[QuarterTurns].y());
  place.rotate(90.0 * QuarterTurns);
  place.scale(scale, scale);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  painter.setTransform(place);
  painter.drawImage(QPointF(0, 0), Picture);
  if (!Overlay.isNull()) painter.drawImage(QPointF(0, 0), Overlay);
}

}  // namespace korbenit
