#include "IniDocument.h"

#include <algorithm>

namespace korbenit {
namespace {

// The key of a line: the text before its first "="; a line without one has none.
bool LineHasKey(std::string_view line, std::string_view key) {
  auto equals = line.find('=');
  return equals != std::string_view::npos && SameTextIgnoringCase(line.substr(0, equals), key);
}

// Calls visit(line, start) for every line of text, ended by CR LF, CR or LF; the text
// ends at a NUL byte.
template <typename TVisit>
void ForEachLine(std::string_view text, TVisit visit) {
  text = text.substr(0, text.find('\0'));
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    visit(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) visit(text.substr(start));
}

// The name in a section's "[name]\n" line that starts at start.
std::string_view NameAt(std::string_view text, std::size_t start) {
  std::size_t end = text.find('\n', start);
  return text.substr(start + 1, end - start - 2);
}

}  // namespace

void TCustomIniDocument::Clear() {
  FText.clear();
  FSections.clear();
}

void TCustomIniDocument::AddSection(std::string_view name) {
  FSections.push_back(FText.size());
  FText.append("[").append(name).append("]\n");
}

void TCustomIniDocument::Parse(std::string_view text) {
  Clear();
  ForEachLine(text, [this](std::string_view line) {
    if (line.empty() || line.front() == ';') return;
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']')
      AddSection(line.substr(1, line.size() - 2));
    else if (!FSections.empty())
      FText.append(line).push_back('\n');
  });
}

std::string TCustomIniDocument::Serialize() const {
  std::string text;
  text.reserve(FText.size() + FText.size() / 4 + 2 * FSections.size());
  for (std::size_t index = 0; index < FSections.size(); ++index) {
    std::string_view section(FText.data() + FSections[index], SectionEnd(index) - FSections[index]);
    for (char c : section) {
      if (c == '\n') text.push_back('\r');
      text.push_back(c);
    }
    text.append("\r\n");
  }
  return text;
}

std::size_t TCustomIniDocument::SectionEnd(std::size_t index) const {
  return index + 1 < FSections.size() ? FSections[index + 1] : FText.size();
}

std::optional<std::size_t> TCustomIniDocument::FindSection(std::string_view name) const {
  for (std::size_t index = 0; index < FSections.size(); ++index)
    if (SameTextIgnoringCase(NameAt(FText, FSections[index]), name)) return index;
  return std::nullopt;
}

std::optional<std::string> TCustomIniDocument::FindValue(std::string_view section,
                                                         std::string_view key) const {
  auto index = FindSection(section);
  if (!index) return std::nullopt;
  std::string_view text = FText;
  std::size_t at = text.find('\n', FSections[*index]) + 1, end = SectionEnd(*index);
  for (std::size_t next; at < end; at = next + 1) {
    next = text.find('\n', at);
    std::string_view line = text.substr(at, next - at);
    if (LineHasKey(line, key)) return std::string(line.substr(line.find('=') + 1));
  }
  return std::nullopt;
}

void TCustomIniDocument::WriteValue(std::string_view section, std::string_view key,
                                    std::string_view value) {
  auto index = FindSection(section);
  if (!index) {
    AddSection(section);
    index = FSections.size() - 1;
  }
  std::string line = std::string(key) + "=" + std::string(value);
  std::size_t at = FText.find('\n', FSections[*index]) + 1, end = SectionEnd(*index);
  std::size_t replaced = 0;
  for (std::size_t next; at < end; at = next + 1) {
    next = FText.find('\n', at);
    if (LineHasKey(std::string_view(FText).substr(at, next - at), key)) {
      replaced = next - at;
      break;
    }
  }
  if (replaced == 0) line.push_back('\n');
  FText.replace(at, replaced, line);
  auto shift = static_cast<std::ptrdiff_t>(line.size()) - static_cast<std::ptrdiff_t>(replaced);
  for (std::size_t later = *index + 1; later < FSections.size(); ++later)
    FSections[later] =
        static_cast<std::size_t>(static_cast<std::ptrdiff_t>(FSections[later]) + shift);
}

}  // namespace korbenit
