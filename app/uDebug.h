#pragma once

#include <QMargins>
#include <QPlainTextEdit>
#include <QString>
#include <QWidget>

namespace korbenit {

// The developer's log: hidden at start, shown only by the developer distribution mode.
// Closing it hides it; its lines stay until the memo is double-clicked. It never keeps
// the program running once the main window has closed.
class TDebug : public QWidget {
 public:
  static constexpr int OuterWidth = 594;
  static constexpr int OuterHeight = 554;

  TDebug();

  QPlainTextEdit* Memo;

  void AddLine(const QString& text);
  void MemoDblClick();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void FitOuterSize();

  QMargins FFittedFrame{-1, -1, -1, -1};
};

}  // namespace korbenit
