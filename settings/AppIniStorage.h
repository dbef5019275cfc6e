#pragma once

#include <functional>
#include <string>
#include <vector>

#include "AppStorage.h"
#include "IniDocument.h"

namespace korbenit {

// Settings in an INI file. The file is read again before every access and rewritten
// whole after every write, so it always holds what was last written and another
// program's changes are seen at the next access. A write holds the file's lock through
// the re-read, the change and the new file, so two programs never lose each other's
// changes; a storage that changed nothing never writes, and leaves the file as it was.
class TAppIniFileStorage : public TCustomAppStorage {
 public:
  using TErrorEvent = std::function<void(const std::string& message)>;

  TAppIniFileStorage() = default;
  ~TAppIniFileStorage() override;

  const std::string& FileName() const { return FFileName; }
  // Writes what is not yet written to the old file (when there was one), then loads the
  // new one.
  void SetFileName(const std::string& fileName);

  bool AutoReload = true;
  bool AutoFlush = true;
  bool FlushOnDestroy = true;
  // Told the message of a failed write; without it the failure is silent.
  TErrorEvent OnError;

  // Writes the document to the file, the file's present content with our changes not yet
  // written applied to it. Failures go to OnError, never to the caller.
  void Flush();
  // Replaces the document by the file's content; raises EFOpenError when the file is
  // there but cannot be read, the first time only for that file.
  void Reload();

  const TIniDocument& Document() const { return FDocument; }

 protected:
  std::optional<std::string> ReadValue(const TStoragePath& path) override;
  void WriteValue(const TStoragePath& path, const std::string& value) override;
  bool StoreIsReadOnly() const override { return FFileReadOnly; }

 private:
  struct TChange {
    std::string Section, Key, Value;
  };

  void WriteFile();
  void ReloadWithPending();
  // Writes under a lock already held; failures go to OnError.
  void FlushLocked() noexcept;
  void ReportWriteFailure(const std::string& message) noexcept;

  std::string FFileName;
  // Changes made since the document was last written, applied again to a fresh read.
  std::vector<TChange> FPending;
  TIniDocument FDocument;
  bool FFileReadOnly = false;
  bool FLoadFailed = false;
  std::string FReportedFile;
};

}  // namespace korbenit
