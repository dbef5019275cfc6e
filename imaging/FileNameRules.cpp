#include "FileNameRules.h"

namespace korbenit {
namespace {

// Removes everything up to and including the first "|"; nothing when there is none.
void DropThroughBar(std::string& text) {
  auto bar = text.find('|');
  if (bar != std::string::npos) text.erase(0, bar + 1);
}

}  // namespace

std::string FilterExtensionOf(const std::string& filter, int index, const std::string& defaultExt) {
  std::string rest = filter;
  // Past the last pair nothing is left to drop, whatever the index says.
  for (int n = index; n > 1 && rest.find('|') != std::string::npos; --n) {
    DropThroughBar(rest);
    DropThroughBar(rest);
  }
  DropThroughBar(rest);
  std::string pattern = rest.substr(0, rest.find('|'));
  while (pattern.size() >= 2 && pattern[0] != '.') pattern.erase(0, 1);
  if (pattern.size() > 4 || pattern.find_first_of("*?") != std::string::npos) pattern.clear();
  if (pattern.empty() && !defaultExt.empty()) return "." + defaultExt;
  return pattern;
}

std::string ReplaceExtension(const std::string& name, const std::string& extension) {
  auto dot = name.rfind('.');
  if (dot == std::string::npos || name.find_first_of("/\\", dot) != std::string::npos)
    return name + extension;
  return name.substr(0, dot) + extension;
}

}  // namespace korbenit
