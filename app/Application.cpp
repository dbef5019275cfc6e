#include "Application.h"

#include <QMessageBox>
#include <QMetaObject>

#include "Platform.h"
#include "Synchronizer.h"

namespace korbenit {

QString WithClosingPoint(const QString& message) {
  if (!message.isEmpty() && message.back() > QChar('.')) return message + '.';
  return message;
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  LoadInterfaceFonts();
  FPresenter = [](const QString& caption, const QString& message) {
    QMessageBox::critical(QApplication::activeWindow(), caption, message, QMessageBox::Ok);
  };
  // Calls that serial event threads queue for this thread run from the message loop.
  auto& sync = TSynchronizer::Main();
  sync.SetWakeHandler([this] {
    QMetaObject::invokeMethod(this, [] { TSynchronizer::Main().Serve(); }, Qt::QueuedConnection);
  });
  sync.SetExceptionReporter([](std::exception_ptr error) {
    RunHandler([&] { std::rethrow_exception(error); });
  });
}

TApplication::~TApplication() {
  TSynchronizer::Main().SetWakeHandler(nullptr);
  TSynchronizer::Main().SetExceptionReporter(nullptr);
}

TApplication* TApplication::Instance() {
  return dynamic_cast<TApplication*>(QCoreApplication::instance());
}

void TApplication::ShowException(const QString& message) {
  if (FPresenter) FPresenter(FTitle, WithClosingPoint(message));
}

// The last line of defence; our own handlers catch their failures before Qt's frames.
bool TApplication::notify(QObject* receiver, QEvent* event) {
  bool handled = false;
  RunHandler([&] { handled = QApplication::notify(receiver, event); });
  return handled;
}

}  // namespace korbenit
