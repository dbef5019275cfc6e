// The runtime's hooks on POSIX.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "../RuntimePlatform.h"

namespace korbenit {

TFailureKind FileFailureKind(int systemError, TFailureKind otherwise) {
  switch (systemError) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return TFailureKind::DiskFull;
    case ENAMETOOLONG:
      return TFailureKind::NameTooLong;
    case EROFS:
      return TFailureKind::ReadOnly;
    default:
      return otherwise;
  }
}

std::tm LocalTime(std::time_t when) {
  std::tm local{};
  ::localtime_r(&when, &local);
  return local;
}

int LookAtPath(const std::string& path, bool followLinks, TPathInfo& info) {
  struct stat status {};
  int result = followLinks ? ::stat(path.c_str(), &status) : ::lstat(path.c_str(), &status);
  if (result != 0) return errno;
  info.IsFolder = S_ISDIR(status.st_mode);
  return 0;
}

std::string SystemErrorText(int systemError) {
  return std::strerror(systemError);
}

int MayCreateFilesIn(const std::string& folder) {
  return ::access(folder.c_str(), W_OK | X_OK) == 0 ? 0 : errno;
}

}  // namespace korbenit
