#include "AppStorage.h"

#include <cctype>
#include <vector>

#include "IniDocument.h"
#include "RuntimeErrors.h"

namespace korbenit {
namespace {

const char* const TrueWords = "TRUE, YES, Y";
const char* const FalseWords = "FALSE, NO, N";

std::string CollapseBackslashes(const std::string& path) {
  std::string result;
  for (char c : path)
    if (c != '\\' || (!result.empty() && result.back() != '\\')) result += c;
  if (!result.empty() && result.back() == '\\') result.pop_back();
  return result;
}

// A word list split at commas and blanks.
std::vector<std::string> Words(const std::string& list) {
  std::vector<std::string> words;
  std::string word;
  for (char c : list + ",") {
    if (c == ',' || c == ' ') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  return words;
}

int DigitValue(char c, int base) {
  int value = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
              : (c >= 'a' && c <= 'f')                    ? c - 'a' + 10
              : (c >= 'A' && c <= 'F')                    ? c - 'A' + 10
                                                          : 99;
  return value < base ? value : -1;
}

}  // namespace

int32_t StrToInt(const std::string& text) {
  auto fail = [&]() -> EConvertError {
    return EConvertError("'" + text + "' ist kein gültiger Integerwert");
  };
  std::size_t i = text.find_first_not_of(' ');
  if (i == std::string::npos) throw fail();
  bool negative = text[i] == '-';
  if (text[i] == '-' || text[i] == '+') ++i;
  int base = 10;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) throw fail();
  // Hexadecimal text may spell the whole 32-bit pattern; decimal must fit the range.
  uint64_t limit = base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    int digit = DigitValue(text[i], base);
    if (digit < 0) throw fail();
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (value > limit) throw fail();
  }
  auto pattern = static_cast<uint32_t>(negative ? (~value + 1) : value);
  return static_cast<int32_t>(pattern);
}

TStoragePath TCustomAppStorage::ResolvePath(const std::string& path) const {
  // Collapsing also drops a leading backslash.
  std::string normal = CollapseBackslashes(path);
  auto last = normal.rfind('\\');
  TStoragePath result;
  result.Key = last == std::string::npos ? normal : normal.substr(last + 1);
  result.Section = last == std::string::npos ? std::string() : normal.substr(0, last);
  if (result.Section.empty()) {
    result.Section = FDefaultSection;
  } else if (result.Section.front() == '.') {
    result.Section = FDefaultSection + result.Section;
  }
  if (result.Section.empty() || result.Section.front() == '.')
    throw EAppStorageError("TAppIniFileStorage.ReadValue: Section undefined");
  return result;
}

std::string TCustomAppStorage::ReadStr(const std::string& path, const std::string& defaultValue) {
  return ReadValue(ResolvePath(path)).value_or(defaultValue);
}

int32_t TCustomAppStorage::ReadInt(const std::string& path, int32_t defaultValue) {
  auto value = ReadValue(ResolvePath(path));
  if (!value) return defaultValue;
  return value->empty() ? 0 : StrToInt(*value);
}

bool TCustomAppStorage::ReadBool(const std::string& path, bool defaultValue) {
  auto value = ReadValue(ResolvePath(path));
  if (!value) return defaultValue;
  for (const auto& word : Words(TrueWords))
    if (SameTextIgnoringCase(word, *value)) return true;
  for (const auto& word : Words(FalseWords))
    if (SameTextIgnoringCase(word, *value)) return false;
  return StrToInt(*value) != 0;
}

bool TCustomAppStorage::HasValue(const std::string& path) {
  return ReadValue(ResolvePath(path)).has_value();
}

void TCustomAppStorage::WriteStr(const std::string& path, const std::string& value) {
  if (ReadOnly()) return;
  WriteValue(ResolvePath(path), value);
}

void TCustomAppStorage::WriteInt(const std::string& path, int32_t value) {
  WriteStr(path, std::to_string(value));
}

void TCustomAppStorage::WriteBool(const std::string& path, bool value) {
  WriteStr(path, Words(value ? TrueWords : FalseWords).front());
}

}  // namespace korbenit
