#include "WidgetPlacement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMetaObject>
#include <QScreen>
#include <QStyle>
#include <QWindow>
#include <algorithm>
#include <cstdint>

namespace korbenit {
namespace {

QSize PrimaryScreenSize() {
  QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->size() : QSize();
}

}  // namespace

// Notes the frame whenever the window stands in the normal state.
class TWidgetPlacementWindow::TNormalFrameWatch : public QObject {
 public:
  explicit TNormalFrameWatch(TWidgetPlacementWindow& owner) : FOwner(owner) {
    FOwner.FWindow.installEventFilter(this);
  }

  bool eventFilter(QObject*, QEvent* event) override {
    switch (event->type()) {
      case QEvent::Move:
      case QEvent::Resize:
      case QEvent::Show:
        if (FOwner.IsNormal() && FOwner.Visible())
          FOwner.FKnownNormalFrame = FOwner.FWindow.frameGeometry();
        break;
      default:
        break;
    }
    return false;
  }

 private:
  TWidgetPlacementWindow& FOwner;
};

TWidgetPlacementWindow::TWidgetPlacementWindow(QWidget& window, TFormBorderStyle style,
                                               bool isMainWindow)
    : FWindow(window),
      FStyle(style),
      FIsMainWindow(isMainWindow),
      FWatch(std::make_unique<TNormalFrameWatch>(*this)) {}

TWidgetPlacementWindow::~TWidgetPlacementWindow() = default;

bool TWidgetPlacementWindow::IsNormal() const {
  return !(FWindow.windowState() & (Qt::WindowMinimized | Qt::WindowMaximized));
}

QMargins TWidgetPlacementWindow::FrameMargins() const {
  return FWindow.windowHandle() ? FWindow.windowHandle()->frameMargins() : QMargins();
}

// The frame in the normal state, also while the window is minimized or maximized.
QRect TWidgetPlacementWindow::NormalFrame() const {
  if (IsNormal()) return FWindow.frameGeometry();
  return FKnownNormalFrame.value_or(FWindow.normalGeometry().marginsAdded(FrameMargins()));
}

TWindowPlacement TWidgetPlacementWindow::GetPlacement() const {
  TWindowPlacement placement;
  placement.ShowCmd = FWindow.isMinimized() ? 2 : FWindow.isMaximized() ? 3 : 1;
  placement.MinPosition = FMinPosition;
  placement.MaxPosition = FMaxPosition;
  QRect frame = NormalFrame();
  placement.NormalPosition = {frame.left(), frame.top(), frame.left() + frame.width(),
                              frame.top() + frame.height()};
  return placement;
}

// Before the native window exists, move() places the frame; afterwards the window
// system is asked for the frame position. A window of fixed size keeps its size.
void TWidgetPlacementWindow::SetPlacement(const TWindowPlacement& placement) {
  FMinPosition = placement.MinPosition;
  FMaxPosition = placement.MaxPosition;
  const TPlacementRect& r = placement.NormalPosition;
  QRect frame(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top);
  FKnownNormalFrame = frame;
  if (frame.topLeft() != NormalFrame().topLeft()) {
    if (FWindow.windowHandle())
      FWindow.windowHandle()->setFramePosition(frame.topLeft());
    else
      FWindow.move(frame.topLeft());
  }
  if (FStyle == TFormBorderStyle::bsSizeable || FStyle == TFormBorderStyle::bsSizeToolWin)
    FWindow.resize(frame.size().shrunkBy(FrameMargins()));

  switch (placement.ShowCmd) {
    case 0:
      break;  // a hidden window is only moved
    case 2:
      SetWindowState(TWindowState::wsMinimized);
      break;
    case 3:
      SetWindowState(TWindowState::wsMaximized);
      break;
    default:
      SetWindowState(TWindowState::wsNormal);
  }
}

// Mapped on the screen, not only marked for showing: during its show event a window
// is not visible yet.
bool TWidgetPlacementWindow::Visible() const {
  return FWindow.windowHandle() && FWindow.windowHandle()->isVisible();
}

void TWidgetPlacementWindow::PostMinimize() {
  QWidget* window = &FWindow;
  QMetaObject::invokeMethod(
      window, [window] { window->setWindowState(window->windowState() | Qt::WindowMinimized); },
      Qt::QueuedConnection);
}

void TWidgetPlacementWindow::SetWindowState(TWindowState state) {
  Qt::WindowStates states = FWindow.windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
  if (state == TWindowState::wsMinimized) states |= Qt::WindowMinimized;
  if (state == TWindowState::wsMaximized) states |= Qt::WindowMaximized;
  if (states != FWindow.windowState()) FWindow.setWindowState(states);
}

int32_t TWidgetPlacementWindow::ScreenWidth() const {
  return PrimaryScreenSize().width();
}

int32_t TWidgetPlacementWindow::ScreenHeight() const {
  return PrimaryScreenSize().height();
}

int32_t TWidgetPlacementWindow::PixelsPerInch() const {
  QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? qRound(screen->logicalDotsPerInch()) : 96;
}

// Enough of the title bar to grab it (40 pixels wide, half its height) on some screen.
bool TWidgetPlacementWindow::TitleBarReachable(const TPlacementRect& frame) const {
  int titleHeight = std::max(FrameMargins().top(), 20);
  int64_t width = int64_t{frame.Right} - frame.Left;
  if (width <= 0 || width > INT32_MAX || int64_t{frame.Top} + titleHeight > INT32_MAX) return false;
  TPlacementRect title{frame.Left, frame.Top, frame.Right, frame.Top + titleHeight};
  for (QScreen* screen : QGuiApplication::screens()) {
    QRect area = screen->availableGeometry();
    if (TitleBarGrippable(title, {area.left(), area.top(), area.left() + area.width(),
                                  area.top() + area.height()}))
      return true;
  }
  return false;
}

// Single borders are one pixel; sizeable ones are as wide as the style's frame.
int32_t TWidgetPlacementWindow::BorderSize(TFormBorderStyle style) const {
  switch (style) {
    case TFormBorderStyle::bsNone:
      return 0;
    case TFormBorderStyle::bsSingle:
    case TFormBorderStyle::bsToolWindow:
      return 1;
    default:
      return FWindow.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, &FWindow);
  }
}

}  // namespace korbenit
