#pragma once

#include <QImage>
#include <QMetaObject>
#include <QObject>
#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "Frame.h"
#include "LiveSession.h"

namespace korbenit {

// Hands what the session tells, from its thread, to the window's: the newest frame and
// the device's state, taken by the window at its next turn (however slow the window, at
// most one call is waiting and one frame is kept), and the newest lines, which the window
// fetches when it repaints: a wake-up of the window for every line would cost more than
// the line.
class TLiveBridge : public TLiveView {
 public:
  struct TArrivals {
    std::shared_ptr<const TFrame> Frame;
    std::optional<TFailure> Failure;
    bool Retrying = false;
  };

  // arrived is called on window's thread, once for whatever came meanwhile.
  TLiveBridge(QObject& window, std::function<void()> arrived)
      : FWindow(window),
        FArrived(std::move(arrived)),
        FLines(ScreenWidth, ScreenHeight, QImage::Format_RGB32) {
    FLines.fill(Qt::black);
  }

  void LineArrived(int line, const TScreenLine& words) override {
    std::lock_guard lock(FMutex);
    WriteBgrxRow(words.data(), ScreenWidth, FLines.scanLine(line));
    FFirstDirty = std::min(FFirstDirty, line);
    FLastDirty = std::max(FLastDirty, line);
  }
  void FrameArrived(std::shared_ptr<const TFrame> frame) override {
    std::lock_guard lock(FMutex);
    FArrivals.Frame = std::move(frame);
    FArrivals.Failure.reset();
    FArrivals.Retrying = false;
    Post();
  }
  void Failed(const TFailure& failure) override {
    std::lock_guard lock(FMutex);
    FArrivals.Failure = failure;
    Post();
  }
  void Retrying() override {
    std::lock_guard lock(FMutex);
    FArrivals.Retrying = true;
    Post();
  }

  TArrivals Take() {
    std::lock_guard lock(FMutex);
    FPosted = false;
    return std::exchange(FArrivals, {});
  }

  // The lines that came since the last call, into picture.
  void TakeLines(QImage& picture) {
    std::lock_guard lock(FMutex);
    if (picture.size() != FLines.size()) picture = FLines.copy();
    for (int line = FFirstDirty; line <= FLastDirty; ++line)
      std::copy_n(FLines.constScanLine(line), FLines.bytesPerLine(), picture.scanLine(line));
    FFirstDirty = ScreenHeight, FLastDirty = -1;
  }

 private:
  void Post() {
    if (std::exchange(FPosted, true)) return;
    QMetaObject::invokeMethod(&FWindow, FArrived, Qt::QueuedConnection);
  }

  QObject& FWindow;
  std::function<void()> FArrived;
  std::mutex FMutex;
  QImage FLines;
  TArrivals FArrivals;
  int FFirstDirty = ScreenHeight, FLastDirty = -1;
  bool FPosted = false;
};

}  // namespace korbenit
