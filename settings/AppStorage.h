#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace korbenit {

class EAppStorageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Where a value path lands: the section and the key.
struct TStoragePath {
  std::string Section;
  std::string Key;
  bool operator==(const TStoragePath&) const = default;
};

// Settings storage by value path: backslash-separated names, the last the key, the rest
// the section. Values are converted to and from text here; where the text lives is the
// concrete storage's business.
class TCustomAppStorage {
 public:
  TCustomAppStorage() = default;
  TCustomAppStorage(const TCustomAppStorage&) = delete;
  TCustomAppStorage& operator=(const TCustomAppStorage&) = delete;
  virtual ~TCustomAppStorage() = default;

  const std::string& DefaultSection() const { return FDefaultSection; }
  void SetDefaultSection(std::string section) { FDefaultSection = std::move(section); }
  bool ReadOnly() const { return FReadOnly || StoreIsReadOnly(); }
  void SetReadOnly(bool readOnly) { FReadOnly = readOnly; }

  TStoragePath ResolvePath(const std::string& path) const;

  std::string ReadStr(const std::string& path, const std::string& defaultValue);
  int32_t ReadInt(const std::string& path, int32_t defaultValue);
  bool ReadBool(const std::string& path, bool defaultValue);
  bool HasValue(const std::string& path);
  void WriteStr(const std::string& path, const std::string& value);
  void WriteInt(const std::string& path, int32_t value);
  void WriteBool(const std::string& path, bool value);

 protected:
  virtual std::optional<std::string> ReadValue(const TStoragePath& path) = 0;
  virtual void WriteValue(const TStoragePath& path, const std::string& value) = 0;
  // True while the place the values live in may not be written.
  virtual bool StoreIsReadOnly() const { return false; }

 private:
  std::string FDefaultSection;
  bool FReadOnly = false;
};

// Text to a signed 32-bit integer: optional leading blanks and sign, decimal digits, or
// hexadecimal digits after "$", "x" or "0x". Anything else raises EConvertError
// "'<text>' ist kein gültiger Integerwert".
int32_t StrToInt(const std::string& text);

}  // namespace korbenit
