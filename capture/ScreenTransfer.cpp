#include "ScreenTransfer.h"

#include <stdexcept>

#include "Frame.h"

namespace korbenit {

void TScreenTransfer::Exchange() {
  FSession.Open(FView.SelectedPort());
  FView.SetLampOpen(true);
  FView.ProcessMessages();
  FSession.Settle();
  FSession.FetchFrame([this](int line, const TScreenLine& words) {
    FView.PaintLine(line, LineColours(words));
    FView.ProcessMessages();
  });
  FView.SetSaveAsEnabled(true);
}

void TScreenTransfer::ReportFailure(const TFailure& failure) noexcept {
  try {
    FView.ShowFailure(failure);
  } catch (...) {
    // Nothing is left to report a failing status line to.
  }
}

void TScreenTransfer::Run() {
  FView.ClearPicture();
  FView.SetSaveAsEnabled(false);
  FView.SetStatusText("");
  FView.SetSaveAsEnabled(false);
  FView.ProcessMessages();
  bool failed = true;
  try {
    Exchange();
    failed = false;
  } catch (const TFrameStopped&) {
    failed = false;
  } catch (const std::exception& e) {
    // A stop may cut a transfer short on purpose (its wait aborted): that is no failure.
    if (FView.StopRequested())
      failed = false;
    else
      ReportFailure(TFailure::Of(e));
  } catch (...) {
    ReportFailure({"Unknown error"});
  }
  TFailure ending = FSession.Close();
  if (!failed && !ending.Empty()) ReportFailure(ending);
  try {
    FView.SetLampOpen(false);
  } catch (...) {
  }
}

}  // namespace korbenit
