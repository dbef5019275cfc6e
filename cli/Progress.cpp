#include "Progress.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "ScreenProtocol.h"

namespace korbenit {
namespace {

constexpr int RedrawsPerSecond = 20;

}  // namespace

void TProgressBar::Line(int lines) {
  FLines = lines;
  if (FColumns <= 0) return;
  auto now = TClock::now();
  if (FLines < ScreenHeight && now - FLastDraw < std::chrono::milliseconds(1000 / RedrawsPerSecond))
    return;
  FLastDraw = now;
  char counts[64];
  std::snprintf(counts, sizeof counts, " %3d/%d lines %5.1f s", FLines, ScreenHeight,
                static_cast<double>(ElapsedMs()) / 1000);
  int width = FColumns - 1 - static_cast<int>(std::strlen(counts)) - 2;
  std::string line = counts + 1;
  if (width >= 8) {
    int filled = FLines * width / ScreenHeight;
    line.assign(1, '[');
    line.append(static_cast<std::size_t>(filled), '#');
    line.append(static_cast<std::size_t>(width - filled), '.');
    line.append(1, ']').append(counts);
  }
  if (static_cast<int>(line.size()) >= FColumns)
    line.resize(static_cast<std::size_t>(FColumns - 1));
  FErr << "\r" << line << std::flush;
}

void TProgressBar::Clear() {
  if (FColumns > 0) FErr << "\r\033[K" << std::flush;
}

int64_t TProgressBar::ElapsedMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - FStart).count();
}

}  // namespace korbenit
