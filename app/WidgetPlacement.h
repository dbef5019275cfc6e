#pragma once

#include <QWidget>
#include <memory>
#include <optional>

#include "FormPlacement.h"

namespace korbenit {

// A Qt top-level window as the placement sees it: its frame rectangle in the normal
// state, its state from windowState(), and the minimized and maximized positions kept
// as the numbers last applied (-1 where nothing is known).
//
// While the window is minimized or maximized its normal frame is the one last seen in
// the normal state, or, when it has not been normal since, the one last applied: the
// window manager gives a maximized window other margins than a normal one, so its
// current margins cannot rebuild the normal frame.
class TWidgetPlacementWindow : public TPlacementWindow {
 public:
  TWidgetPlacementWindow(QWidget& window, TFormBorderStyle style, bool isMainWindow);
  ~TWidgetPlacementWindow() override;

  TWindowPlacement GetPlacement() const override;
  void SetPlacement(const TWindowPlacement& placement) override;
  bool Visible() const override;
  bool HasHandle() const override { return FWindow.windowHandle() != nullptr; }
  TFormBorderStyle BorderStyle() const override { return FStyle; }
  bool IsMainWindow() const override { return FIsMainWindow; }
  bool ApplicationMinimized() const override { return FWindow.isMinimized(); }
  void PostMinimize() override;
  void SetWindowState(TWindowState state) override;
  int32_t Left() const override { return NormalFrame().left(); }
  int32_t Top() const override { return NormalFrame().top(); }
  int32_t Width() const override { return NormalFrame().width(); }
  int32_t Height() const override { return NormalFrame().height(); }
  int32_t ScreenWidth() const override;
  int32_t ScreenHeight() const override;
  int32_t PixelsPerInch() const override;
  int32_t BorderSize(TFormBorderStyle style) const override;
  bool TitleBarReachable(const TPlacementRect& frame) const override;
  void Repaint() override { FWindow.update(); }

 private:
  class TNormalFrameWatch;

  bool IsNormal() const;
  QRect NormalFrame() const;
  QMargins FrameMargins() const;

  QWidget& FWindow;
  TFormBorderStyle FStyle;
  bool FIsMainWindow;
  TPlacementPoint FMinPosition;
  TPlacementPoint FMaxPosition;
  std::optional<QRect> FKnownNormalFrame;
  std::unique_ptr<TNormalFrameWatch> FWatch;
};

}  // namespace korbenit
