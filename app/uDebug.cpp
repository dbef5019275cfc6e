#include "uDebug.h"

#include <QEvent>
#include <QMetaObject>
#include <QVBoxLayout>
#include <QWindow>

#include "Application.h"

namespace korbenit {

TDebug::TDebug() : QWidget(nullptr, Qt::Window) {
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

void TDebug::AddLine(const QString& text) { Memo->appendPlainText(text); }

void TDebug::MemoDblClick() { Memo->clear(); }

bool TDebug::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Memo->viewport() && event->type() == QEvent::MouseButtonDblClick) {
    RunHandler([this] { MemoDblClick(); });
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void TDebug::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  QMetaObject::invokeMethod(this, [this] { FitOuterSize(); }, Qt::QueuedConnection);
}

// The size is that of the whole window, frame included; the frame is known only once
// the window manager has put it around the window.
void TDebug::FitOuterSize() {
  QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
  resize(QSize(OuterWidth, OuterHeight).shrunkBy(frame));
}

}  // namespace korbenit
