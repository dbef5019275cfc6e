#include "Distribution.h"

#include "Platform.h"
#include "uDebug.h"

namespace korbenit {

std::string DistributionName(const std::string& executableName, int32_t version) {
  return DistributionName(executableName, version, ExecutableSuffix());
}

void RunDistributionMode(const QStringList& arguments, int32_t appVersion,
                         const std::string& executablePath, TDebug& debug,
                         const std::function<bool()>& developerEnvironmentRuns) {
  std::vector<std::string> texts;
  for (const QString& argument : arguments) texts.push_back(argument.toStdString());
  RunDistributionMode(texts, appVersion, executablePath, ExecutableSuffix(),
                      {developerEnvironmentRuns, [&debug] { debug.show(); },
                       [&debug](const std::string& line) {
                         debug.AddLine(QString::fromStdString(line));
                       }});
}

}  // namespace korbenit
