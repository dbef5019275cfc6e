#include "DistributionMode.h"

#include <cstdio>
#include <filesystem>

#include "RuntimePlatform.h"
#include "SafeFile.h"

namespace korbenit {
namespace {

// The file-name part of a path, with the platform's separators.
std::string FileNameOf(const std::string& path) {
  std::string separators = "/";
  if (std::filesystem::path::preferred_separator != '/') separators += '\\';
  auto separator = path.find_last_of(separators);
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

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

std::string DistributionName(const std::string& executableName, int32_t version,
                             const char* suffix) {
  char stamp[48];
  std::snprintf(stamp, sizeof stamp, "%.2d%s", version, suffix);
  return executableName.substr(0, executableName.rfind('.')) + stamp;
}

void RunDistributionMode(const std::vector<std::string>& arguments, int32_t appVersion,
                         const std::string& executablePath, const char* suffix,
                         const TDistributionHooks& hooks) {
  if (arguments.size() != 1 || arguments[0] != "5203817") return;
  if (!hooks.DeveloperEnvironmentRuns()) return;
  hooks.ShowDebug();
  std::string executable = FileNameOf(executablePath);
  std::string name = DistributionName(executable, appVersion, suffix);
  hooks.AddLine(name);
  std::string target = "dist/" + name;
  TPathInfo info;
  if (LookAtPath(target, true, info) == 0 && info.IsFolder) target += "/" + executable;
  CopyWhole(executablePath, target);
}

}  // namespace korbenit
