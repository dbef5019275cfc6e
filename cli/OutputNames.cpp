#include "OutputNames.h"

#include <cstdio>
#include <ctime>
#include <filesystem>

#include "ImageFiles.h"
#include "RuntimePlatform.h"

namespace korbenit {

std::optional<TNumberPattern> NumberPatternOf(const std::string& name) {
  std::optional<TNumberPattern> found;
  std::string literal;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] != '%') {
      literal += name[i];
      continue;
    }
    if (i + 1 < name.size() && name[i + 1] == '%') {
      literal += '%';
      ++i;
      continue;
    }
    std::size_t end = i + 1;
    bool zeros = end < name.size() && name[end] == '0';
    while (end < name.size() && std::isdigit(static_cast<unsigned char>(name[end]))) ++end;
    if (found || end >= name.size() || name[end] != 'd' || end - i > 4)
      throw EUsage("\"" + name + "\": a name takes one number pattern such as %03d");
    found = TNumberPattern{literal, {}, std::atoi(name.substr(i + 1, end - i - 1).c_str()), zeros};
    literal.clear();
    i = end;
  }
  if (found) found->After = literal;
  return found;
}

std::string Extension(const std::string& name) {
  auto slash = name.rfind('/');
  auto dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return name.substr(dot);
}

std::string SeriesName(const std::string& name, int index) {
  char number[32];
  if (auto pattern = NumberPatternOf(name)) {
    std::snprintf(number, sizeof number, pattern->Zeros ? "%0*d" : "%*d", pattern->Width, index);
    return pattern->Before + number + pattern->After;
  }
  std::snprintf(number, sizeof number, "_%03d", index);
  std::string extension = Extension(name);
  return name.substr(0, name.size() - extension.size()) + number +
         name.substr(name.size() - extension.size());
}

std::vector<std::string> OutputNames(const TCaptureOptions& options) {
  std::string base =
      options.Output.empty() ? DefaultPictureName(std::time(nullptr)) + ".png" : options.Output;
  bool numbered = options.Count > 1 || NumberPatternOf(base);
  std::vector<std::string> names;
  for (int index = 1; index <= options.Count; ++index)
    names.push_back(numbered ? SeriesName(base, index) : base);
  return names;
}

void CheckOutputs(const std::vector<std::string>& names, const TCaptureOptions& options,
                  bool outIsTerminal) {
  for (const auto& name : names) {
    if (name == "-") {
      if (outIsTerminal)
        throw EUsage("standard output is a terminal; redirect it or give a file name");
      continue;
    }
    std::filesystem::path file(name);
    std::string folder = file.has_parent_path() ? file.parent_path().string() : ".";
    TPathInfo info;
    if (int error = LookAtPath(folder, true, info))
      throw EUsage("folder \"" + folder + "\": " + SystemErrorText(error));
    if (!info.IsFolder) throw EUsage("\"" + folder + "\" is not a folder");
    if (int error = MayCreateFilesIn(folder))
      throw EUsage("cannot write in \"" + folder + "\": " + SystemErrorText(error));
    if (LookAtPath(name, true, info) == 0 && info.IsFolder)
      throw EUsage("\"" + name + "\" is a folder");
    if (LookAtPath(name, false, info) == 0 && !options.Force)
      throw EUsage("\"" + name + "\" exists; --force replaces it");
  }
}

}  // namespace korbenit
