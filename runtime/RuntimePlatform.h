#pragma once

// Everything this library asks of the operating system, in one list; each platform
// provides it in its own folder (runtime/posix/, runtime/windows/):
// - the file writer, the settings' reads and locks (SafeFile.h);
// - the hooks below.
#include <ctime>
#include <string>

#include "Failure.h"

namespace korbenit {

// The failure kind of a system error number met on a file; otherwise when the number
// says nothing more particular (a refused folder, a missing one).
TFailureKind FileFailureKind(int systemError, TFailureKind otherwise);

// The local calendar time of a moment, safe on any thread.
std::tm LocalTime(std::time_t when);

// What is at a path, as far as this process may see; 0, or the system's error number
// (missing, not allowed to look) with SystemErrorText's words for it.
struct TPathInfo {
  bool IsFolder = false;
  bool ReadOnly = false;  // a file nobody may write, or this process may not
  unsigned long long Size = 0;
};
int LookAtPath(const std::string& path, bool followLinks, TPathInfo& info);
std::string SystemErrorText(int systemError);

// Whether this process may make files in a folder: 0, or the system's error number.
int MayCreateFilesIn(const std::string& folder);

// Whether a name is longer than files may have (a component, or the whole path).
bool NameTooLongForFiles(const std::string& path);

// The system's error number of the last failed write to a C or C++ standard stream.
int StreamErrorNumber();

}  // namespace korbenit
