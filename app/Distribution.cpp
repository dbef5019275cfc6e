#include "Distribution.h"

#include <cstdio>
#include <filesystem>

#include "Platform.h"
#include "uDebug.h"

namespace korbenit {

namespace fs = std::filesystem;

std::string DistributionName(const std::string& executableName, int32_t version) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%.2d%s", version, ExecutableSuffix());
  return executableName.substr(0, executableName.rfind('.')) + stamp;
}

void RunDistributionMode(const QStringList& arguments, int32_t appVersion,
                         const std::string& executablePath, TDebug& debug,
                         const std::function<bool()>& developerEnvironmentRuns) {
  if (arguments.size() != 1 || arguments[0] != QStringLiteral("5203817")) return;
  if (!developerEnvironmentRuns()) return;
  debug.show();
  fs::path executable(executablePath);
  std::string name = DistributionName(executable.filename().string(), appVersion);
  debug.AddLine(QString::fromStdString(name));
  // "dist" is never made here; a folder standing at the copy's name receives it under
  // the executable's own name.
  fs::path target = fs::path("dist") / name;
  std::error_code ignored;
  if (fs::is_directory(target, ignored)) target /= executable.filename();
  fs::copy_file(executable, target, fs::copy_options::overwrite_existing, ignored);
}

}  // namespace korbenit
