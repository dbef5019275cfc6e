#include "AppIniStorage.h"

#include <cerrno>
#include <filesystem>
#include <memory>

#include "RuntimeErrors.h"
#include "SafeFile.h"

namespace korbenit {
namespace {

namespace fs = std::filesystem;

// The read-only attribute: a file (not a folder) whose owner may not write it. A file
// that this user may not write (someone else's) is left alone the same way.
bool IsReadOnly(const std::string& path) {
  std::error_code error;
  auto status = fs::status(path, error);
  if (error || !fs::is_regular_file(status)) return false;
  return (status.permissions() & fs::perms::owner_write) == fs::perms::none ||
         !MayWriteExistingFile(path);
}

}  // namespace

TAppIniFileStorage::~TAppIniFileStorage() {
  if (FlushOnDestroy && !FPending.empty()) Flush();
}

void TAppIniFileStorage::SetFileName(const std::string& fileName) {
  if (!FFileName.empty() && !FPending.empty()) Flush();
  FPending.clear();
  FFileName = fileName;
  Reload();
}

// A folder of that name is no settings file, as a missing file is not; a pipe or a file
// that cannot be read is one that fails. Its failure is raised once: every access reads
// the file again, and one message about it is enough.
void TAppIniFileStorage::Reload() {
  auto text = FFileName.empty() ? std::nullopt : ReadRegularFile(FFileName);
  FFileReadOnly = IsReadOnly(FFileName);
  if (text) {
    FLoadFailed = false;
    FDocument.Parse(*text);
    FDocument.SetFileName(FFileName);
    return;
  }
  FLoadFailed = !FFileName.empty() && errno != ENOENT && errno != EISDIR && errno != ENOTDIR;
  FDocument.Clear();
  if (FLoadFailed && FReportedFile != FFileName) {
    FReportedFile = FFileName;
    throw EFOpenError(FFileName);
  }
}

namespace {

// The folder is made first: its lock is the one every writer of the file takes.
TFileLock LockForWriting(const std::string& fileName) {
  fs::path folder = fs::path(fileName).parent_path();
  std::error_code ignored;
  if (!folder.empty()) fs::create_directories(folder, ignored);
  return TFileLock(fileName, true);
}

}  // namespace

void TAppIniFileStorage::ReportWriteFailure(const std::string& message) noexcept {
  try {
    if (OnError) OnError(message);
  } catch (...) {
    // A failing report of a failed write has nowhere further to go.
  }
}

// The file as it is now, with our changes that are not yet in it.
void TAppIniFileStorage::ReloadWithPending() {
  Reload();
  for (const TChange& change : FPending)
    FDocument.WriteValue(change.Section, change.Key, change.Value);
}

void TAppIniFileStorage::Flush() {
  if (FFileName.empty() || ReadOnly()) return;
  TFileLock writing = LockForWriting(FFileName);
  if (!writing.Held()) return ReportWriteFailure(EFCreateError(FFileName).what());
  try {
    if (AutoReload) ReloadWithPending();
  } catch (const std::exception& e) {
    return ReportWriteFailure(e.what());
  }
  FlushLocked();
}

// A document whose file could not be read is not that file's content: writing it back
// would overwrite the settings with nothing.
void TAppIniFileStorage::FlushLocked() noexcept {
  if (FFileName.empty() || ReadOnly() || FLoadFailed) return;
  try {
    WriteFile();
    FPending.clear();
  } catch (const std::exception& e) {
    ReportWriteFailure(e.what());
  }
}

// A new file takes the old one's place only once it is complete, so a crash or a full
// disk in the middle of a write cannot lose the settings.
void TAppIniFileStorage::WriteFile() {
  FDocument.SetFileName(FFileName);
  std::string text = FDocument.Serialize();
  TReplacingFile file(FFileName);
  file.Write(text.data(), text.size());
  file.Commit();
}

std::optional<std::string> TAppIniFileStorage::ReadValue(const TStoragePath& path) {
  if (AutoReload) {
    TFileLock reading(FFileName, false);
    Reload();
  }
  return FDocument.FindValue(path.Section, path.Key);
}

// Another program writing the same file (a second instance, or one through another name
// of a hard-linked file) waits until our read, change and write are done. A write that
// cannot have the lock in time fails as a write does, silently: it never goes on unlocked.
void TAppIniFileStorage::WriteValue(const TStoragePath& path, const std::string& value) {
  TFileLock writing = LockForWriting(FFileName);
  if (AutoReload) ReloadWithPending();
  FDocument.WriteValue(path.Section, path.Key, value);
  FPending.push_back({path.Section, path.Key, value});
  if (!AutoFlush) return;
  if (writing.Held())
    FlushLocked();
  else
    ReportWriteFailure(EFCreateError(FFileName).what());
}

}  // namespace korbenit
