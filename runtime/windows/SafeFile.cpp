// The file writer on Windows: the new content goes to a temporary beside the target,
// which takes the target's place (ReplaceFileW keeps the old file's attributes and access
// lists) only once it is whole and on disk.
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cwctype>
#include <random>

#include "../RuntimeErrors.h"
#include "../RuntimePlatform.h"
#include "../SafeFile.h"
#include "WideText.h"

namespace korbenit {
namespace {

constexpr wchar_t TemporaryPrefix[] = L".kb-";
constexpr wchar_t TemporarySuffix[] = L".tmp";

[[noreturn]] void ThrowCreateError(const std::string& path, DWORD error = ::GetLastError()) {
  int code = static_cast<int>(error);
  throw EFCreateError(path, FileFailureKind(code, TFailureKind::CannotCreate), code);
}

[[noreturn]] void ThrowWriteError(DWORD error = ::GetLastError()) {
  int code = static_cast<int>(error);
  throw EWriteError(FileFailureKind(code, TFailureKind::WriteFailed), code);
}

std::string FolderOf(const std::string& path) {
  auto separator = path.find_last_of("\\/");
  if (separator == std::string::npos) return ".";
  if (separator == 0 || (separator == 2 && path[1] == ':')) return path.substr(0, separator + 1);
  return path.substr(0, separator);
}

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9, with any extension, name devices, not files.
bool IsReservedName(const std::string& path) {
  auto separator = path.find_last_of("\\/");
  std::string name = separator == std::string::npos ? path : path.substr(separator + 1);
  name = name.substr(0, name.find('.'));
  while (!name.empty() && name.back() == ' ') name.pop_back();
  std::transform(name.begin(), name.end(), name.begin(), [](char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  });
  if (name == "CON" || name == "PRN" || name == "AUX" || name == "NUL") return true;
  return name.size() == 4 && (name.rfind("COM", 0) == 0 || name.rfind("LPT", 0) == 0) &&
         name[3] >= '1' && name[3] <= '9';
}

std::wstring TemporaryName() {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  const wchar_t* digits = L"0123456789abcdef";
  std::wstring name = TemporaryPrefix;
  uint64_t value = random();
  for (int i = 0; i < 12; ++i, value >>= 4) name += digits[value & 0xF];
  return name + TemporarySuffix;
}

bool IsOurTemporary(const std::wstring& name) {
  if (name.size() != 4 + 12 + 4 || name.rfind(TemporaryPrefix, 0) != 0 ||
      name.substr(16) != TemporarySuffix)
    return false;
  return std::all_of(name.begin() + 4, name.begin() + 16,
                     [](wchar_t c) { return std::iswxdigit(c) && !std::iswupper(c); });
}

// Temporaries a killed writer left, once a minute old.
void RemoveStaleTemporaries(const std::wstring& folder) {
  WIN32_FIND_DATAW found{};
  HANDLE search = ::FindFirstFileW((folder + L"\\.kb-*.tmp").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  auto ticks = [](FILETIME t) { return (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; };
  do {
    bool old = ticks(now) - ticks(found.ftLastWriteTime) > 60ull * 10'000'000ull;
    if (old && IsOurTemporary(found.cFileName))
      ::DeleteFileW((folder + L"\\" + found.cFileName).c_str());
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
}

bool WriteAll(HANDLE file, const void* data, std::size_t size) {
  auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30)), written = 0;
    if (!::WriteFile(file, bytes, chunk, &written, nullptr) || written == 0) return false;
    bytes += written;
    size -= written;
  }
  return true;
}

}  // namespace

struct TReplacingFile::TPlatform {
  std::string Path;
  std::wstring Target, Temporary;
  HANDLE File = INVALID_HANDLE_VALUE;
  std::size_t Size = 0, Reserved = 0;
  bool Committed = false;

