// The program's places on Windows.
#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>

#include "../ProgramPlaces.h"
#include "RuntimePlatform.h"
#include "windows/WideText.h"

namespace korbenit {
namespace {

std::string KnownFolder(REFKNOWNFOLDERID id) {
  wchar_t* path = nullptr;
  std::string folder;
  if (SUCCEEDED(::SHGetKnownFolderPath(id, 0, nullptr, &path))) folder = Narrow(path);
  ::CoTaskMemFree(path);
  return folder;
}

std::string ExecutableFolder() {
  std::wstring path(32768, L'\0');
  DWORD size = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(size);
  return Narrow(path.substr(0, path.find_last_of(L"\\/")));
}

bool Within(const std::string& path, const std::string& folder) {
  if (folder.empty() || path.size() < folder.size()) return false;
  auto lower = [](std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](char c) {
      return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    });
    return text;
  };
  std::string head = lower(path.substr(0, folder.size()));
  return head == lower(folder) && (path.size() == folder.size() || path[folder.size()] == '\\');
}

// A portable copy: a folder this user may write that is none of the system's program
// folders (an administrator may write those too, and an installed program never writes
// beside itself).
bool IsPortableCopyFolder(const std::string& folder) {
  for (auto id : {FOLDERID_ProgramFiles, FOLDERID_ProgramFilesX86, FOLDERID_Windows})
    if (Within(folder, KnownFolder(id))) return false;
  return MayCreateFilesIn(folder) == 0;
}

bool IsOwnFolderOrMissing(const std::string& path) {
  TPathInfo info;
  return LookAtPath(path, true, info) != 0 || info.IsFolder;
}

}  // namespace

TProgramPlaces ThisProgramsPlaces() {
  std::string folder = ExecutableFolder();
  std::string pictures = KnownFolder(FOLDERID_Pictures);
  return ProgramPlacesFor(folder, IsPortableCopyFolder(folder),
                          KnownFolder(FOLDERID_RoamingAppData) + "\\Korbenit Screenshot", pictures,
                          IsOwnFolderOrMissing(pictures + "\\Korbenit"), '\\');
}

}  // namespace korbenit
