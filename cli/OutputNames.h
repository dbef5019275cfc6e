#pragma once

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

// The names the pictures of a command get, in order.
std::vector<std::string> OutputNames(const TCaptureOptions& options);

// Found before the port is opened, so nothing reaches the device for a picture that could
// not be kept. The writers still check again when they write. Raises EUsage.
void CheckOutputs(const std::vector<std::string>& names, const TCaptureOptions& options,
                  bool outIsTerminal);

}  // namespace korbenit
