#pragma once

#include "AsciiCase.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korbenit {

// An INI file in memory: sections in file order, each with its lines verbatim. Names and
// keys compare without regard to ASCII letter case; the first match wins. The lines are
// kept in one text with a mark for each section, so that a file of millions of lines takes
// time and memory in proportion to its size.
class TCustomIniDocument {
 public:
  virtual ~TCustomIniDocument() = default;

  const std::string& FileName() const { return FFileName; }
  void SetFileName(std::string name) { FFileName = std::move(name); }

  void Clear();
  // Replaces the content with the parsed text.
  void Parse(std::string_view text);
  // The text as written to a file: CR LF line ends, an empty line after each section.
  std::string Serialize() const;

  // The value of the first line whose key matches: everything after its first "=".
  std::optional<std::string> FindValue(std::string_view section, std::string_view key) const;
  // Rewrites the first matching line in place, or adds one at the end of the section
  // (the section itself at the end of the document when it is new).
  void WriteValue(std::string_view section, std::string_view key, std::string_view value);

 private:
  // Where a section's "[name]" line starts in FText; its lines follow, each ended by a
  // line feed, up to the next section's start.
  std::optional<std::size_t> FindSection(std::string_view name) const;
  std::size_t SectionEnd(std::size_t index) const;
  void AddSection(std::string_view name);

  std::string FFileName;
  std::string FText;
  std::vector<std::size_t> FSections;
};

class TIniDocument : public TCustomIniDocument {};

}  // namespace korbenit
