#pragma once

#include <QStringList>
#include <cstdint>
#include <functional>
#include <string>

#include "DistributionMode.h"

namespace korbenit {

class TDebug;

// The name the developer distribution mode gives the executable's copy: its extension,
// from the last "." on, replaced by the version with at least two digits and the
// platform's executable suffix ("korbenit-screenshot" and 10 give
// "korbenit-screenshot10").
std::string DistributionName(const std::string& executableName, int32_t version);

// The developer distribution mode, first step of the main window's show handler: only
// with exactly one argument, "5203817", while the development environment's main window
// (class "TAPPBUILDER") exists, it shows Debug, logs the copy's name there and copies the
// executable to dist/ in the current folder. Every failure of the copy is silent.
void RunDistributionMode(const QStringList& arguments, int32_t appVersion,
                         const std::string& executablePath, TDebug& debug,
                         const std::function<bool()>& developerEnvironmentRuns);

}  // namespace korbenit
