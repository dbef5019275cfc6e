#include "uDebug.h"

#include <QEvent>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

#include "Application.h"

namespace korbenit {

TDebug::TDebug() : QWidget(nullptr, Qt::Window) {
  setAttribute(Qt::WA_QuitOnClose, false);
  setWindowTitle(QStringLiteral("Debug"));
  setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
  move(1165, 59);
  resize(OuterWidth, OuterHeight);
  Memo = new QPlainTextEdit(this);
  Memo->setReadOnly(true);
  Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo->setFont(QFont(QStringLiteral("Courier New"), 8));
  Memo->viewport()->installEventFilter(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(Memo);
}

void TDebug::AddLine(const QString& text) {
  Memo->appendPlainText(text);
}

void TDebug::MemoDblClick() {
  Memo->clear();
}

bool TDebug::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Memo->viewport() && event->type() == QEvent::MouseButtonDblClick) {
    RunHandler([this] { MemoDblClick(); });
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void TDebug::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  FitOuterSize();
}

void TDebug::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FitOuterSize();
}

// The size is that of the whole window, frame included; the frame is known only once
// the window manager has put it around the window, which it announces by moving it. The
// whole window is then kept on its screen.
void TDebug::FitOuterSize() {
  if (!isVisible() || !windowHandle()) return;
  QMargins frame = windowHandle()->frameMargins();
  if (frame == FFittedFrame) return;
  FFittedFrame = frame;
  resize(QSize(OuterWidth, OuterHeight).shrunkBy(frame));
  QScreen* screen = windowHandle()->screen();
  if (!screen) return;
  QRect room = screen->availableGeometry();
  QRect outer(frameGeometry().topLeft(), QSize(OuterWidth, OuterHeight));
  QPoint inside(
      std::clamp(outer.left(), room.left(), std::max(room.left(), room.right() + 1 - OuterWidth)),
      std::clamp(outer.top(), room.top(), std::max(room.top(), room.bottom() + 1 - OuterHeight)));
  if (inside != outer.topLeft()) move(inside);
}

}  // namespace korbenit
