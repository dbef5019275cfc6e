#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "Application.h"

// Window tests need the application object; they run without a display unless a
// platform is chosen from outside (the end-to-end check runs them under Xvfb).
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  korbenit::TApplication app(argc, argv);
  // A modal message box would stall a test run; unexpected errors are printed instead.
  app.SetErrorPresenter([](const QString& caption, const QString& message) {
    std::fprintf(stderr, "[%s] %s\n", qPrintable(caption), qPrintable(message));
  });
  return RUN_ALL_TESTS();
}
