#include "Distribution.h"

#include <cstdio>
#include <filesystem>

#include "Platform.h"
#include "SafeFile.h"
#include "uDebug.h"

namespace korbenit {

namespace fs = std::filesystem;

std::string DistributionName(const std::string& executableName, int32_t version) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%.2d%s", version, ExecutableSuffix());
  return executableName.substr(0, executableName.rfind('.')) + stamp;
}

namespace {

// The copy takes the target's name only once it is whole and runnable, so a full disk
// never leaves a cut-off program there nor spoils an earlier copy. Failures stay quiet,
// as a failed copy always has.
void CopyWhole(const std::string& source, const std::string& target) {
  try {
    auto content = ReadRegularFile(source);
    if (!content) return;
    TReplacingFile copy(target);
    copy.TakePermissionsOf(source);
    copy.Write(content->data(), content->size());
    copy.Commit();
  } catch (const std::exception&) {
  }
}

}  // namespace

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
  CopyWhole(executable.string(), target.string());
}

}  // namespace korbenit
