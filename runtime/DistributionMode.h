#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace korbenit {

// The name the developer distribution mode gives the executable's copy: its extension,
// from the last "." on, replaced by the version with at least two digits and the
// platform's executable suffix ("Capture.exe", 10 and ".exe" give "Capture10.exe").
std::string DistributionName(const std::string& executableName, int32_t version,
                             const char* suffix);

// What the mode needs of the windows around it.
struct TDistributionHooks {
  std::function<bool()> DeveloperEnvironmentRuns;  // a window of class "TAPPBUILDER" exists
  std::function<void()> ShowDebug;
  std::function<void(const std::string&)> AddLine;  // to the Debug window
};

// The developer distribution mode, first step of the main window's show handler: only
// with exactly one argument, "5203817", while the development environment's main window
// exists, it shows Debug, logs the copy's name there and copies the executable to dist/
// in the current folder (a folder at the copy's name gets it under its own name; "dist"
// is never made). Every failure of the copy is silent.
void RunDistributionMode(const std::vector<std::string>& arguments, int32_t appVersion,
                         const std::string& executablePath, const char* suffix,
                         const TDistributionHooks& hooks);

}  // namespace korbenit
