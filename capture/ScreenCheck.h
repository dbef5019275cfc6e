#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Frame.h"

namespace korbenit {

// A rectangle of the screen, in device pixels.
struct TScreenRegion {
  int X = 0, Y = 0, Width = 0, Height = 0;
  bool operator==(const TScreenRegion&) const = default;
};

// How a screen is compared with a reference: pixels inside a mask are ignored, each 8-bit
// channel may differ by up to Fuzz, and up to MaxDiff pixels may differ.
struct TCompareRules {
  std::vector<TScreenRegion> Masks;
  int Fuzz = 0;
  int MaxDiff = 0;
};

// What a comparison found: how many pixels differ, and their bounding box.
struct TScreenDifference {
  int Pixels = 0;
  TScreenRegion Box;
  bool Matches(const TCompareRules& rules) const { return Pixels <= rules.MaxDiff; }
};

// A reference as the device would send it: the picture's colours reduced to the
// transfer's 16 bits, so that a picture we saved compares exactly. A JPEG's are near,
// so one is taken only where the rules allow some fuzz.
struct TReference {
  TFrame Screen;
  bool Lossy = false;
};

// Reads a reference picture; raises EInvalidGraphic for one that is missing, unreadable,
// not 240 x 320, or a JPEG compared without fuzz.
TReference ReadReference(const std::string& path, const TCompareRules& rules);

// Compares a screen with a reference on the transfer's own colours. Where differing is
// given, it gets one byte a pixel, row by row: 1 where the pixel differs, else 0.
TScreenDifference CompareScreens(const TFrame& screen, const TFrame& reference,
                                 const TCompareRules& rules,
                                 std::vector<uint8_t>* differing = nullptr);

// A picture where the differences stand out: the screen greyed, the differing pixels
// red, the masks outlined in blue.
TPicture DifferencePicture(const TFrame& screen, const TFrame& reference,
                           const TCompareRules& rules);

// The usual one-line verdict: "match", or "differ: P pixels in X,Y,W,H".
std::string DescribeDifference(const TScreenDifference& difference, const TCompareRules& rules);

}  // namespace korbenit
