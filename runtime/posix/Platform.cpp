// The runtime's hooks on POSIX.
#include <fcntl.h>
#include <limits.h>
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
  info.Size = static_cast<unsigned long long>(status.st_size);
  info.ReadOnly =
      S_ISREG(status.st_mode) &&
      ((status.st_mode & 0222) == 0 || ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0);
  return 0;
}

std::string SystemErrorText(int systemError) {
  return std::strerror(systemError);
}

bool NameTooLongForFiles(const std::string& path) {
  auto slash = path.rfind('/');
  std::size_t name = slash == std::string::npos ? path.size() : path.size() - slash - 1;
  return name > NAME_MAX || path.size() >= PATH_MAX;
}

int MayCreateFilesIn(const std::string& folder) {
  return ::access(folder.c_str(), W_OK | X_OK) == 0 ? 0 : errno;
}

int StreamErrorNumber() {
  return errno != 0 ? errno : EIO;
}

}  // namespace korbenit
