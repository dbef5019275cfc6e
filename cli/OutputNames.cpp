#include "OutputNames.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
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
    // A width beyond 9 only pads; such names would not be what was asked for.
    int width = end - i - 1 <= 2 ? std::atoi(name.substr(i + 1, end - i - 1).c_str()) : 99;
    if (found || end >= name.size() || name[end] != 'd' || width > 9)
      throw EUsage("\"" + name +
                   "\": a name takes one number pattern such as %03d (width up to 9), and the "
                   "time fields %Y %y %m %d %H %M %S %j");
    found = TNumberPattern{literal, {}, width, zeros};
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
  char number[32];  // a width of 9 at most, and an int
  if (auto pattern = NumberPatternOf(name)) {
    std::snprintf(number, sizeof number, pattern->Zeros ? "%0*d" : "%*d", pattern->Width, index);
    return pattern->Before + number + pattern->After;
  }
  std::snprintf(number, sizeof number, "_%03d", index);
  std::string extension = Extension(name);
  return name.substr(0, name.size() - extension.size()) + number +
         name.substr(name.size() - extension.size());
}

namespace {

// The folder a file name is in, "." for none; the names stay bytes (UTF-8) throughout.
std::string FolderOfName(const std::string& name) {
  std::string separators = "/";
  if (std::filesystem::path::preferred_separator != '/') separators += '\\';
  auto separator = name.find_last_of(separators);
  if (separator == std::string::npos) return ".";
  return separator == 0 ? name.substr(0, 1) : name.substr(0, separator);
}

constexpr const char* TimeFields = "YymHMSj";

bool HasTimeField(const std::string& name) {
  for (std::size_t i = 0; i + 1 < name.size(); ++i) {
    if (name[i] != '%') continue;
    if (std::strchr(TimeFields, name[i + 1])) return true;
    ++i;  // "%%" and the number's "%" are no field
  }
  return false;
}

bool Exists(const std::string& name) {
  TPathInfo info;
  return LookAtPath(name, false, info) == 0;
}

// "%%" stands for "%" in a name without a number too.
std::string Unescaped(const std::string& name) {
  std::string plain;
  for (std::size_t i = 0; i < name.size(); ++i) {
    plain += name[i];
    if (name[i] == '%' && i + 1 < name.size() && name[i + 1] == '%') ++i;
  }
  return plain;
}

// The default name of a single picture, numbered _2, _3, ... when it is taken, as the
// live view's snapshots are: two captures within a second each get a file.
std::string FreeDefaultName() {
  std::string base = DefaultPictureName(std::time(nullptr));
  std::string name = base + ".png";
  for (int number = 2; Exists(name); ++number) name = base + "_" + std::to_string(number) + ".png";
  return name;
}

}  // namespace

std::string WithTimeFields(const std::string& name, std::time_t when) {
  std::tm local = LocalTime(when);
  bool dayIsField = HasTimeField(name);
  std::string filled;
  for (std::size_t i = 0; i < name.size(); ++i) {
    char next = i + 1 < name.size() ? name[i + 1] : '\0';
    bool field = name[i] == '%' && next != '\0' &&
                 (std::strchr(TimeFields, next) || (next == 'd' && dayIsField));
    if (!field) {
      filled += name[i];
      if (name[i] == '%' && next == '%') filled += name[++i];
      continue;
    }
    char format[3] = {'%', next, '\0'}, text[8];
    std::strftime(text, sizeof text, format, &local);
    filled += text;
    ++i;
  }
  return filled;
}

std::string OutputName(const TCaptureOptions& options, int index, std::time_t started) {
  if (options.Output == "-") return "-";
  std::string base = options.Output.empty() ? DefaultPictureName(started) + ".png"
                                            : WithTimeFields(options.Output, started);
  bool numbered = !IsAnimation(FormatOfName(base)) && (options.Count != 1 || NumberPatternOf(base));
  return numbered ? SeriesName(base, index) : Unescaped(base);
}

std::vector<std::string> OutputNames(const TCaptureOptions& options, std::time_t started) {
  if (options.Output.empty() && options.Count == 1) return {FreeDefaultName()};
  std::vector<std::string> names;
  for (int index = 1; index <= std::max(options.Count, 1); ++index)
    names.push_back(OutputName(options, index, started));
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
    std::string folder = FolderOfName(name);
    if (NameTooLongForFiles(name)) throw EUsage("\"" + name + "\": the name is too long");
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
    if (LookAtPath(name, true, info) == 0 && info.ReadOnly)
      throw EUsage("\"" + name + "\" is read-only; --force does not replace it");
  }
}

}  // namespace korbenit
