#pragma once

#include "AsciiCase.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korbenit {

// An INI file in memory: sections in file order, each with its lines verbatim. Names and
// keys compare without regard to ASCII letter case; the first match wins.
class TCustomIniDocument {
 public:
  struct TSection {
    std::string Name;
    std::vector<std::string> Lines;
  };

  virtual ~TCustomIniDocument() = default;

  const std::string& FileName() const { return FFileName; }
  void SetFileName(std::string name) { FFileName = std::move(name); }
  const std::vector<TSection>& Sections() const { return FSections; }

  void Clear() { FSections.clear(); }
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
  TSection* FindSection(std::string_view name);
  const TSection* FindSection(std::string_view name) const;

  std::string FFileName;
  std::vector<TSection> FSections;
};

class TIniDocument : public TCustomIniDocument {};

}  // namespace korbenit
