#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "ScreenCheck.h"

namespace korbenit {

// A command line that cannot be carried out as written (exit 2).
class EUsage : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TCaptureOptions {
  bool Help = false;
  bool Version = false;
  bool List = false;
  bool Quiet = false;
  bool Force = false;
  std::string Port;    // empty: the one port present that can be the device
  std::string Output;  // empty: Korbenit_yyyymmdd_hhnnss.png here; "-": PNG on stdout
  int Quality = 90;
  int Count = 1;
  double Interval = 0;    // seconds from the start of one capture to the start of the next
  double Duration = 0;    // seconds of continuous recording into an animation; 0: none
  double Delay = 0;       // seconds to wait before the first picture
  int Fps = 0;            // the most frames a second an animation keeps; 0: all
  std::string Compare;    // a reference picture to compare the capture with
  TCompareRules Rules;    // masks, fuzz and allowance of the comparison
  std::string Diff;       // a PNG of the differences, with --compare
  int Scale = 1;          // pictures written enlarged by this whole factor
  std::string WaitFor;    // a reference to wait for on the live screen
  double WaitStable = 0;  // seconds the screen must stand still; 0: not waited for
  double Timeout = 30;    // seconds a wait lasts at most
  bool OnChange = false;  // a series keeps a picture only when the screen changed
  std::string Serve;      // [ADDR:]PORT the screen is served on over HTTP; empty: not served
  std::string Token;      // the access token the server asks for; empty: none, or a random one
};

// Where --serve listens when it is given no address.
extern const char* const DefaultServeAddress;

enum class TPictureFormat { Bmp, Jpeg, Png, Gif, WebP };

// GIF and WebP outputs hold a whole series, or a continuous recording, as one animation.
bool IsAnimation(TPictureFormat format);

// Raises EUsage, saying in one line what is wrong, for anything it cannot take.
TCaptureOptions ParseCaptureOptions(const std::vector<std::string>& arguments);
// The format a file name's extension asks for; raises EUsage for any other.
TPictureFormat FormatOfName(const std::string& name);

extern const char* const CaptureUsage;
extern const char* const CaptureVersion;

}  // namespace korbenit
