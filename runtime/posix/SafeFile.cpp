#include "../SafeFile.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "../RuntimeErrors.h"

namespace korbenit {
namespace safe_file_seam {
TCreateTemporary CreateTemporary = [](char* pattern) { return ::mkostemp(pattern, O_CLOEXEC); };
}  // namespace safe_file_seam

namespace {

std::string TemporaryPattern(const std::string& path) {
  auto slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  return folder + "." + name + ".XXXXXX";
}

// What a newly created file would get: everything the umask allows.
mode_t NewFileMode() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

bool RefusedByFolder(int error) { return error == EACCES || error == EPERM || error == EROFS; }

}  // namespace

TReplacingFile::TReplacingFile(std::string path, TFallback fallback) : FPath(std::move(path)) {
  std::string pattern = TemporaryPattern(FPath);
  FHandle = safe_file_seam::CreateTemporary(pattern.data());
  if (FHandle >= 0) {
    FTemporary = pattern;
    struct stat existing {};
    ::fchmod(FHandle, ::stat(FPath.c_str(), &existing) == 0 ? existing.st_mode & 07777
                                                           : NewFileMode());
    return;
  }
  int error = errno;
  if (fallback == TFallback::InPlace && RefusedByFolder(error)) {
    FHandle = ::open(FPath.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    FInPlace = FHandle >= 0;
  }
  if (FHandle < 0) throw EFCreateError(FPath);
}

TReplacingFile::~TReplacingFile() { Discard(); }

void TReplacingFile::Discard() noexcept {
  if (FHandle >= 0) ::close(FHandle);
  FHandle = -1;
  if (!FCommitted && !FTemporary.empty()) ::unlink(FTemporary.c_str());
  FTemporary.clear();
}

void TReplacingFile::Write(const void* data, std::size_t size) {
  const char* bytes = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < size) {
    ssize_t written = ::write(FHandle, bytes + done, size - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) throw EWriteError();
    done += static_cast<std::size_t>(written);
  }
}

void TReplacingFile::Commit() {
  // The content reaches the disk before it takes the old file's name, so a crash leaves
  // one whole file or the other.
  if (::fsync(FHandle) != 0 && !FInPlace) throw EWriteError();
  if (::close(FHandle) != 0 && !FInPlace) {
    FHandle = -1;
    throw EWriteError();
  }
  FHandle = -1;
  if (!FInPlace && ::rename(FTemporary.c_str(), FPath.c_str()) != 0) throw EWriteError();
  FCommitted = true;
  FTemporary.clear();
}

}  // namespace korbenit
