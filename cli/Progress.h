#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>

namespace korbenit {

// The lines of a picture as they come, as a bar on a terminal: as wide as the terminal
// and redrawn at most twenty times a second (and at the end). Nothing without one.
class TProgressBar {
 public:
  using TClock = std::chrono::steady_clock;

  TProgressBar(std::ostream& err, int columns) : FErr(err), FColumns(columns) {}

  void Line(int lines);
  void Clear();
  int64_t ElapsedMs() const;

 private:
  std::ostream& FErr;
  int FColumns;
  TClock::time_point FStart = TClock::now();
  TClock::time_point FLastDraw;
  int FLines = 0;
};

}  // namespace korbenit
