// The runtime's hooks on Windows: error numbers are GetLastError's.
#include <windows.h>

#include <cerrno>
#include <cstdlib>

#include "../RuntimePlatform.h"
#include "WideText.h"

namespace korbenit {

TFailureKind FileFailureKind(int systemError, TFailureKind otherwise) {
  switch (systemError) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_FILE_TOO_LARGE:
      return TFailureKind::DiskFull;
    case ERROR_FILENAME_EXCED_RANGE:
      return TFailureKind::NameTooLong;
    case ERROR_WRITE_PROTECT:
      return TFailureKind::ReadOnly;
    default:
      return otherwise;
  }
}

std::tm LocalTime(std::time_t when) {
  std::tm local{};
  ::localtime_s(&local, &when);
  return local;
}

int LookAtPath(const std::string& path, bool, TPathInfo& info) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(FilePath(path).c_str(), GetFileExInfoStandard, &data))
    return static_cast<int>(::GetLastError());
  info.IsFolder = data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
  info.ReadOnly = !info.IsFolder && (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY);
  info.Size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return 0;
}

std::string SystemErrorText(int systemError) {
  wchar_t* text = nullptr;
  DWORD size = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(systemError), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
      reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (size == 0)
    size = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(systemError), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = size ? std::wstring(text, size) : L"";
  if (text) ::LocalFree(text);
  while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' ||
                              message.back() == L'.' || message.back() == L' '))
    message.pop_back();
  return message.empty() ? "error " + std::to_string(systemError) : Narrow(message);
}

bool NameTooLongForFiles(const std::string& path) {
  std::wstring wide = Widen(path);
  auto separator = wide.find_last_of(L"\\/");
  std::size_t name = separator == std::wstring::npos ? wide.size() : wide.size() - separator - 1;
  return name > 255 || wide.size() >= 32000;
}

// Whether a file can be made there is what making one says: access lists decide it, and
// the C runtime's access() does not know them.
int MayCreateFilesIn(const std::string& folder) {
  std::wstring probe = FilePath(folder + "\\.kb-probe-" + std::to_string(::GetCurrentProcessId()));
  HANDLE file = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return static_cast<int>(::GetLastError());
  ::CloseHandle(file);
  return 0;
}

// The C runtime keeps its own number beside the system's; the common ones are mapped
// back, the rest taken as the system gave them.
int StreamErrorNumber() {
  switch (errno) {
    case ENOSPC:
      return ERROR_DISK_FULL;
    case EPIPE:
      return ERROR_NO_DATA;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    default:
      return _doserrno != 0 ? static_cast<int>(_doserrno) : ERROR_WRITE_FAULT;
  }
}

}  // namespace korbenit
