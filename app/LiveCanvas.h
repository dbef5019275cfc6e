#pragma once

#include <QImage>
#include <QSize>
#include <QWidget>

namespace korbenit {

// The picture, whole device pixels on the screen: zoomed 1 to 6 times (or the largest
// whole zoom that fits) with no smoothing, and turned in quarter turns.
class TLiveCanvas : public QWidget {
 public:
  using QWidget::QWidget;
  QImage Picture;
  QImage Overlay;  // drawn over the picture the same way where not null; mostly clear
  int Zoom = 2;    // 0: the largest that fits
  int QuarterTurns = 0;
  // The zoom in screen pixels per device pixel, whole on any screen scale.
  int PhysicalZoom() const;
  // The zoom shown, in window pixels per device pixel (for fitting, the one it came to).
  int ShownZoom() const;
  QSize PictureSize() const;  // turned, in device pixels
  QSize sizeHint() const override;
  // What holds the picture at one screen pixel for each device pixel.
  QSize SmallestSize() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int PhysicalZoomAt(int zoom) const;
  QSize WindowPixels(QSize screenPixels) const;
};

}  // namespace korbenit
