#pragma once

#include <QApplication>
#include <QString>
#include <exception>
#include <functional>

namespace korbenit {

// The application object. Any exception that leaves an event handler ends here and is
// shown in a message box captioned with the application title; the window stays open.
class TApplication : public QApplication {
 public:
  using TErrorPresenter = std::function<void(const QString& caption, const QString& message)>;

  TApplication(int& argc, char** argv);
  ~TApplication() override;

  bool notify(QObject* receiver, QEvent* event) override;

  const QString& Title() const { return FTitle; }
  void SetTitle(const QString& title) { FTitle = title; }

  // Replaces the message box, so tests can see what would be shown.
  void SetErrorPresenter(TErrorPresenter presenter) { FPresenter = std::move(presenter); }
  void ShowException(const QString& message);

  static TApplication* Instance();

 private:
  QString FTitle;
  TErrorPresenter FPresenter;
};

// Runs a window handler. An exception must not cross Qt's own frames, so every handler
// hands its failures to the application's error handler here. False when it failed.
template <typename THandler>
bool RunHandler(THandler&& handler) noexcept {
  try {
    handler();
    return true;
  } catch (const std::exception& e) {
    if (auto* app = TApplication::Instance()) app->ShowException(QString::fromUtf8(e.what()));
  } catch (...) {
    if (auto* app = TApplication::Instance()) app->ShowException(QStringLiteral("Unknown error"));
  }
  return false;
}

// A message ending in a character that sorts after "." gets a "." appended.
QString WithClosingPoint(const QString& message);

}  // namespace korbenit
