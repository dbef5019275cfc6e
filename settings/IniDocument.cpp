#include "IniDocument.h"

#include <algorithm>
#include <utility>

namespace korbenit {
namespace {

// The key of a line: the text before its first "="; a line without one has none.
bool LineHasKey(std::string_view line, std::string_view key) {
  auto equals = line.find('=');
  return equals != std::string_view::npos && SameTextIgnoringCase(line.substr(0, equals), key);
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.push_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

}  // namespace

void TCustomIniDocument::Parse(std::string_view text) {
  FSections.clear();
  for (std::string_view line : SplitLines(text)) {
    if (line.empty() || line.front() == ';') continue;
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      FSections.push_back({std::string(line.substr(1, line.size() - 2)), {}});
    } else if (!FSections.empty()) {
      FSections.back().Lines.emplace_back(line);
    }
  }
}

std::string TCustomIniDocument::Serialize() const {
  std::string text;
  for (const auto& section : FSections) {
    text += "[" + section.Name + "]\r\n";
    for (const auto& line : section.Lines) text += line + "\r\n";
    text += "\r\n";
  }
  return text;
}

const TCustomIniDocument::TSection* TCustomIniDocument::FindSection(std::string_view name) const {
  auto found = std::find_if(FSections.begin(), FSections.end(),
                            [&](const TSection& s) { return SameTextIgnoringCase(s.Name, name); });
  return found == FSections.end() ? nullptr : &*found;
}

TCustomIniDocument::TSection* TCustomIniDocument::FindSection(std::string_view name) {
  return const_cast<TSection*>(std::as_const(*this).FindSection(name));
}

std::optional<std::string> TCustomIniDocument::FindValue(std::string_view section,
                                                         std::string_view key) const {
  const TSection* found = FindSection(section);
  if (!found) return std::nullopt;
  for (const auto& line : found->Lines)
    if (LineHasKey(line, key)) return line.substr(line.find('=') + 1);
  return std::nullopt;
}

void TCustomIniDocument::WriteValue(std::string_view section, std::string_view key,
                                    std::string_view value) {
  TSection* found = FindSection(section);
  if (!found) {
    FSections.push_back({std::string(section), {}});
    found = &FSections.back();
  }
  std::string line = std::string(key) + "=" + std::string(value);
  auto existing = std::find_if(found->Lines.begin(), found->Lines.end(),
                               [&](const std::string& l) { return LineHasKey(l, key); });
  if (existing != found->Lines.end()) {
    *existing = std::move(line);
  } else {
    found->Lines.push_back(std::move(line));
  }
}

}  // namespace korbenit
