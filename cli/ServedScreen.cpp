#include "ServedScreen.h"

#include "ImageFiles.h"

namespace korbenit {
namespace {

constexpr auto GoneCheck = std::chrono::milliseconds(100);

}  // namespace

const std::vector<uint8_t>& TServedFrame::Jpeg() const {
  std::call_once(FJpegOnce, [this] {
    TJPEGImage jpeg;
    jpeg.CompressionQuality = 90;
    jpeg.Assign(PictureOf(*Frame));
    jpeg.Compress();
    FJpeg = jpeg.Data();
  });
  return FJpeg;
}

void TServedScreen::FrameArrived(std::shared_ptr<const TFrame> frame) {
  {
    std::lock_guard lock(FMutex);
    uint64_t number = FNewest ? FNewest->Number + 1 : 1;
    FNewest =
        std::make_shared<TServedFrame>(std::move(frame), number, std::chrono::system_clock::now());
    FRate.Add(TFrameRate::TClock::now());
    FLive = true;
    FFailure = {};
  }
  FChanged.notify_all();
}

void TServedScreen::Failed(const TFailure& failure) {
  TFailureWords words = FWords(failure);
  std::lock_guard lock(FMutex);
  FLive = false;
  FFailure = std::move(words);
  FRate.Clear();
}

std::shared_ptr<const TServedFrame> TServedScreen::Newest() const {
  std::lock_guard lock(FMutex);
  return FNewest;
}

TScreenState TServedScreen::State() const {
  std::lock_guard lock(FMutex);
  TScreenState state;
  if (FNewest) state.Frame = FNewest->Number, state.Time = FNewest->Time;
  state.Live = FLive;
  state.Failure = FFailure.Words;
  state.Hint = FFailure.Hint;
  if (FLive) state.FramesPerSecond = FRate.PerSecond();
  return state;
}

std::shared_ptr<const TServedFrame> TServedScreen::WaitNewer(
    uint64_t number, std::chrono::milliseconds resend, const std::function<bool()>& gone) const {
  auto again = std::chrono::steady_clock::now() + resend;
  std::unique_lock lock(FMutex);
  for (;;) {
    if (FClosed) return nullptr;
    if (FNewest && (FNewest->Number > number || std::chrono::steady_clock::now() >= again))
      return FNewest;
    lock.unlock();
    if (gone()) return nullptr;
    lock.lock();
    FChanged.wait_for(lock, GoneCheck);
  }
}

void TServedScreen::Close() {
  {
    std::lock_guard lock(FMutex);
    FClosed = true;
  }
  FChanged.notify_all();
}

}  // namespace korbenit