  ~TPlatform() {
    if (File != INVALID_HANDLE_VALUE) ::CloseHandle(File);
    if (!Committed && !Temporary.empty()) ::DeleteFileW(Temporary.c_str());
  }
};

TReplacingFile::TReplacingFile(std::string path) : FPlatform(std::make_unique<TPlatform>()) {
  auto& p = *FPlatform;
  p.Path = path;
  if (path.empty() || path.back() == '/' || path.back() == '\\' || IsReservedName(path))
    throw EFCreateError(path);
  if (NameTooLongForFiles(path)) throw EFCreateError(path, TFailureKind::NameTooLong);
  p.Target = FilePath(path);
  DWORD attributes = ::GetFileAttributesW(p.Target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) throw EFCreateError(path);
    if (attributes & FILE_ATTRIBUTE_READONLY) throw EFCreateError(path, TFailureKind::ReadOnly);
  }
  std::wstring folder = FilePath(FolderOf(path));
  DWORD folderAttributes = ::GetFileAttributesW(folder.c_str());
  if (folderAttributes == INVALID_FILE_ATTRIBUTES) ThrowCreateError(path);
  if (!(folderAttributes & FILE_ATTRIBUTE_DIRECTORY)) ThrowCreateError(path, ERROR_DIRECTORY);
  RemoveStaleTemporaries(folder);
  for (int attempt = 0; attempt < 16 && p.File == INVALID_HANDLE_VALUE; ++attempt) {
    p.Temporary = folder + (folder.back() == L'\\' ? L"" : L"\\") + TemporaryName();
    p.File = ::CreateFileW(p.Temporary.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (p.File == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) {
      DWORD error = ::GetLastError();
      p.Temporary.clear();
      ThrowCreateError(path, error);
    }
  }
  if (p.File == INVALID_HANDLE_VALUE) {
    p.Temporary.clear();
    ThrowCreateError(path);
  }
}

TReplacingFile::~TReplacingFile() = default;

// Windows files carry access lists, not permission bits; the replaced file's are kept.
void TReplacingFile::TakePermissionsOf(const std::string&) {}

void TReplacingFile::Write(const void* data, std::size_t size) {
  auto& p = *FPlatform;
  if (!WriteAll(p.File, data, size)) ThrowWriteError();
  p.Size += size;
}

bool TReplacingFile::ReserveAhead(std::size_t bytes) noexcept {
  auto& p = *FPlatform;
  if (p.Size + bytes <= p.Reserved) return true;
  FILE_ALLOCATION_INFO allocation{};
  allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(p.Size + bytes);
  bool reserved =
      ::SetFileInformationByHandle(p.File, FileAllocationInfo, &allocation, sizeof allocation);
  // Where the allocation cannot be set apart (Wine), the file is lengthened instead; the
  // commit cuts it back to its content.
  if (!reserved && ::GetLastError() != ERROR_DISK_FULL) {
    LARGE_INTEGER end{}, here{};
    end.QuadPart = allocation.AllocationSize.QuadPart;
    here.QuadPart = static_cast<LONGLONG>(p.Size);
    reserved = ::SetFilePointerEx(p.File, end, nullptr, FILE_BEGIN) && ::SetEndOfFile(p.File);
    ::SetFilePointerEx(p.File, here, nullptr, FILE_BEGIN);
  }
  if (reserved) p.Reserved = p.Size + bytes;
  return reserved;
}

void TReplacingFile::PatchAt(std::size_t offset, const void* data, std::size_t size) {
  auto& p = *FPlatform;
  if (offset + size > p.Size) ThrowWriteError(ERROR_INVALID_PARAMETER);
  LARGE_INTEGER at{}, end{};
  at.QuadPart = static_cast<LONGLONG>(offset);
  end.QuadPart = static_cast<LONGLONG>(p.Size);
  if (!::SetFilePointerEx(p.File, at, nullptr, FILE_BEGIN) || !WriteAll(p.File, data, size) ||
      !::SetFilePointerEx(p.File, end, nullptr, FILE_BEGIN))
    ThrowWriteError();
}

void TReplacingFile::Commit() {
  auto& p = *FPlatform;
  LARGE_INTEGER end{};
  end.QuadPart = static_cast<LONGLONG>(p.Size);
  // A reservation beyond the content goes; then the content is on disk before it counts.
  bool stored = ::SetFilePointerEx(p.File, end, nullptr, FILE_BEGIN) && ::SetEndOfFile(p.File) &&
                ::FlushFileBuffers(p.File);
  DWORD error = ::GetLastError();
  ::CloseHandle(p.File);
  p.File = INVALID_HANDLE_VALUE;
  if (!stored) ThrowWriteError(error);
  bool exists = ::GetFileAttributesW(p.Target.c_str()) != INVALID_FILE_ATTRIBUTES;
  if (exists && ::ReplaceFileW(p.Target.c_str(), p.Temporary.c_str(), nullptr,
                               REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
    p.Committed = true;
    return;
  }
  if (!::MoveFileExW(p.Temporary.c_str(), p.Target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    ThrowWriteError();
  p.Committed = true;
}

bool MayWriteExistingFile(const std::string& path) {
  DWORD attributes = ::GetFileAttributesW(FilePath(path).c_str());
  return attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY);
}

std::optional<std::string> ReadRegularFile(const std::string& path) {
  std::wstring name = FilePath(path);
  DWORD attributes = ::GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    errno = ENOENT;
    return std::nullopt;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    errno = EISDIR;
    return std::nullopt;
  }
  HANDLE file = ::CreateFileW(name.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    errno = EACCES;
    return std::nullopt;
  }
  std::string content;
  // Only a file on a disk: a device name (CON, a pipe) is never waited on.
  bool regular = ::GetFileType(file) == FILE_TYPE_DISK;
  char block[65536];
  DWORD got = 0;
  while (regular && ::ReadFile(file, block, sizeof block, &got, nullptr) && got > 0)
    content.append(block, got);
  ::CloseHandle(file);
  if (!regular) {
    errno = EINVAL;
    return std::nullopt;
  }
  return content;
}

// Windows cannot lock a folder, and a file replaced under a lock loses it; so the lock is
// a named mutex of the folder's full path (as Windows compares names: without case),
// taken whole by readers and writers alike.
struct TFileLock::TPlatform {
  HANDLE Mutex = nullptr;
  bool Held = false;
  ~TPlatform() {
    if (Held) ::ReleaseMutex(Mutex);
    if (Mutex) ::CloseHandle(Mutex);
  }
};

TFileLock::TFileLock(const std::string& path, bool, std::chrono::milliseconds timeout)
    : FPlatform(std::make_unique<TPlatform>()) {
  std::wstring folder = Widen(FolderOf(path));
  wchar_t full[32768];
  DWORD size = ::GetFullPathNameW(folder.c_str(), 32768, full, nullptr);
  std::wstring key = size ? std::wstring(full, size) : folder;
  ::CharLowerBuffW(key.data(), static_cast<DWORD>(key.size()));
  uint64_t hash = 1469598103934665603ull;
  for (wchar_t c : key) hash = (hash ^ static_cast<uint16_t>(c)) * 1099511628211ull;
  wchar_t name[64];
  ::swprintf(name, 64, L"Local\\korbenit-file-lock-%016llx", static_cast<unsigned long long>(hash));
  FPlatform->Mutex = ::CreateMutexW(nullptr, FALSE, name);
  if (!FPlatform->Mutex) return;
  DWORD result = ::WaitForSingleObject(FPlatform->Mutex, static_cast<DWORD>(timeout.count()));
  FPlatform->Held = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

bool TFileLock::Held() const {
  return FPlatform->Held;
}

TFileLock::~TFileLock() = default;

}  // namespace korbenit
