#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "CaptureOptions.h"

namespace korbenit {

// A file name's extension with its dot ("" when it has none).
std::string Extension(const std::string& name);

// A printf-style number in a file name: "%d", "%3d" or "%03d", once; "%%" is a "%".
// Raises EUsage for any other pattern.
struct TNumberPattern {
  std::string Before, After;
  int Width = 0;
  bool Zeros = false;
};
std::optional<TNumberPattern> NumberPatternOf(const std::string& name);

// The name of the index-th picture of a series: the name's printf-style number
// ("shot_%03d.png") filled in, or else "_001" before the extension.
std::string SeriesName(const std::string& name, int index);

// The name with its time fields (%Y %y %m %H %M %S %j, as strftime has them) filled in
// from when. A bare %d is the day of the month beside other time fields, and otherwise,
// as %03d always is, the picture's number; "%%" stays for the number's turn.
std::string WithTimeFields(const std::string& name, std::time_t when);

// The name of the index-th picture (from 1) of a command started at started: a series is
// numbered, an animation is one file.
std::string OutputName(const TCaptureOptions& options, int index, std::time_t started);

// The names the pictures of a command get, in order; for an endless series (a count of
// 0) the first.
std::vector<std::string> OutputNames(const TCaptureOptions& options,
                                     std::time_t started = std::time(nullptr));

// Found before the port is opened, so nothing reaches the device for a picture that could
// not be kept. The writers still check again when they write. Raises EUsage.
void CheckOutputs(const std::vector<std::string>& names, const TCaptureOptions& options,
                  bool outIsTerminal);

}  // namespace korbenit
